// A site's checks as the fields of its dialog hold them, and back: the dialog's rules, with no
// window involved. The settings' own reader judges every field, so the dialog accepts exactly
// what the settings file and the pipe accept.
#pragma once

#include "settings/sitechecks.h"

#include <optional>
#include <string>

// The fields as typed. Empty number fields stand for the defaults: status 200, 12 redirects,
// the general certificate days, no slow limit.
struct SiteCheckFields {
    std::string Statuses;
    std::string Redirects;
    std::string Contains;
    std::string Lacks;
    bool Stay = false;
    std::string CertDays;
    std::string SlowMs;
    bool operator==(const SiteCheckFields&) const = default;
};

enum class SiteCheckField { Statuses, Redirects, Contains, Lacks, CertDays, SlowMs };

struct SiteCheckProblem {
    SiteCheckField Field = SiteCheckField::Statuses;
    std::string Text; // in the reader's words
};

// The fields that show these checks.
SiteCheckFields FieldsFor(const SiteChecks& checks);

// What a site's dialog shows of a stored value: its fields, and when the value does not read
// (an old file, a hand edit), the note that says so; the fields then show the defaults.
struct SiteChecksView {
    SiteCheckFields Fields;
    std::string Note;
};
SiteChecksView ViewOfStoredChecks(const std::string& stored);

// The value the dialog's OK stores: the stored one when no field changed from what the view
// showed (an unreadable value stays as it stands), else the fields' checks as the settings
// write them; nullopt with the first field that does not read, and why.
std::optional<std::string> ChecksOnOk(const std::string& stored, const SiteCheckFields& shown,
                                      const SiteCheckFields& fields, SiteCheckProblem& problem);

// Every plain setting of the record in one row: where the file keeps it, its field on the control
// pipe, its default, its range and what a file's value out of range becomes. The loader, the
// saver, the rules and the pipe all read this table, so a new plain setting is a member of
// CUserSettings, a row here and its control in the dialog.
//
// What is no plain setting keeps its own code: the URL list and its checks, the password's
// protection in the file and on the pipe, the empty benchmark that takes the default.
#pragma once

#include "settings/cusersettings.h"
#include "settings/settingsrules.h"

#include <cstdint>
#include <string>
#include <vector>

enum class SettingKind {
    Text,
    Flag,   // 1 or 0 in the file and on the pipe; any whole number other than 0 reads as true
    Number, // a whole number, decimal or 0x hexadecimal
    Secret, // a text with the rules of texts, whose file and pipe forms are the password's own
};

// What a number read from the file becomes when it is outside its range. The rules refuse such
// a number from the dialog and the pipe, unless it is Kept.
enum class SettingFit {
    Nearest,         // the nearest limit
    ZeroOrNearest,   // 0 or less: 0, which the rules allow as "off"; above: the nearest limit
    NegativeDefault, // below 0: the default; above: the nearest limit
    Default,         // the default: no value is near another
    Kept,            // kept as read, its user acts on a value without a meaning
};

struct SettingRow {
    SettingKind Kind = SettingKind::Text;
    const char* Section = "";
    const char* Key = "";
    // The field on the control pipe; nullptr: the pipe does not carry the setting.
    const char* PipeField = nullptr;
    std::string CUserSettings::*Text = nullptr;
    std::int32_t CUserSettings::*Number = nullptr;
    bool CUserSettings::*Flag = nullptr;
    const char* TextDefault = "";
    std::int32_t Default = 0; // of a number, and of a flag as 1 or 0
    SettingRange Range{0, 0};
    SettingFit Fit = SettingFit::Nearest;
    // The setting in the rules' words; a number's refusal reads What " must be " range Unit ".".
    const char* What = "";
    const char* Unit = "";
    // How the loader's notes name it where the key alone is not clear; nullptr: the key.
    const char* NoteName = nullptr;
    // The value of the policy key (settings/policy.h) that sets it over the file; nullptr: no
    // policy sets it.
    const char* Policy = nullptr;
};

// The rows in the order the file has always held them.
const std::vector<SettingRow>& SettingRows();

// A number's value the rules accept.
bool SettingAllows(const SettingRow& row, std::int32_t value);
// What a number the rules do not allow becomes, as the row's Fit says; an allowed one stays.
std::int32_t SettingFitted(const SettingRow& row, std::int32_t value);
// The name CUserSettings::Enforced gives the row: its pipe field, or for a row the pipe does
// not carry its key in lower case.
std::string EnforcedName(const SettingRow& row);

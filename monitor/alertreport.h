// The alert mail's content: which values go into the SMTP client and its message, and how the
// date and time text is formed. Free of any socket or window so that both builds test it.
#pragma once

#include "net/mailassembly.h"

#include <cstdint>
#include <string>

class CUserSettings;

// What the mail thread needs of the settings, copied when the thread is started, so that the
// settings dialog can change the record while the mail is under way.
struct MailSettingsCopy {
    std::string Server;
    int Port = 0;
    std::string UserID;
    std::string From;
    std::string To;
    std::int32_t Security = 0;
    // For the login over an encrypted connection only: never part of a text the mail thread
    // writes (MailFailureLine masks it, should a server echo it).
    std::string Pass;
};

MailSettingsCopy CopyMailSettings(const CUserSettings& settings);

// The short date, a blank and the long time; at exactly midnight the date alone.
std::string DateTimeText(const std::string& shortDate, const std::string& longTime, bool midnight);

// Warnings: a mail of warnings alone (the sites are all up).
enum class AlertKind { SitesDown, BackUp, Warnings };

// The time and identity one mail carries.
struct MailStamp {
    std::string Local;     // the body's last line, in the system's format, for the reader
    std::string Date;      // the Date header, in the form mail servers expect
    std::string MessageId; // with its angle brackets
};

// Fills the assembly and its message, in the order the mail thread sets them. The text is the
// report (the sites down), the sites that answer again for a "sites back up" mail, or the
// warnings for a mail of warnings; each holds one site per line. The other parts of the cycle's
// one mail follow under their own headings: a report's sites back up (backUp), the warnings of a
// report or of a "sites back up" mail, and the notes (a site flapping, this computer's link back
// after an outage) of any kind.
void ComposeStatusMail(TMailAssembly& mail, const MailSettingsCopy& settings,
                       const std::string& text, const MailStamp& stamp,
                       AlertKind kind = AlertKind::SitesDown, const std::string& warnings = {},
                       const std::string& backUp = {}, const std::string& notes = {});

// The log line of a mail that was not delivered: the reason on one line.
std::string MailFailureLine(const MailSettingsCopy& settings, const std::string& reason);

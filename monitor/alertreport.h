// The alert mail's content: which values go into the SMTP client and its message, and how the
// date and time text is formed. Free of any socket or window so that both builds test it.
#pragma once

#include "net/mailassembly.h"

#include <functional>
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
};

MailSettingsCopy CopyMailSettings(const CUserSettings& settings);

// The short date, a blank and the long time; at exactly midnight the date alone.
std::string DateTimeText(const std::string& shortDate, const std::string& longTime, bool midnight);

// Fills the assembly and its message with the report, in the order the mail thread sets them.
// now() is read twice: once for the body's last line, once for the Date header.
void ComposeStatusMail(TMailAssembly& mail, const MailSettingsCopy& settings,
                       const std::string& report, const std::function<std::string()>& now);

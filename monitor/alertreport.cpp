#include "monitor/alertreport.h"

#include "base/product.h"
#include "settings/cusersettings.h"

MailSettingsCopy CopyMailSettings(const CUserSettings& settings) {
    return {settings.Server, settings.Port,     settings.UserID, settings.From,
            settings.To,     settings.Security, settings.Pass};
}

std::string DateTimeText(const std::string& shortDate, const std::string& longTime, bool midnight) {
    if (midnight)
        return shortDate;
    return shortDate + " " + longTime;
}

void ComposeStatusMail(TMailAssembly& mail, const MailSettingsCopy& settings,
                       const std::string& text, const MailStamp& stamp, AlertKind kind,
                       const std::string& warnings, const std::string& backUp,
                       const std::string& notes) {
    mail.SubType = mtPlain;
    mail.EncodeType = uuMime;
    TPostMessage& message = *mail.PostMessage;
    message.FromAddress = settings.From;
    message.FromName = BrandName;
    message.ToAddress.SetText(settings.To);
    message.ToCarbonCopy.Clear();
    message.ToBlindCarbonCopy.Clear();
    const auto part = [&](const std::string& heading, const std::string& lines) {
        const std::string rule(heading.size(), '-');
        message.Body.Add(heading);
        message.Body.Add(rule);
        message.Body.Add(lines);
        message.Body.Add(rule);
    };
    if (kind == AlertKind::BackUp)
        part("Sites back up ....", text);
    else if (kind == AlertKind::Warnings)
        part("Warnings ....", text);
    else
        part("Sites down ....", text);
    if (kind == AlertKind::SitesDown && !backUp.empty())
        part("Sites back up ....", backUp);
    if (kind != AlertKind::Warnings && !warnings.empty())
        part("Warnings ....", warnings);
    if (!notes.empty())
        part("Notes ....", notes);
    message.Body.Add(std::string(BrandName) + " - " + stamp.Local);
    message.Attachments.Clear();
    message.Subject = std::string(BrandName) + " Status";
    message.LocalProgram = "sentrel.exe";
    message.Date = stamp.Date;
    message.MessageId = stamp.MessageId;
    message.ReplyTo.clear();
}

std::string MailFailureLine(const MailSettingsCopy& settings, const std::string& reason) {
    // Server replies may span lines; the log keeps one event per line.
    std::string flat;
    for (char c : reason)
        flat += c == '\r' || c == '\n' ? ' ' : c;
    const size_t first = flat.find_first_not_of(' ');
    const size_t last = flat.find_last_not_of(' ');
    flat = first == std::string::npos ? "no reason given" : flat.substr(first, last - first + 1);
    // The log is read by people the password is not for.
    // Searching on after each mask: a password of asterisks must not be found in its own mask.
    const std::string mask = "********";
    if (!settings.Pass.empty())
        for (size_t at = 0; (at = flat.find(settings.Pass, at)) != std::string::npos;
             at += mask.size())
            flat.replace(at, settings.Pass.size(), mask);
    return "Mail not sent through " + settings.Server + ":" + std::to_string(settings.Port) + ": " +
           flat;
}

#include "monitor/alertreport.h"

#include "base/product.h"
#include "settings/cusersettings.h"

MailSettingsCopy CopyMailSettings(const CUserSettings& settings) {
    MailSettingsCopy copy;
    copy.Server = settings.Server;
    copy.Port = settings.Port;
    copy.UserID = settings.UserID;
    copy.From = settings.From;
    copy.To = settings.To;
    return copy;
}

std::string DateTimeText(const std::string& shortDate, const std::string& longTime, bool midnight) {
    if (midnight)
        return shortDate;
    return shortDate + " " + longTime;
}

void ComposeStatusMail(TMailAssembly& mail, const MailSettingsCopy& settings,
                       const std::string& report, const std::function<std::string()>& now) {
    mail.SubType = mtPlain;
    mail.EncodeType = uuMime;
    TPostMessage& message = *mail.PostMessage;
    message.FromAddress = settings.From;
    message.FromName = BrandName;
    message.ToAddress.SetText(settings.To);
    message.ToCarbonCopy.Clear();
    message.ToBlindCarbonCopy.Clear();
    message.Body.Add("Sites down ....");
    message.Body.Add("---------------");
    message.Body.Add(report);
    message.Body.Add("---------------");
    message.Body.Add(std::string(BrandName) + " - " + now());
    message.Attachments.Clear();
    message.Subject = std::string(BrandName) + " Status";
    message.LocalProgram = "sentrel.exe";
    message.Date = now();
    message.ReplyTo.clear();
}

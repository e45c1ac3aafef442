// What the alert mail says, assembled without any socket.
#include "monitor/alertreport.h"

#include "settings/cusersettings.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string bodyOf(TMailAssembly& mail) {
    std::string text(static_cast<size_t>(mail.BodyStream->Size()), '\0');
    mail.BodyStream->SetPosition(0);
    mail.BodyStream->Read(text.data(), static_cast<std::int32_t>(text.size()));
    return text;
}

MailSettingsCopy settings() {
    CUserSettings record;
    record.Server = "127.0.0.1";
    record.Port = 2525;
    record.UserID = "desk";
    record.From = "watch@example.com";
    record.To = "ops@example.com";
    record.Pass = "never sent";
    return CopyMailSettings(record);
}

TEST(AlertReport, TwoFailedUrlsGiveTheSevenLineBodyAndTheHeader) {
    TMailAssembly mail;
    mail.SubType = mtHtml; // the report is plain text whatever was there before
    int readings = 0;
    ComposeStatusMail(mail, settings(), "http://a.example/\r\nhttp://b.example/",
                      [&] { return "when" + std::to_string(++readings); });
    mail.AssembleMail();
    EXPECT_EQ(readings, 2);
    EXPECT_EQ(bodyOf(mail), "Sites down ....\r\n"
                            "---------------\r\n"
                            "http://a.example/\r\n"
                            "http://b.example/\r\n"
                            "---------------\r\n"
                            "Pelorin - when1\r\n");
    EXPECT_EQ(mail.FinalHeader->Text(), "From: Pelorin<watch@example.com>\r\n"
                                        "To: ops@example.com\r\n"
                                        "Subject: Pelorin Status\r\n"
                                        "X-Mailer: sentrel.exe\r\n"
                                        "Date: when2\r\n"
                                        "Mime-Version: 1.0\r\n"
                                        "Content-Type: text/plain; charset=us-ascii\r\n");
}

TEST(AlertReport, EmptyToGivesNoRecipientAndLeftoversAreCleared) {
    TMailAssembly mail;
    mail.PostMessage->ToCarbonCopy.Add("old@example.com");
    mail.PostMessage->Attachments.Add("old.bin");
    mail.PostMessage->ReplyTo = "old@example.com";
    MailSettingsCopy s = settings();
    s.To.clear();
    ComposeStatusMail(mail, s, "http://a.example/", [] { return std::string("t"); });
    EXPECT_EQ(mail.PostMessage->ToAddress.Count(), 0);
    EXPECT_EQ(mail.PostMessage->ToCarbonCopy.Count(), 0);
    EXPECT_EQ(mail.PostMessage->Attachments.Count(), 0);
    EXPECT_EQ(mail.PostMessage->ReplyTo, "");
}

TEST(AlertReport, DateTimeTextLeavesOutMidnight) {
    EXPECT_EQ(DateTimeText("12/8/2026", "3:04:05 PM", false), "12/8/2026 3:04:05 PM");
    EXPECT_EQ(DateTimeText("12/8/2026", "12:00:00 AM", true), "12/8/2026");
}

} // namespace

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

const MailStamp stamp{"12/8/2026 9:20:01 AM", "Tue, 08 Dec 2026 09:20:01 +0100",
                      "<1a.2b@desk.example>"};

TEST(AlertReport, TwoFailedUrlsGiveTheSevenLineBodyAndTheHeader) {
    TMailAssembly mail;
    mail.SubType = mtHtml; // the report is plain text whatever was there before
    ComposeStatusMail(mail, settings(), "http://a.example/\r\nhttp://b.example/", stamp);
    mail.AssembleMail();
    EXPECT_EQ(bodyOf(mail), "Sites down ....\r\n"
                            "---------------\r\n"
                            "http://a.example/\r\n"
                            "http://b.example/\r\n"
                            "---------------\r\n"
                            "Pelorin - 12/8/2026 9:20:01 AM\r\n");
    EXPECT_EQ(mail.FinalHeader->Text(), "From: Pelorin<watch@example.com>\r\n"
                                        "To: ops@example.com\r\n"
                                        "Subject: Pelorin Status\r\n"
                                        "X-Mailer: sentrel.exe\r\n"
                                        "Date: Tue, 08 Dec 2026 09:20:01 +0100\r\n"
                                        "Message-ID: <1a.2b@desk.example>\r\n"
                                        "Mime-Version: 1.0\r\n"
                                        "Content-Type: text/plain; charset=us-ascii\r\n");

    TMailAssembly back;
    ComposeStatusMail(back, settings(), "http://a.example/", stamp, AlertKind::BackUp);
    back.AssembleMail();
    EXPECT_EQ(bodyOf(back), "Sites back up ....\r\n"
                            "------------------\r\n"
                            "http://a.example/\r\n"
                            "------------------\r\n"
                            "Pelorin - 12/8/2026 9:20:01 AM\r\n");
    EXPECT_EQ(back.PostMessage->Subject, "Pelorin Status");

    // One cycle's one mail: the sites back up, the warnings and the notes under their headings.
    TMailAssembly all;
    ComposeStatusMail(all, settings(), "http://a.example/", stamp, AlertKind::SitesDown,
                      "http://c.example/: expires soon", "http://b.example/", "a note");
    all.AssembleMail();
    EXPECT_EQ(bodyOf(all), "Sites down ....\r\n---------------\r\nhttp://a.example/\r\n"
                           "---------------\r\n"
                           "Sites back up ....\r\n------------------\r\nhttp://b.example/\r\n"
                           "------------------\r\n"
                           "Warnings ....\r\n-------------\r\nhttp://c.example/: expires soon\r\n"
                           "-------------\r\n"
                           "Notes ....\r\n----------\r\na note\r\n----------\r\n"
                           "Pelorin - 12/8/2026 9:20:01 AM\r\n");
}

TEST(AlertReport, FailureLineIsOneLineNamingTheServer) {
    EXPECT_EQ(MailFailureLine(settings(), "550 no such user\r\n550 really\r\n"),
              "Mail not sent through 127.0.0.1:2525: 550 no such user  550 really");
    EXPECT_EQ(MailFailureLine(settings(), "\r\n"),
              "Mail not sent through 127.0.0.1:2525: no reason given");
}

TEST(AlertReport, EmptyToGivesNoRecipientAndLeftoversAreCleared) {
    TMailAssembly mail;
    mail.PostMessage->ToCarbonCopy.Add("old@example.com");
    mail.PostMessage->Attachments.Add("old.bin");
    mail.PostMessage->ReplyTo = "old@example.com";
    MailSettingsCopy s = settings();
    s.To.clear();
    ComposeStatusMail(mail, s, "http://a.example/", stamp);
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

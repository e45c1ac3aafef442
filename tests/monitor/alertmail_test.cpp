// The alert mail on its own thread, against a scripted SMTP peer on loopback, driven by a real
// check cycle or by the form's call directly.
#include "monitor/alertmail_win.h"

#include "fixtures/smtp_peer_win.h"
#include "monitor/checkcycle.h"
#include "recording_host.h"
#include "settings/cusersettings.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr int TestClientTimeOut = 10000;

CUserSettings mailSettings(const SmtpPeer& peer) {
    CUserSettings s;
    s.Server = "127.0.0.1";
    s.Port = peer.Port();
    s.From = "watch@example.com";
    s.To = "ops@example.com";
    s.Pass = "secret";
    s.Active = true;
    return s;
}

// The cycle's host as the main form is: probes from a table, reports to the alert mail.
struct MailingHost : RecordingHost {
    MailingHost(TAlertMail& mail, const CUserSettings& settings) : mail(mail), settings(settings) {}
    void SendAlertMail(const CycleMail& cycleMail) override {
        RecordingHost::SendAlertMail(cycleMail);
        mail.SendCycleMail(cycleMail, settings);
    }
    TAlertMail& mail;
    const CUserSettings& settings;
};

// A scripted peer, and an alert mail with settings that send to it.
class AlertMail : public ::testing::Test {
protected:
    SmtpPeer peer;
    TAlertMail mail{TestClientTimeOut};
    CUserSettings settings = mailSettings(peer);
};

std::string afterData(const std::string& transcript) {
    const size_t start = transcript.find("DATA\r\n");
    return start == std::string::npos ? "" : transcript.substr(start + 6);
}

TEST_F(AlertMail, CycleWithSitesDownMailsTheReport) {
    settings.Benchmark = "bench.example";
    settings.AddUrl("http://a.example/");
    settings.AddUrl("http://b.example/");
    settings.AddUrl("http://up.example/");
    MailingHost host(mail, settings);
    host.up = {{"http://bench.example", true}, {"http://up.example/", true}};
    CheckSites(settings, host);
    ASSERT_TRUE(mail.WaitForMail(20000));
    ASSERT_TRUE(peer.WaitSessions(1));

    const std::string t = peer.Transcript();
    EXPECT_EQ(t.substr(0, t.find("DATA\r\n")), "HELO \r\nRSET\r\nMAIL FROM:<watch@example.com>\r\n"
                                               "RCPT TO:<ops@example.com>\r\n");
    const std::string data = afterData(t);
    EXPECT_EQ(data.substr(0, data.find("Date: ")), "From: Pelorin<watch@example.com>\r\n"
                                                   "To: ops@example.com\r\n"
                                                   "Subject: Pelorin Status\r\n"
                                                   "X-Mailer: sentrel.exe\r\n");
    const size_t body = data.find("\r\n\r\n\r\n");
    ASSERT_NE(body, std::string::npos);
    const std::string lines = data.substr(body + 6);
    const std::string head = "Sites down ....\r\n---------------\r\nhttp://a.example/\r\n"
                             "http://b.example/\r\n---------------\r\nPelorin - ";
    EXPECT_EQ(lines.substr(0, head.size()), head);
    EXPECT_EQ(lines.substr(lines.size() - 11), "\r\n.\r\nQUIT\r\n");
    EXPECT_EQ(t.find("secret"), std::string::npos);
}

TEST_F(AlertMail, ActiveOffSendsNothing) {
    settings.Active = false;
    settings.Benchmark = "bench.example";
    settings.AddUrl("http://a.example/");
    MailingHost host(mail, settings);
    host.up = {{"http://bench.example", true}};
    CheckSites(settings, host);
    EXPECT_EQ(mail.MailThread(), nullptr);
    EXPECT_EQ(peer.Accepted(), 0);
}

TEST_F(AlertMail, UserIdIsHelosArgument) {
    settings.UserID = "desk-7";
    std::vector<bool> done;
    ASSERT_TRUE(mail.SendStatusMail("http://a.example/", settings, AlertKind::SitesDown,
                                    [&](bool delivered) { done.push_back(delivered); }));
    ASSERT_TRUE(mail.WaitForMail(20000));
    EXPECT_EQ(done, std::vector<bool>{true});
    ASSERT_TRUE(peer.WaitSessions(1));
    EXPECT_EQ(peer.Transcript().substr(0, 13), "HELO desk-7\r\n");
}

// The failure lines a TAlertMail gives, read once its thread has ended.
struct FailureLines {
    std::vector<std::string> lines;
    explicit FailureLines(TAlertMail& mail) {
        mail.OnMailFailed = [this](const std::string& line) { lines.push_back(line); };
    }
};

TEST_F(AlertMail, UndeliveredMailLeavesOneLineWithTheReasonAndNoPassword) {
    peer.Script("MAIL", {"550 5.7.1 sender refused\r\n"});
    FailureLines failures(mail);
    std::vector<bool> done;
    ASSERT_TRUE(mail.SendStatusMail("http://a.example/", settings, AlertKind::SitesDown,
                                    [&](bool delivered) { done.push_back(delivered); }));
    ASSERT_TRUE(mail.WaitForMail(20000));
    EXPECT_EQ(done, std::vector<bool>{false}); // the policy hears of it and sends again
    const std::string where = "Mail not sent through 127.0.0.1:" + std::to_string(peer.Port());
    EXPECT_EQ(failures.lines, std::vector<std::string>{where + ": 550 5.7.1 sender refused"});

    // A Security value the client does not know sends nothing at all, not plain text; a
    // password a server echoes back never reaches the log.
    failures.lines.clear();
    settings.Security = 7;
    ASSERT_TRUE(mail.SendStatusMail("http://a.example/", settings));
    ASSERT_TRUE(mail.WaitForMail(20000));
    ASSERT_EQ(failures.lines.size(), 1u);
    EXPECT_EQ(failures.lines[0].rfind(where + ": Security must be", 0), 0u) << failures.lines[0];
    EXPECT_EQ(peer.Accepted(), 1);
    MailSettingsCopy copy = CopyMailSettings(settings);
    copy.Pass = "s3cret";
    EXPECT_EQ(MailFailureLine(copy, "535 bad s3cret\r\n"), where + ": 535 bad ********");
    copy.Pass = "**";
    EXPECT_EQ(MailFailureLine(copy, "535 ** x"), where + ": 535 ******** x");
}

TEST_F(AlertMail, EmptyToGreetsThenClosesWithoutQuit) {
    FailureLines failures(mail); // no recipient: mail is off, not failing
    settings.To.clear();
    ASSERT_TRUE(mail.SendStatusMail("http://a.example/", settings));
    ASSERT_TRUE(mail.WaitForMail(20000));
    DWORD code = 1;
    GetExitCodeThread(mail.MailThread(), &code);
    EXPECT_EQ(code, 0u);
    ASSERT_TRUE(peer.WaitSessions(1));
    EXPECT_EQ(peer.Transcript(), "HELO \r\n");
    EXPECT_TRUE(failures.lines.empty());
}

TEST_F(AlertMail, SecondReportWaitsForTheSlowFirstAndGoesOutSecondWithItsOwnSettings) {
    peer.ReplyDelayMs = 150;
    ASSERT_TRUE(mail.SendStatusMail("http://first.example/", settings));
    settings.To = "changed@example.com"; // the running thread keeps its own copy
    ASSERT_TRUE(mail.SendStatusMail("http://second.example/", settings));
    ASSERT_TRUE(mail.WaitForMail(20000));
    ASSERT_TRUE(peer.WaitSessions(2));
    const std::string first = peer.Transcript(0);
    const std::string second = peer.Transcript(1);
    EXPECT_NE(first.find("http://first.example/"), std::string::npos);
    EXPECT_NE(first.find("RCPT TO:<ops@example.com>"), std::string::npos);
    EXPECT_NE(second.find("http://second.example/"), std::string::npos);
    EXPECT_NE(second.find("RCPT TO:<changed@example.com>"), std::string::npos);
}

TEST(AlertMailLimits,
     MailsWhileOneIsSentWaitWithoutHoldingTheCallerAndTheLatestReplacesTheWaiting) {
    SmtpPeer peer;
    peer.ReplyDelayMs = 300; // a slow server: the first mail takes seconds
    TAlertMail mail(TestClientTimeOut);
    CUserSettings settings = mailSettings(peer);
    std::mutex lock; // the outcomes come on the mail thread, a replaced one's on this one
    std::vector<std::string> done;
    const auto onDone = [&](const char* name) {
        return [&, name](bool delivered) {
            const std::lock_guard<std::mutex> hold(lock);
            done.push_back(name + std::string(delivered ? " sent" : " dropped"));
        };
    };
    ASSERT_TRUE(
        mail.SendStatusMail("http://one.example/", settings, AlertKind::SitesDown, onDone("one")));
    HANDLE first = mail.MailThread();
    const DWORD start = GetTickCount();
    EXPECT_TRUE(
        mail.SendStatusMail("http://two.example/", settings, AlertKind::SitesDown, onDone("two")));
    EXPECT_TRUE(mail.SendStatusMail("http://back.example/", settings, AlertKind::BackUp));
    EXPECT_TRUE(mail.SendStatusMail("http://three.example/", settings, AlertKind::SitesDown,
                                    onDone("three")));
    EXPECT_LT(GetTickCount() - start, 1000u) << "the caller never waits for the mail";
    EXPECT_EQ(mail.MailThread(), first) << "one mail thread";
    ASSERT_TRUE(peer.WaitSessions(3, std::chrono::milliseconds(60000)));
    ASSERT_TRUE(mail.WaitForMail(20000));
    EXPECT_NE(peer.Transcript(0).find("http://one.example/"), std::string::npos);
    EXPECT_NE(peer.Transcript(1).find("http://back.example/"), std::string::npos);
    EXPECT_NE(peer.Transcript(2).find("http://three.example/"), std::string::npos);
    const std::lock_guard<std::mutex> hold(lock);
    EXPECT_EQ(done, (std::vector<std::string>{"two dropped", "one sent", "three sent"}));
}

TEST(AlertMailLimits, UnreachableServerIsDroppedSilently) {
    TAlertMail mail(TestClientTimeOut);
    FailureLines failures(mail);
    CUserSettings settings;
    settings.Server = ""; // no server configured
    settings.Port = 25;
    ASSERT_TRUE(mail.SendStatusMail("http://a.example/", settings));
    ASSERT_TRUE(mail.WaitForMail(20000));
    DWORD code = 1;
    GetExitCodeThread(mail.MailThread(), &code);
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(failures.lines.empty());
}

} // namespace

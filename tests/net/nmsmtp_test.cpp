// The SMTP client against a scripted peer on loopback: what goes over the wire, and how each
// kind of refusal or breakdown ends.
#include "net/nmsmtp_win.h"

#include "fixtures/smtp_peer_win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Generous, so that a broken client fails a test instead of hanging it.
constexpr int TestTimeOut = 10000;

struct Client : TNMSMTP {
    explicit Client(const SmtpPeer& peer) {
        Host = "127.0.0.1";
        Port = peer.Port();
        TimeOut = TestTimeOut;
        UserID = "vigrel";
    }
};

void fillMail(TPostMessage& m) {
    m.FromName = "Pelorin";
    m.FromAddress = "watch@example.com";
    m.ToAddress.Add("ops@example.com");
    m.Subject = "Status";
    m.LocalProgram = "sentrel.exe";
    m.Date = "12/8/2026 10:00:00";
    m.Body.Add("line one");
    m.Body.Add(".dot");
}

std::string messageLines() {
    return "From: Pelorin<watch@example.com>\r\n"
           "To: ops@example.com\r\n"
           "Subject: Status\r\n"
           "X-Mailer: sentrel.exe\r\n"
           "Date: 12/8/2026 10:00:00\r\n"
           "Mime-Version: 1.0\r\n"
           "Content-Type: text/plain; charset=us-ascii\r\n"
           "\r\n"
           "\r\n"
           "line one\r\n"
           "..dot\r\n"
           ".\r\n";
}

std::string raisedBy(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& e) {
        // Only the client's own failures are plain Exception; socket ones derive further.
        if (dynamic_cast<const ESockError*>(&e))
            return "ESockError: " + std::string(e.what());
        return e.what();
    }
    return "(nothing raised)";
}

// What the peer heard, once the client's session has ended.
std::string finishedSession(SmtpPeer& peer) {
    return peer.WaitSessions(1) ? peer.Transcript() : "(session still open)";
}

TEST(SmtpDialogue, OneMailByteForByte) {
    SmtpPeer peer;
    Client client(peer);
    fillMail(*client.PostMessage);
    std::vector<std::string> events;
    client.OnConnect = [&](TPowersock*) { events.push_back("connect"); };
    client.OnSendStart = [&](TPowersock*) { events.push_back("start"); };
    client.OnSuccess = [&](TPowersock*) { events.push_back("success"); };
    client.Connect();
    EXPECT_TRUE(client.Connected);
    client.SendMail();
    client.Disconnect();
    EXPECT_FALSE(client.Connected);
    EXPECT_EQ(finishedSession(peer), "HELO vigrel\r\nRSET\r\nMAIL FROM:<watch@example.com>\r\n"
                                     "RCPT TO:<ops@example.com>\r\nDATA\r\n" +
                                         messageLines() + "QUIT\r\n");
    EXPECT_EQ(events, (std::vector<std::string>{"connect", "start", "success"}));
    EXPECT_FALSE(client.Busy);
}

TEST(SmtpDialogue, EmptyUserIdGreetsWithBareHelo) {
    SmtpPeer peer;
    Client client(peer);
    client.UserID.clear();
    client.Connect();
    client.Disconnect();
    EXPECT_EQ(finishedSession(peer), "HELO \r\nQUIT\r\n");
}

TEST(SmtpDialogue, MultiLineGreetingAndHeloAreReadWhole) {
    SmtpPeer peer;
    peer.Greeting = "220-first\r\n220-second\r\n220 last\r\n";
    peer.Script("HELO", {"250-name\r\n250-SIZE 1000\r\n250 HELP\r\n"});
    peer.Script("QUIT", {"221 bye\r\n"});
    Client client(peer);
    client.Connect();
    client.Disconnect(); // would read a left-over HELO line as QUIT's reply
    EXPECT_EQ(client.ReplyNumber, 221);
    EXPECT_EQ(client.LastReply, "221 bye\r\n");
}

// Every reply is read to its last line, so each command gets its own reply and no other.
TEST(SmtpDialogue, MultiLineRepliesToEveryCommandKeepTheDialogueInStep) {
    SmtpPeer peer;
    peer.Script("RSET", {"250-resetting\r\n250 reset\r\n"});
    peer.Script("MAIL", {"250-sender\r\n250 ok\r\n"});
    peer.Script("RCPT", {"550-no such\r\n550 user\r\n"});
    peer.Script("DATA", {"354-go\r\n354 on\r\n"});
    peer.Script(".", {"250-queued\r\n250 accepted\r\n"});
    Client client(peer);
    fillMail(*client.PostMessage);
    std::vector<std::string> refused;
    client.OnRecipientNotFound = [&](const std::string& r) { refused.push_back(r); };
    client.Connect();
    client.SendMail();
    EXPECT_EQ(client.LastReply, "250-queued\r\n");
    client.Disconnect();
    EXPECT_EQ(client.LastReply, "221 bye\r\n");
    EXPECT_EQ(refused, std::vector<std::string>{"ops@example.com"});
}

TEST(SmtpDialogue, RefusedGreetingQuitsClosesAndRaisesTheLine) {
    for (const char* greeting : {"421 busy, try later\r\n", "554 no service\r\n"}) {
        SmtpPeer peer;
        peer.Greeting = greeting;
        Client client(peer);
        EXPECT_EQ(raisedBy([&] { client.Connect(); }), greeting);
        EXPECT_FALSE(client.Connected);
        EXPECT_FALSE(client.Busy);
        EXPECT_EQ(finishedSession(peer), "QUIT\r\n");
    }
}

TEST(SmtpDialogue, RefusedHeloWithoutHandlerFails) {
    SmtpPeer peer;
    peer.Script("HELO", {"501 bad name\r\n"});
    Client client(peer);
    bool connected = false;
    client.OnConnect = [&](TPowersock*) { connected = true; };
    EXPECT_EQ(raisedBy([&] { client.Connect(); }), "Authentication failed");
    EXPECT_FALSE(client.Connected);
    EXPECT_FALSE(connected);
    EXPECT_EQ(finishedSession(peer), "HELO vigrel\r\nQUIT\r\n");
}

TEST(SmtpDialogue, RefusedHeloIsRetriedOnceAfterTheHandler) {
    {
        SmtpPeer peer;
        peer.Script("HELO", {"501 bad name\r\n", "250 ok\r\n"});
        Client client(peer);
        int asked = 0;
        client.OnAuthenticationFailed = [&](bool& handled) {
            ++asked;
            client.UserID = "other";
            handled = true;
        };
        client.Connect();
        EXPECT_TRUE(client.Connected);
        client.Disconnect();
        EXPECT_EQ(asked, 1);
        EXPECT_EQ(finishedSession(peer), "HELO vigrel\r\nHELO other\r\nQUIT\r\n");
    }
    {
        SmtpPeer peer;
        peer.Script("HELO", {"501 bad name\r\n"});
        Client client(peer);
        int asked = 0;
        client.OnAuthenticationFailed = [&](bool& handled) {
            ++asked;
            handled = true;
        };
        EXPECT_EQ(raisedBy([&] { client.Connect(); }), "Authentication failed");
        EXPECT_EQ(asked, 1);
        EXPECT_EQ(finishedSession(peer), "HELO vigrel\r\nHELO vigrel\r\nQUIT\r\n");
    }
}

TEST(SmtpSendMail, IncompleteHeaderBeforeAnyCommand) {
    SmtpPeer peer;
    Client client(peer);
    fillMail(*client.PostMessage);
    client.PostMessage->FromAddress.clear();
    client.Connect();
    EXPECT_EQ(raisedBy([&] { client.SendMail(); }), "Incomplete Header");
    EXPECT_FALSE(client.Busy);

    // A handler that repairs the sender gets one chance; one that does not, none more.
    int types = 0;
    client.OnHeaderIncomplete = [&](bool& handled, int hiType) {
        types = types * 10 + hiType;
        handled = true;
    };
    EXPECT_EQ(raisedBy([&] { client.SendMail(); }), "Incomplete Header");
    client.PostMessage->FromAddress = "watch@example.com";
    client.PostMessage->ToAddress.Clear();
    EXPECT_EQ(raisedBy([&] { client.SendMail(); }), "Incomplete Header");
    EXPECT_EQ(types, 12);
    client.Disconnect();
    EXPECT_EQ(finishedSession(peer), "HELO vigrel\r\nQUIT\r\n");
}

TEST(SmtpSendMail, RecipientFormsAndOneRefusal) {
    SmtpPeer peer;
    peer.Script("RCPT", {"250 ok\r\n", "550 no such user\r\n", "250 ok\r\n"});
    Client client(peer);
    fillMail(*client.PostMessage);
    TPostMessage& m = *client.PostMessage;
    m.ToAddress.Clear();
    m.ToAddress.Add("Ops Desk <ops@example.com>");
    m.ToCarbonCopy.Add("SMTP:nobody@example.com");
    m.ToBlindCarbonCopy.Add("boss@example.com");
    std::vector<std::string> refused;
    client.OnRecipientNotFound = [&](const std::string& r) { refused.push_back(r); };
    bool succeeded = false;
    client.OnSuccess = [&](TPowersock*) { succeeded = true; };
    client.Connect();
    client.SendMail();
    client.Disconnect();
    EXPECT_TRUE(succeeded);
    EXPECT_EQ(refused, std::vector<std::string>{"SMTP:nobody@example.com"});
    const std::string t = finishedSession(peer);
    EXPECT_NE(t.find("RCPT TO:<ops@example.com>\r\nRCPT TO:<nobody@example.com>\r\n"
                     "RCPT TO:<boss@example.com>\r\nDATA\r\n"),
              std::string::npos)
        << t;
    EXPECT_NE(t.find("CC: SMTP:nobody@example.com\r\n"), std::string::npos);
    EXPECT_EQ(t.find("\r\nBCC"), std::string::npos);
}

TEST(SmtpSendMail, ExtractAddress) {
    EXPECT_EQ(TNMSMTP::ExtractAddress("Ops <ops@example.com>"), "ops@example.com");
    EXPECT_EQ(TNMSMTP::ExtractAddress("<open@example.com"), "open@example.com");
    EXPECT_EQ(TNMSMTP::ExtractAddress("SMTP:a@example.com"), "a@example.com");
    EXPECT_EQ(TNMSMTP::ExtractAddress(" a@example.com "), " a@example.com ");
    EXPECT_EQ(TNMSMTP::ExtractAddress(""), "");
}

TEST(SmtpSendMail, ClearParamsKeepsBodyAndTexts) {
    SmtpPeer peer;
    Client client(peer);
    fillMail(*client.PostMessage);
    client.PostMessage->ToCarbonCopy.Add("cc@example.com");
    client.Connect();
    client.SendMail();
    client.Disconnect();
    const TPostMessage& m = *client.PostMessage;
    EXPECT_EQ(m.ToAddress.Count(), 0);
    EXPECT_EQ(m.ToCarbonCopy.Count(), 0);
    EXPECT_EQ(m.Attachments.Count(), 0);
    EXPECT_EQ(m.Body.Count(), 2);
    EXPECT_EQ(m.Subject, "Status");
}

TEST(SmtpSendMail, SecondSendFromAHandlerDoesNothing) {
    SmtpPeer peer;
    Client client(peer);
    fillMail(*client.PostMessage);
    int successes = 0;
    client.OnSendStart = [&](TPowersock*) { client.SendMail(); };
    client.OnSuccess = [&](TPowersock*) { ++successes; };
    client.Connect();
    client.SendMail();
    client.Disconnect();
    EXPECT_EQ(successes, 1);
    const std::string t = finishedSession(peer);
    EXPECT_EQ(t.find("RSET"), t.rfind("RSET"));
}

TEST(SmtpSendMail, RefusalsRaiseTheReplyLine) {
    struct Case {
        const char* verb;
        const char* reply;
        const char* lastSent;
    };
    for (const Case& c :
         {Case{"RSET", "421 closing\r\n", "RSET\r\n"},
          Case{"MAIL", "553 bad sender\r\n", "MAIL FROM:<watch@example.com>\r\n"},
          Case{"DATA", "554 no data\r\n", "DATA\r\n"}, Case{".", "552 too big\r\n", ".\r\n"}}) {
        SmtpPeer peer;
        peer.Script(c.verb, {c.reply});
        Client client(peer);
        fillMail(*client.PostMessage);
        bool failed = false;
        bool succeeded = false;
        client.OnFailure = [&](TPowersock*) { failed = true; };
        client.OnSuccess = [&](TPowersock*) { succeeded = true; };
        client.Connect();
        EXPECT_EQ(raisedBy([&] { client.SendMail(); }), c.reply);
        EXPECT_EQ(failed, std::string(c.verb) == ".") << c.verb;
        EXPECT_FALSE(succeeded);
        EXPECT_FALSE(client.Busy);
        EXPECT_EQ(client.PostMessage->ToAddress.Count(), 1) << "recipients kept for a retry";
        client.Disconnect();
        const std::string t = finishedSession(peer);
        const std::string tail = std::string(c.lastSent) + "QUIT\r\n";
        EXPECT_EQ(t.substr(t.size() - tail.size()), tail) << c.verb;
    }
}

TEST(SmtpDisconnect, QuitRepliesAndCancelLeftOver) {
    {
        SmtpPeer peer;
        peer.Script("QUIT", {"500 what\r\n"});
        Client client(peer);
        client.Connect();
        client.Canceled = true; // left over from an earlier failure: QUIT still goes out
        EXPECT_EQ(raisedBy([&] { client.Disconnect(); }), "500 what\r\n");
        EXPECT_FALSE(client.Connected);
        EXPECT_EQ(finishedSession(peer), "HELO vigrel\r\nQUIT\r\n");
    }
    {
        SmtpPeer peer;
        peer.Script("QUIT", {"339 odd but fine\r\n"});
        Client client(peer);
        client.Connect();
        EXPECT_EQ(raisedBy([&] { client.Disconnect(); }), "(nothing raised)");
        // Closing leaves a fresh socket: the same client connects again.
        ASSERT_TRUE(peer.WaitSessions(1));
        client.Connect();
        EXPECT_TRUE(client.Connected);
        client.Disconnect();
    }
}

TEST(SmtpBreakdown, HangupInDataIsAFailureNotASuccess) {
    SmtpPeer peer;
    peer.HangupInData = true;
    Client client(peer);
    fillMail(*client.PostMessage);
    for (int i = 0; i < 2000; ++i) // enough that the rest cannot all sit in the buffers
        client.PostMessage->Body.Add(std::string(60, 'x'));
    bool succeeded = false;
    client.OnSuccess = [&](TPowersock*) { succeeded = true; };
    client.Connect();
    const std::string error = raisedBy([&] { client.SendMail(); });
    EXPECT_NE(error, "(nothing raised)");
    EXPECT_FALSE(succeeded);
    EXPECT_FALSE(client.Busy);
}

TEST(SmtpBreakdown, SilentServerEndsWithinTheTimeOut) {
    SmtpPeer peer;
    peer.Silent = true;
    Client client(peer);
    client.TimeOut = 300;
    const DWORD start = GetTickCount();
    const std::string error = raisedBy([&] { client.Connect(); });
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_EQ(error, "ESockError: Socket readln aborted");
    // Greeting and QUIT each wait one time-out; far below the test's own limit.
    EXPECT_LT(elapsed, 5000u);
    EXPECT_FALSE(client.Connected);
    EXPECT_FALSE(client.Canceled);
}

// Continuation lines that never end: the whole reply has one deadline and a size bound.
TEST(SmtpBreakdown, EndlessGreetingEndsAtTheDeadlineOrTheSizeBound) {
    struct Case {
        int paceMs;
        int timeOut;
        const char* error;
    };
    for (const Case& c : {Case{50, 500, "ESockError: Socket readln aborted"},
                          Case{0, TestTimeOut, "Reply too long"}}) {
        SmtpPeer peer;
        peer.Greeting = "220-hello\r\n";
        peer.EndlessGreetingMs = c.paceMs;
        Client client(peer);
        client.TimeOut = c.timeOut;
        const DWORD start = GetTickCount();
        EXPECT_EQ(raisedBy([&] { client.Connect(); }), c.error);
        EXPECT_LT(GetTickCount() - start, 5000u);
        EXPECT_FALSE(client.Connected);
    }
}

TEST(SmtpQueries, VerifyAndExpandList) {
    SmtpPeer peer;
    peer.Script("VRFY", {"252 cannot verify\r\n", "250 known\r\n"});
    peer.Script("EXPN", {"250-first@example.com\r\n250 second@example.com\r\n", "550 no\r\n"});
    Client client(peer);
    EXPECT_EQ(raisedBy([&] { client.Verify("x"); }), "Not Connected");
    client.Connect();
    EXPECT_FALSE(client.Verify("ops"));
    EXPECT_TRUE(client.Verify("ops"));
    std::vector<std::string> lists;
    client.OnMailListReturn = [&](const std::string& a) { lists.push_back(a); };
    EXPECT_TRUE(client.ExpandList("team"));
    EXPECT_FALSE(client.ExpandList("team"));
    EXPECT_EQ(lists, std::vector<std::string>{"250-first@example.com\r\n"});
    client.Disconnect(); // continuation lines of EXPN were consumed, so QUIT reads its own
    EXPECT_EQ(client.ReplyNumber, 221);
}

} // namespace

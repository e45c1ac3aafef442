// The SMTP client's encrypted sessions and login against real servers on loopback
// (tests/fixtures/smtp_tls_peer.py, certificates of a throwaway authority that trustroot.exe
// made a trusted root of this run's Wine prefix). Each kind of server stores what it accepts
// as KIND-NNN.eml with the login mechanism first in KIND-NNN.env.
#include "net/nmsmtp_win.h"
#include "fixtures/peer_ports.h"
#include "net/tlschannel_win.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>

namespace {

std::string peerPath(const std::string& name) {
    return PeerPath("VIGREL_SMTP_TLS_DIR", name);
}

int peerPort(const std::string& kind) {
    return PeerPort("VIGREL_SMTP_TLS_DIR", kind);
}

bool exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The server answers the end of data only once the files are in place.
std::string firstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

struct Session {
    TNMSMTP client;
    explicit Session(const std::string& kind, int security,
                     const std::string& password = "s3cret") {
        client.Host = "localhost"; // the name the certificates are issued for
        client.Port = peerPort(kind);
        client.TimeOut = 15000;
        client.Security = security;
        client.UserID = "desk";
        client.Password = password;
    }
    void send(const std::string& subject) {
        client.Connect();
        TPostMessage& m = *client.PostMessage;
        m.FromAddress = "watch@example.com";
        m.ToAddress.Add("ops@example.com");
        m.Subject = subject;
        m.Body.Add("Sites failed.");
        client.SendMail();
        client.Disconnect();
    }
    // The text of what Connect raised; empty when it succeeded.
    std::string refusal() {
        try {
            client.Connect();
        } catch (const Exception& e) {
            return e.what();
        }
        client.Disconnect();
        return "";
    }
};

class SmtpTls : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_GT(peerPort("starttls"), 0) << "no server list at " << peerPath("ports");
    }
};

TEST_F(SmtpTls, MailArrivesOverStartTlsAndTlsWithTheOfferedLogin) {
    const struct {
        const char* kind;
        int security;
        const char* mechanism;
    } cases[] = {{"starttls", 1, "PLAIN"},
                 {"loginonly", 1, "LOGIN"},
                 {"tls", 2, "PLAIN"},
                 // The forged line queued behind the 220 is dropped, so the session goes on.
                 {"inject", 1, "PLAIN"}};
    for (const auto& c : cases) {
        Session session(c.kind, c.security);
        ASSERT_NO_THROW(session.send(c.kind)) << c.kind;
        EXPECT_TRUE(session.client.ReplyNumber < 300) << c.kind;
        const std::string base = peerPath(std::string(c.kind) + "-001");
        EXPECT_TRUE(exists(base + ".eml")) << c.kind;
        EXPECT_EQ(firstLine(base + ".env"), c.mechanism) << c.kind;
    }
}

TEST_F(SmtpTls, RefusedSessionsSayWhyAndSendNoMail) {
    const struct {
        const char* kind;
        int security;
        const char* password;
        const char* reason;
    } cases[] = {
        {"nostarttls", 1, "s3cret", "server offers no STARTTLS"},
        {"selfsigned", 1, "s3cret", "certificate not trusted for localhost"},
        {"othername", 1, "s3cret", "certificate is for another name than localhost"},
        {"starttls", 1, "wrong-pw", "535 5.7.8 Authentication credentials invalid\r\n"},
        {"starttls", 3, "s3cret", "Security must be 0 (none), 1 (STARTTLS) or 2 (TLS), not 3"},
    };
    for (const auto& c : cases) {
        Session session(c.kind, c.security, c.password);
        const std::string reason = session.refusal();
        EXPECT_EQ(reason, c.reason) << c.kind;
        EXPECT_EQ(reason.find(c.password), std::string::npos) << c.kind;
        EXPECT_FALSE(session.client.Connected) << c.kind;
    }
    for (const char* kind : {"nostarttls", "selfsigned", "othername"})
        EXPECT_FALSE(exists(peerPath(std::string(kind) + "-001.eml"))) << kind;
}

// The recorder's log once the client has gone; "closed" ends each session.
std::string recorded(const std::string& kind) {
    const std::string path = peerPath(kind + ".log");
    const ULONGLONG deadline = GetTickCount64() + 30000;
    std::string log;
    while (GetTickCount64() < deadline) {
        std::ifstream in(path, std::ios::binary);
        log.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (log.find("closed\n") != std::string::npos)
            break;
        Sleep(50); // polling a file another process writes; bounded by the deadline
    }
    return log;
}

// An impostor with a leaf for the right name from an authority nobody trusts, sent without its
// chain: nothing but the handshake may reach it, least of all the login.
TEST_F(SmtpTls, ImpostorWithoutChainHearsNothingAfterTheHandshake) {
    for (const auto& [kind, security, before] :
         {std::tuple{"partial", 1, "plain: EHLO "}, std::tuple{"partialtls", 2, ""}}) {
        Session session(kind, security);
        EXPECT_EQ(session.refusal(), "certificate not trusted for localhost") << kind;
        const std::string log = recorded(kind);
        EXPECT_NE(log.find("closed\n"), std::string::npos) << kind;
        EXPECT_EQ(log.find("tls: "), std::string::npos) << log;
        EXPECT_EQ(log.find("AUTH"), std::string::npos) << log;
        EXPECT_EQ(log.find("AGRlc2sAczNjcmV0"), std::string::npos) << log; // \0desk\0s3cret
        EXPECT_EQ(log.rfind(before, 0), 0u) << log;
    }
}

TEST_F(SmtpTls, SilentServerTimesOutInTheHandshake) {
    Session session("silent", 2);
    session.client.TimeOut = 2000;
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(session.refusal(), "TLS handshake with localhost timed out");
    EXPECT_LT(GetTickCount64() - start, 20000u);
}

} // namespace

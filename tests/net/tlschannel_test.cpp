// The SChannel session and the certificate check against Python's TLS peers on loopback
// (tests/fixtures/tls_peer.py, started by ctest with certificates of a throwaway authority
// that trustroot.exe made a trusted root of this run's Wine prefix).
#include "net/tlscert_win.h"
#include "net/tlschannel_win.h"

#include "fixtures/loopback_server_win.h"
#include "fixtures/peer_ports.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

namespace {

struct TimedOut : std::runtime_error {
    TimedOut() : std::runtime_error("timed out") {}
};

int peerPort(const std::string& kind) {
    return PeerPort("VIGREL_TLS_PEER_DIR", kind);
}

// A blocking loopback connection whose every receive is bounded by one deadline, as the
// socket client's TimeOut bounds a whole exchange.
class Connection {
public:
    Connection(const std::string& kind, std::chrono::milliseconds budget)
        : deadline_(std::chrono::steady_clock::now() + budget) {
        const int port = peerPort(kind);
        if (port == 0)
            throw std::runtime_error("no TLS peer '" + kind + "'; is the tls_peer fixture up?");
        socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<u_short>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("cannot connect to the TLS peer '" + kind + "'");
    }
    ~Connection() { closesocket(socket_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    TlsTransport Transport() {
        return {[this](const char* data, std::size_t size) {
                    while (size > 0) {
                        const int n = send(socket_, data, static_cast<int>(size), 0);
                        if (n <= 0)
                            throw std::runtime_error("send failed");
                        data += n;
                        size -= static_cast<std::size_t>(n);
                    }
                },
                [this](char* buffer, std::size_t size) -> std::size_t {
                    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline_ - std::chrono::steady_clock::now());
                    if (left.count() <= 0)
                        throw TimedOut();
                    fd_set readable;
                    FD_ZERO(&readable);
                    FD_SET(socket_, &readable);
                    timeval wait{static_cast<long>(left.count() / 1000),
                                 static_cast<long>(left.count() % 1000 * 1000)};
                    if (select(0, &readable, nullptr, nullptr, &wait) <= 0)
                        throw TimedOut();
                    const int n = recv(socket_, buffer, static_cast<int>(size), 0);
                    return n > 0 ? static_cast<std::size_t>(n) : 0;
                }};
    }

private:
    SOCKET socket_ = INVALID_SOCKET;
    std::chrono::steady_clock::time_point deadline_;
};

// Reads plaintext until a line end arrives.
std::string readLine(TTlsChannel& tls) {
    std::string text;
    while (text.find("\r\n") == std::string::npos) {
        const std::string more = tls.ReadSome();
        if (more.empty())
            break;
        text += more;
    }
    return text;
}

class TlsChannel : public ::testing::Test {
protected:
    WinsockSession winsock;
};

TEST_F(TlsChannel, TrustedServerEchoesLinesAndClosesCleanly) {
    Connection connection("trusted", std::chrono::seconds(30));
    TTlsChannel tls(connection.Transport());
    tls.Handshake("localhost");
    EXPECT_EQ(VerifyServerCertificate(tls.Context(), "localhost"), "");

    tls.Write("HELO vigrel\r\n");
    EXPECT_EQ(readLine(tls), "HELO vigrel\r\n");

    // Larger than one record: Encrypt must split, Decrypt must join several records.
    const std::string big = std::string(50000, 'x') + "\r\n";
    tls.Write(big);
    std::string echoed;
    while (echoed.size() < big.size()) {
        const std::string more = tls.ReadSome();
        ASSERT_FALSE(more.empty()) << "session ended after " << echoed.size() << " bytes";
        echoed += more;
    }
    EXPECT_EQ(echoed, big);

    tls.Write("QUIT\r\n");
    EXPECT_EQ(readLine(tls), "BYE\r\n");
    EXPECT_EQ(tls.ReadSome(), "");
    EXPECT_TRUE(tls.Closed());
    tls.Shutdown();
}

TEST_F(TlsChannel, CertificatesThatMustNotBeTrusted) {
    const struct {
        const char* peer;
        const char* verdict;
    } cases[] = {
        {"selfsigned", "certificate not trusted for localhost"},
        {"othername", "certificate is for another name than localhost"},
        {"expired", "certificate expired for localhost"},
        {"future", "certificate not yet valid for localhost"},
        {"clientonly", "certificate is not meant for a server: localhost"},
        {"narrowca", "certificate is not meant for a server: localhost"},
        // A leaf whose issuer is nowhere: some platforms' SSL policy passes it.
        {"partial", "certificate not trusted for localhost"},
    };
    for (const auto& c : cases) {
        Connection connection(c.peer, std::chrono::seconds(30));
        TTlsChannel tls(connection.Transport());
        tls.Handshake("localhost");
        EXPECT_EQ(VerifyServerCertificate(tls.Context(), "localhost"), c.verdict) << c.peer;
    }
    Connection connection("trusted", std::chrono::seconds(30));
    TTlsChannel tls(connection.Transport());
    tls.Handshake("localhost");
    EXPECT_EQ(VerifyServerCertificate(tls.Context(), ""),
              "no server name to check the certificate against");
}

// Either TLS 1.3 is spoken, or the refusal names the versions: a bare platform code is of no use
// to whoever reads the log.
TEST_F(TlsChannel, ServerOfTls13OnlyIsSpokenToOrRefusedInWords) {
    Connection connection("tls13only", std::chrono::seconds(30));
    TTlsChannel tls(connection.Transport());
    try {
        tls.Handshake("localhost");
    } catch (const ETlsError& e) {
        EXPECT_EQ(tls.Offered() & SP_PROT_TLS1_3_CLIENT, 0u);
        EXPECT_STREQ(e.what(),
                     "TLS handshake with localhost failed: the server and this computer have no "
                     "TLS version in common: this computer offers TLS 1.2, which the server "
                     "refuses; it likely speaks only TLS 1.3, which this computer's TLS does not "
                     "offer");
        return;
    }
    EXPECT_NE(tls.Protocol() & SP_PROT_TLS1_3_CLIENT, 0u);
    EXPECT_EQ(VerifyServerCertificate(tls.Context(), "localhost"), "");
    // The server's session tickets come before the echo and must not end the session.
    tls.Write("HELO vigrel\r\n");
    EXPECT_EQ(readLine(tls), "HELO vigrel\r\n");
}

TEST_F(TlsChannel, PeersThatDoNotSpeakTlsFailWithinTheDeadline) {
    {
        Connection connection("plain", std::chrono::seconds(30));
        TTlsChannel tls(connection.Transport());
        try {
            tls.Handshake("localhost");
            FAIL() << "a plain text server passed the handshake";
        } catch (const ETlsError& e) {
            EXPECT_STREQ(e.what(), "TLS handshake with localhost failed: the server does not "
                                   "speak TLS; it answered \"220 plain text only\"");
        }
        EXPECT_EQ(tls.Context(), nullptr);
    }
    {
        const auto start = std::chrono::steady_clock::now();
        Connection connection("silent", std::chrono::seconds(2));
        TTlsChannel tls(connection.Transport());
        EXPECT_THROW(tls.Handshake("localhost"), TimedOut);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    }
}

} // namespace

// A TLS client session through the platform's SChannel, over a connection somebody else owns.
// The session never touches a socket: it sends and receives through the two functions of a
// TlsTransport, so the SMTP client can switch to TLS on its own connection (STARTTLS) or start
// with it, and tests can run it over any byte pipe.
#pragma once

#define SECURITY_WIN32
#include <windows.h>
#include <security.h>
// For SCH_CREDENTIALS, the only way to ask a current Windows for TLS 1.3.
#define SCHANNEL_USE_BLACKLISTS
#include <subauth.h>
#include <schannel.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "base/exception.h"

// Every failure of the TLS layer: handshake, record protection, a peer that does not speak TLS.
class ETlsError : public Exception {
public:
    using Exception::Exception;
};

// The connection below the session. Send delivers all bytes or throws. Receive waits, bounded by
// the caller's own deadline, for at least one byte and returns how many it stored; 0 means the
// peer closed the connection. A Receive that runs out of time throws the caller's exception,
// which passes through the session unchanged.
struct TlsTransport {
    std::function<void(const char* data, std::size_t size)> Send;
    std::function<std::size_t(char* buffer, std::size_t size)> Receive;
};

class TTlsChannel {
public:
    explicit TTlsChannel(TlsTransport transport);
    ~TTlsChannel();
    TTlsChannel(const TTlsChannel&) = delete;
    TTlsChannel& operator=(const TTlsChannel&) = delete;

    // Negotiates TLS with serverName as the name the server is asked for (SNI). The session
    // reads only what arrives after it has sent its hello, so whatever the server wrote before
    // is the caller's to discard. The certificate is not judged here: see
    // VerifyServerCertificate.
    void Handshake(const std::string& serverName);

    // The records that carry plaintext, split at the largest record the session allows.
    std::string Encrypt(std::string_view plaintext);

    // Takes bytes received from the peer and returns the plaintext of every record completed so
    // far (possibly nothing yet). Bytes left over from the handshake are decrypted first.
    std::string Decrypt(std::string_view received);

    // Encrypt and send; receive until some plaintext arrives. ReadSome returns an empty string
    // once the peer has closed the session or the connection.
    void Write(std::string_view plaintext);
    std::string ReadSome();

    // Tells the peer that no more data follows (close_notify). Failures are ignored: the
    // connection is about to be closed anyway.
    void Shutdown();

    // True once the peer has sent close_notify; later records are ignored.
    bool Closed() const { return closed_; }
    bool Established() const { return established_; }

    // The negotiated context, for the certificate check; valid after Handshake.
    CtxtHandle* Context() { return established_ ? &context_ : nullptr; }

    // The protocol versions this session offers (SP_PROT_..._CLIENT bits), known once the
    // handshake has begun, and the one agreed on, once it is done.
    DWORD Offered() const { return offered_; }
    DWORD Protocol() const { return protocol_; }

private:
    void AcquireCredentials();
    bool AcquireWith(void* credentials);
    void FollowPostHandshake(std::size_t extra);
    void SendToken(SecBuffer& token);
    bool ReceiveMore();

    TlsTransport transport_;
    CredHandle credentials_{};
    CtxtHandle context_{};
    bool haveCredentials_ = false;
    bool haveContext_ = false;
    bool established_ = false;
    bool closed_ = false;
    DWORD offered_ = 0;
    std::wstring target_; // the server's name, for the handshake and what follows it
    DWORD protocol_ = 0;
    SecPkgContext_StreamSizes sizes_{};
    std::string input_; // received, not yet decrypted
};

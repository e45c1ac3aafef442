#include "net/tlschannel_win.h"

#include "base/utf_win.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace {

// A record holds at most 16 KiB of data plus header, padding and tag; anything that stays
// undecryptable past this is not a TLS peer we can talk to, and must not eat memory.
constexpr std::size_t kMaxPending = 64 * 1024;
constexpr std::size_t kReceiveChunk = 16 * 1024 + 512;
constexpr unsigned char kAlertRecord = 0x15;
constexpr unsigned char kHandshakeRecord = 0x16;
constexpr unsigned char kServerHello = 2;
constexpr unsigned char kProtocolVersionAlert = 70;

// TLS 1.2 and 1.3 only: nothing older is safe for a password.
constexpr DWORD kWantedProtocols = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;
constexpr DWORD kCredentialFlags =
    SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;

constexpr unsigned long kRequestFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                        ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY |
                                        ISC_REQ_STREAM | ISC_REQ_USE_SUPPLIED_CREDS |
                                        ISC_REQ_MANUAL_CRED_VALIDATION;

std::string hex(SECURITY_STATUS status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(status));
    return text;
}

// What the common failures mean to someone reading the log, with the code for the rest.
std::string reason(SECURITY_STATUS status) {
    switch (status) {
    case SEC_E_ILLEGAL_MESSAGE:
    case SEC_E_DECRYPT_FAILURE:
    case SEC_E_MESSAGE_ALTERED:
        return "the server's answer is not valid TLS (" + hex(status) + ")";
    case SEC_E_ALGORITHM_MISMATCH:
    case SEC_E_UNSUPPORTED_FUNCTION:
        return "the server offers no TLS version or cipher in common (" + hex(status) + ")";
    case SEC_E_CERT_UNKNOWN:
    case SEC_E_CERT_EXPIRED:
    case SEC_E_UNTRUSTED_ROOT:
    case SEC_E_WRONG_PRINCIPAL:
        return "the server's certificate was refused (" + hex(status) + ")";
    default:
        return "error " + hex(status);
    }
}

// The start of a text answer, for a message: up to the first line end, at most 60 characters,
// anything unprintable shown as '?'.
std::string printablePrefix(const std::string& bytes) {
    std::string text;
    for (char c : bytes) {
        if (c == '\r' || c == '\n' || text.size() == 60)
            break;
        text += c >= 0x20 && c < 0x7f ? c : '?';
    }
    return text;
}

// "TLS 1.2", "TLS 1.2 and 1.3": the client versions among bits, in words.
std::string versionsText(DWORD bits) {
    const struct {
        DWORD bit;
        const char* name;
    } versions[] = {{SP_PROT_TLS1_0_CLIENT, "1.0"},
                    {SP_PROT_TLS1_1_CLIENT, "1.1"},
                    {SP_PROT_TLS1_2_CLIENT, "1.2"},
                    {SP_PROT_TLS1_3_CLIENT, "1.3"}};
    std::string names;
    int count = 0;
    for (const auto& v : versions)
        if (bits & v.bit)
            names += std::string(count++ == 0 ? "" : ", ") + v.name;
    if (count == 0)
        return "no TLS version";
    const std::size_t last = names.rfind(", ");
    if (last != std::string::npos)
        names.replace(last, 2, " and ");
    return "TLS " + names;
}

std::string versionName(unsigned char major, unsigned char minor) {
    if (major == 3 && minor == 0)
        return "SSL 3.0";
    if (major == 3 && minor >= 1 && minor <= 4)
        return "TLS 1." + std::to_string(minor - 1);
    return "an unknown version";
}

// When the server's answer shows that the two sides share no protocol version, that in words;
// otherwise empty. Platforms report this case with codes that name no version (Wine: an
// internal error), yet the server's alert or hello says it plainly.
std::string versionMismatch(const std::string& answer, DWORD offered) {
    const std::string none = "the server and this computer have no TLS version in common: ";
    const std::string ours = "this computer offers " + versionsText(offered);
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(answer[i]); };
    if (answer.size() >= 7 && byte(0) == kAlertRecord && byte(6) == kProtocolVersionAlert) {
        if (offered & SP_PROT_TLS1_3_CLIENT)
            return none + ours + ", which the server refuses";
        return none + ours + ", which the server refuses; it likely speaks only TLS 1.3, which " +
               "this computer's TLS does not offer";
    }
    // A ServerHello (type, three bytes of length, then the version) whole in its record.
    if (answer.size() >= 11 && byte(0) == kHandshakeRecord && (byte(3) << 8 | byte(4)) >= 6 &&
        byte(5) == kServerHello && byte(9) == 3 && byte(10) < 3)
        return none + "the server speaks only " + versionName(byte(9), byte(10)) + ", " + ours;
    return {};
}

// An output token SChannel allocated for us (ISC_REQ_ALLOCATE_MEMORY); freed on every path.
struct ContextBuffer {
    SecBuffer buffer{0, SECBUFFER_TOKEN, nullptr};
    ContextBuffer() = default;
    ContextBuffer(const ContextBuffer&) = delete;
    ContextBuffer& operator=(const ContextBuffer&) = delete;
    ~ContextBuffer() {
        if (buffer.pvBuffer)
            FreeContextBuffer(buffer.pvBuffer);
    }
};

// One step of the context over the bytes received so far. extra is how many bytes at their end
// lie past the message the step took: the next step's, or the first record of data.
SECURITY_STATUS continueContext(CredHandle& credentials, CtxtHandle& context, std::wstring& target,
                                std::string& input, ContextBuffer& out, std::size_t& extra) {
    SecBuffer in[2] = {{static_cast<unsigned long>(input.size()), SECBUFFER_TOKEN, input.data()},
                       {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out.buffer};
    unsigned long attributes = 0;
    const SECURITY_STATUS status =
        InitializeSecurityContextW(&credentials, &context, target.data(), kRequestFlags, 0, 0,
                                   &inDesc, 0, nullptr, &outDesc, &attributes, nullptr);
    extra =
        in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer <= input.size() ? in[1].cbBuffer : 0;
    return status;
}

// Drops what a step took, keeping the bytes past it.
void keepExtra(std::string& input, std::size_t extra) {
    input.erase(0, input.size() - extra);
}

} // namespace

TTlsChannel::TTlsChannel(TlsTransport transport) : transport_(std::move(transport)) {}

TTlsChannel::~TTlsChannel() {
    if (haveContext_)
        DeleteSecurityContext(&context_);
    if (haveCredentials_)
        FreeCredentialsHandle(&credentials_);
}

// True when the platform took the credentials and will offer no protocol but the wanted ones.
bool TTlsChannel::AcquireWith(void* credentials) {
    wchar_t package[] = UNISP_NAME_W;
    TimeStamp expiry;
    if (AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, credentials,
                                  nullptr, nullptr, &credentials_, &expiry) != SEC_E_OK)
        return false;
    SecPkgCred_SupportedProtocols supported{};
    offered_ = QueryCredentialsAttributesW(&credentials_, SECPKG_ATTR_SUPPORTED_PROTOCOLS,
                                           &supported) == SEC_E_OK
                   ? supported.grbitProtocol & (SP_PROT_SSL2_CLIENT | SP_PROT_SSL3TLS1_X_CLIENTS)
                   : kWantedProtocols;
    // Wine 8.0 takes SCH_CREDENTIALS but ignores its list of disabled protocols: it would offer
    // SSL 3.0 to TLS 1.1. A platform that does not keep to the restriction is not used with it.
    if ((offered_ & ~kWantedProtocols) == 0 && (offered_ & kWantedProtocols) != 0)
        return true;
    FreeCredentialsHandle(&credentials_);
    credentials_ = {};
    return false;
}

void TTlsChannel::AcquireCredentials() {
    if (haveCredentials_)
        return;
    // TLS 1.3 needs SCH_CREDENTIALS (Windows 10 1809 and later), which names what to leave out.
    TLS_PARAMETERS parameters{};
    parameters.grbitDisabledProtocols = ~kWantedProtocols;
    SCH_CREDENTIALS current{};
    current.dwVersion = SCH_CREDENTIALS_VERSION;
    current.dwFlags = kCredentialFlags;
    current.cTlsParameters = 1;
    current.pTlsParameters = &parameters;
    haveCredentials_ = AcquireWith(&current);
    if (haveCredentials_)
        return;
    // Older platforms know only SCHANNEL_CRED, which names what to use and cannot ask for
    // TLS 1.3 (Windows refuses it there).
    SCHANNEL_CRED older{};
    older.dwVersion = SCHANNEL_CRED_VERSION;
    older.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    older.dwFlags = kCredentialFlags;
    haveCredentials_ = AcquireWith(&older);
    if (!haveCredentials_)
        throw ETlsError("TLS is not available on this computer: it offers no TLS 1.2 or 1.3");
}

void TTlsChannel::SendToken(SecBuffer& token) {
    if (token.pvBuffer && token.cbBuffer > 0)
        transport_.Send(static_cast<const char*>(token.pvBuffer), token.cbBuffer);
}

bool TTlsChannel::ReceiveMore() {
    if (input_.size() >= kMaxPending)
        throw ETlsError("the server sent more than " + std::to_string(kMaxPending / 1024) +
                        " KiB that do not form a TLS record");
    const std::size_t old = input_.size();
    input_.resize(old + kReceiveChunk);
    std::size_t got = 0;
    try {
        got = transport_.Receive(input_.data() + old, kReceiveChunk);
    } catch (...) {
        input_.resize(old);
        throw;
    }
    input_.resize(old + (got > kReceiveChunk ? kReceiveChunk : got));
    return got > 0;
}

void TTlsChannel::Handshake(const std::string& serverName) {
    if (haveContext_)
        throw ETlsError("TLS session already started");
    AcquireCredentials();
    input_.clear();
    target_ = Widen(serverName);
    const std::string failed = "TLS handshake with " + serverName + " failed: ";

    // The first call has no input: it produces our hello.
    {
        ContextBuffer out;
        SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out.buffer};
        unsigned long attributes = 0;
        const SECURITY_STATUS status =
            InitializeSecurityContextW(&credentials_, nullptr, target_.data(), kRequestFlags, 0, 0,
                                       nullptr, 0, &context_, &outDesc, &attributes, nullptr);
        if (status != SEC_I_CONTINUE_NEEDED)
            throw ETlsError(failed + reason(status));
        haveContext_ = true;
        SendToken(out.buffer);
    }

    bool needInput = true;
    bool firstReply = true;
    for (;;) {
        if (needInput && !ReceiveMore())
            throw ETlsError(failed + "the server closed the connection");
        // Judge the server's first bytes ourselves: some SChannels wait for a whole "record" of
        // text before they object, which against a plain text server means waiting out the
        // deadline.
        const unsigned char first = static_cast<unsigned char>(input_[0]);
        if (firstReply && first != kHandshakeRecord && first != kAlertRecord)
            throw ETlsError(failed + "the server does not speak TLS; it answered \"" +
                            printablePrefix(input_) + "\"");
        firstReply = false;

        ContextBuffer out;
        std::size_t extra = 0;
        const SECURITY_STATUS status =
            continueContext(credentials_, context_, target_, input_, out, extra);

        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            needInput = true;
            continue;
        }
        if (status == SEC_I_INCOMPLETE_CREDENTIALS)
            throw ETlsError(failed + "the server wants a client certificate, and there is none");
        if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) {
            const std::string mismatch = versionMismatch(input_, offered_);
            throw ETlsError(failed + (mismatch.empty() ? reason(status) : mismatch));
        }

        SendToken(out.buffer);
        keepExtra(input_, extra);

        if (status == SEC_E_OK)
            break;
        needInput = input_.empty();
    }

    const SECURITY_STATUS status =
        QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_);
    if (status != SEC_E_OK || sizes_.cbMaximumMessage == 0)
        throw ETlsError(failed + reason(status));
    SecPkgContext_ConnectionInfo connection{};
    if (QueryContextAttributesW(&context_, SECPKG_ATTR_CONNECTION_INFO, &connection) == SEC_E_OK)
        protocol_ = connection.dwProtocol;
    established_ = true;
}

std::string TTlsChannel::Encrypt(std::string_view plaintext) {
    if (!established_)
        throw ETlsError("TLS session not established");
    std::string records;
    std::string record;
    while (!plaintext.empty()) {
        const std::size_t size =
            plaintext.size() < sizes_.cbMaximumMessage ? plaintext.size() : sizes_.cbMaximumMessage;
        record.assign(sizes_.cbHeader + size + sizes_.cbTrailer, '\0');
        std::memcpy(record.data() + sizes_.cbHeader, plaintext.data(), size);
        SecBuffer buffers[4] = {
            {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
            {static_cast<unsigned long>(size), SECBUFFER_DATA, record.data() + sizes_.cbHeader},
            {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes_.cbHeader + size},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = EncryptMessage(&context_, 0, &desc, 0);
        if (status != SEC_E_OK)
            throw ETlsError("TLS encryption failed: " + reason(status));
        // The trailer may come out shorter than its maximum (block ciphers pad less).
        records.append(record.data(),
                       buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
        plaintext.remove_prefix(size);
    }
    return records;
}

std::string TTlsChannel::Decrypt(std::string_view received) {
    if (!established_)
        throw ETlsError("TLS session not established");
    if (closed_)
        return {};
    input_.append(received);
    std::string plaintext;
    while (!input_.empty()) {
        // Record types travel in clear under TLS 1.2. Wine reports the peer's close_notify as a
        // record that decrypts to nothing instead of SEC_I_CONTEXT_EXPIRED, so an alert record
        // without data ends the session too.
        const bool alert = static_cast<unsigned char>(input_[0]) == kAlertRecord;
        SecBuffer buffers[4] = {
            {static_cast<unsigned long>(input_.size()), SECBUFFER_DATA, input_.data()},
            {0, SECBUFFER_EMPTY, nullptr},
            {0, SECBUFFER_EMPTY, nullptr},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = DecryptMessage(&context_, &desc, 0, nullptr);
        if (status == SEC_E_INCOMPLETE_MESSAGE)
            break;
        if (status == SEC_I_CONTEXT_EXPIRED) {
            closed_ = true;
            input_.clear();
            break;
        }
        // Under TLS 1.3 SChannel reports the server's post-handshake messages (session tickets,
        // key updates) this way; they are the protocol's ordinary traffic and go back to the
        // handshake function. Under TLS 1.2 it is a real renegotiation, which a server we have
        // judged must not use to swap its certificate.
        if (status == SEC_I_RENEGOTIATE && !(protocol_ & SP_PROT_TLS1_3_CLIENT))
            throw ETlsError("the server asked to renegotiate the TLS session, which is refused");
        if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE)
            throw ETlsError("TLS decryption failed: " + reason(status));

        // Decryption works in place: copy the plaintext out before the buffer moves.
        std::size_t extra = 0;
        std::size_t data = 0;
        for (const SecBuffer& b : buffers) {
            if (b.BufferType == SECBUFFER_DATA && b.pvBuffer) {
                plaintext.append(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
                data += b.cbBuffer;
            } else if (b.BufferType == SECBUFFER_EXTRA) {
                extra = b.cbBuffer;
            }
        }
        if (status == SEC_I_RENEGOTIATE) {
            FollowPostHandshake(extra);
            continue;
        }
        if (alert && data == 0) {
            closed_ = true;
            input_.clear();
            break;
        }
        if (extra >= input_.size())
            throw ETlsError("TLS decryption failed: a record was not consumed");
        input_.erase(0, input_.size() - extra);
    }
    if (plaintext.empty() && input_.size() > kMaxPending)
        throw ETlsError("the server sent more than " + std::to_string(kMaxPending / 1024) +
                        " KiB that do not form a TLS record");
    return plaintext;
}

// Hands what follows a post-handshake message to InitializeSecurityContext, as the platform
// documents for SEC_I_RENEGOTIATE, and keeps whatever it leaves over for decryption.
void TTlsChannel::FollowPostHandshake(std::size_t extra) {
    input_.erase(0, extra <= input_.size() ? input_.size() - extra : 0);
    for (;;) {
        ContextBuffer out;
        std::size_t extra = 0;
        const SECURITY_STATUS status =
            continueContext(credentials_, context_, target_, input_, out, extra);
        // Nothing pending that belongs to it: the message is done with, and waiting for more
        // would wait on a server that waits for us.
        if (status == SEC_E_INCOMPLETE_MESSAGE && input_.empty())
            return;
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            if (!ReceiveMore())
                throw ETlsError("the server closed the connection during a TLS message");
            continue;
        }
        if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED)
            throw ETlsError("TLS message after the handshake refused: " + reason(status));
        SendToken(out.buffer);
        keepExtra(input_, extra);
        if (status == SEC_E_OK || input_.empty())
            return;
    }
}

void TTlsChannel::Write(std::string_view plaintext) {
    const std::string records = Encrypt(plaintext);
    if (!records.empty())
        transport_.Send(records.data(), records.size());
}

std::string TTlsChannel::ReadSome() {
    // Records left over from the handshake or an earlier read come first.
    std::string plaintext = Decrypt({});
    while (plaintext.empty() && !closed_) {
        if (!ReceiveMore()) {
            closed_ = true;
            break;
        }
        plaintext = Decrypt({});
    }
    return plaintext;
}

void TTlsChannel::Shutdown() {
    if (!established_ || !haveContext_)
        return;
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
    SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, &control};
    if (ApplyControlToken(&context_, &controlDesc) != SEC_E_OK)
        return;
    ContextBuffer out;
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out.buffer};
    unsigned long attributes = 0;
    const SECURITY_STATUS status =
        InitializeSecurityContextW(&credentials_, &context_, nullptr, kRequestFlags, 0, 0, nullptr,
                                   0, nullptr, &outDesc, &attributes, nullptr);
    if (status != SEC_E_OK && status != SEC_I_CONTEXT_EXPIRED)
        return;
    try {
        SendToken(out.buffer);
    } catch (const std::exception&) {
        // The connection is going away; a lost close_notify changes nothing for us.
    }
}

// The chain parameters with their time-out for fetching revocation lists.
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS

#include <winsock2.h>
#include <ws2tcpip.h>

#include <wincrypt.h>

#include "winhttpprobe_win.h"

#include "base/platform_win.h"
#include "base/utf_win.h"
#include "monitor/pathstep_win.h"
#include "monitor/proxyroute_win.h"
#include "monitor/urlwire_win.h"
#include "monitor/winhttpsession_win.h"
#include "settings/profilestore_win.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstring>
#include <ctime>
#include <future>
#include <optional>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::uint32_t millisecondsSince(Clock::time_point start) {
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// How long the destructor waits for the platform to let go of its requests.
constexpr std::uint32_t CloseWaitMs = 5000;

// A lock the same thread may take again, on the platform's own critical section: the standard
// one over this toolchain's threads keeps a little memory for good once it has been taken, and
// every request has one.
class RecursiveLock {
public:
    RecursiveLock() { ::InitializeCriticalSection(&section_); }
    ~RecursiveLock() { ::DeleteCriticalSection(&section_); }
    RecursiveLock(const RecursiveLock&) = delete;
    RecursiveLock& operator=(const RecursiveLock&) = delete;
    void lock() { ::EnterCriticalSection(&section_); }
    void unlock() { ::LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};

// The code page of a charset a page names, by the names pages use: "utf-8", "iso-8859-1",
// "windows-1251", "cp1252", "koi8-r", "shift_jis", ...; 0 when the platform has none for it.
UINT codePageOf(std::string charset) {
    std::transform(charset.begin(), charset.end(), charset.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    struct Named {
        const char* name;
        UINT page;
    };
    // Pages that name Latin-1 mean windows-1252, as browsers read them.
    static const Named named[] = {
        {"utf-8", CP_UTF8},   {"utf8", CP_UTF8},    {"us-ascii", 20127},
        {"iso-8859-1", 1252}, {"latin1", 1252},     {"koi8-r", 20866},
        {"koi8-u", 21866},    {"shift_jis", 932},   {"shift-jis", 932},
        {"windows-31j", 932}, {"euc-jp", 20932},    {"iso-2022-jp", 50220},
        {"gb2312", 936},      {"gbk", 936},         {"gb18030", 54936},
        {"big5", 950},        {"euc-kr", 949},      {"ks_c_5601-1987", 949},
        {"tis-620", 874},     {"windows-874", 874}, {"macintosh", 10000},
    };
    UINT page = 0;
    for (const Named& n : named)
        if (charset == n.name)
            page = n.page;
    auto numbered = [&](const char* prefix, UINT base) {
        const std::size_t length = std::strlen(prefix);
        if (page || charset.compare(0, length, prefix) != 0 || charset.size() == length ||
            charset.size() > length + 5 ||
            charset.find_first_not_of("0123456789", length) != std::string::npos)
            return;
        page = base + static_cast<UINT>(std::stoul(charset.substr(length)));
    };
    numbered("windows-", 0);
    numbered("cp", 0);
    numbered("iso-8859-", 28590);
    return page && ::IsValidCodePage(page) ? page : 0;
}

// The charset a Content-Type names: text/html; charset="ISO-8859-1" -> "ISO-8859-1".
std::string charsetOf(const std::wstring& contentType) {
    std::string type = Narrow(contentType);
    std::string lowered = type;
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const std::size_t at = lowered.find("charset=");
    if (at == std::string::npos)
        return {};
    std::string value = type.substr(at + 8);
    value = value.substr(0, value.find(';'));
    value.erase(0, value.find_first_not_of(" \t\""));
    value.erase(value.find_last_not_of(" \t\"") + 1);
    return value;
}

} // namespace

// The page in UTF-8: its bytes as they came when the charset is UTF-8, none or one the platform
// does not know (a text check then still finds ASCII text).
std::string DecodedPage(const std::string& bytes, const std::string& charset) {
    const UINT page = charset.empty() ? 0 : codePageOf(charset);
    if (page == 0 || page == CP_UTF8 || bytes.empty())
        return bytes;
    const int size = static_cast<int>(bytes.size());
    const int wide = ::MultiByteToWideChar(page, 0, bytes.data(), size, nullptr, 0);
    if (wide <= 0)
        return bytes;
    std::wstring text(static_cast<std::size_t>(wide), L'\0');
    ::MultiByteToWideChar(page, 0, bytes.data(), size, text.data(), wide);
    return Narrow(text);
}

namespace {

std::int64_t unixTime(const FILETIME& time) {
    const std::int64_t ticks =
        (static_cast<std::int64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return ticks / 10000000 - 11644473600LL;
}

// The server's certificate and the chain the platform builds for it from what the server sent;
// both freed at the end of the scope.
class ServerChain {
public:
    explicit ServerChain(HINTERNET request) {
        DWORD size = sizeof certificate_;
        if (!::WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &certificate_,
                                  &size))
            certificate_ = nullptr;
        if (!certificate_)
            return;
        // Built for a server, so that a certificate not meant for one shows in the status.
        static char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
        static char* usages[] = {serverAuth};
        CERT_CHAIN_PARA para{};
        para.cbSize = sizeof para;
        para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
        para.RequestedUsage.Usage.cUsageIdentifier = 1;
        para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
        if (!::CertGetCertificateChain(nullptr, certificate_, nullptr, certificate_->hCertStore,
                                       &para, 0, nullptr, &chain_))
            chain_ = nullptr;
    }
    ~ServerChain() {
        if (chain_)
            ::CertFreeCertificateChain(chain_);
        if (certificate_)
            ::CertFreeCertificateContext(certificate_);
    }
    ServerChain(const ServerChain&) = delete;
    ServerChain& operator=(const ServerChain&) = delete;

    PCCERT_CONTEXT Leaf() const { return certificate_; }
    DWORD TrustErrors() const { return chain_ ? chain_->TrustStatus.dwErrorStatus : 0; }
    // The SSL policy's answer for a server of this name: 0, or a CERT_E_... code.
    LONG SslPolicy(const std::wstring& host) const {
        if (!chain_)
            return CERT_E_CHAINING;
        SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
        ssl.cbSize = sizeof ssl;
        ssl.dwAuthType = AUTHTYPE_SERVER;
        ssl.pwszServerName = const_cast<wchar_t*>(host.c_str());
        CERT_CHAIN_POLICY_PARA para{};
        para.cbSize = sizeof para;
        para.pvExtraPolicyPara = &ssl;
        CERT_CHAIN_POLICY_STATUS status{};
        status.cbSize = sizeof status;
        if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain_, &para, &status))
            return CERT_E_CHAINING;
        return status.dwError;
    }
    // The leaf and the intermediates: an authority the machine trusts as a root is the
    // machine's to renew, not the site's.
    std::vector<PCCERT_CONTEXT> Certificates() const {
        std::vector<PCCERT_CONTEXT> all;
        if (!chain_ || chain_->cChain == 0) {
            if (certificate_)
                all.push_back(certificate_);
            return all;
        }
        const CERT_SIMPLE_CHAIN& simple = *chain_->rgpChain[0];
        for (DWORD i = 0; i < simple.cElement; ++i) {
            const CERT_CHAIN_ELEMENT& element = *simple.rgpElement[i];
            if (i > 0 && (element.TrustStatus.dwInfoStatus & CERT_TRUST_IS_SELF_SIGNED))
                continue;
            all.push_back(element.pCertContext);
        }
        return all;
    }

private:
    PCCERT_CONTEXT certificate_ = nullptr;
    PCCERT_CHAIN_CONTEXT chain_ = nullptr;
};

std::string nameOf(PCCERT_CONTEXT certificate, DWORD type) {
    wchar_t name[256] = {};
    ::CertGetNameStringW(certificate, type, 0, nullptr, name, 256);
    return Narrow(name);
}

// The certificate of the chain that expires first, for the judge's warning.
void gatherExpiry(HINTERNET handle, std::int64_t& earliest, std::string& name) {
    const ServerChain chain(handle);
    for (PCCERT_CONTEXT certificate : chain.Certificates()) {
        const std::int64_t expiry = unixTime(certificate->pCertInfo->NotAfter);
        if (earliest == 0 || expiry < earliest) {
            earliest = expiry;
            name = nameOf(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE);
        }
    }
}

enum class Revocation { Good, Revoked, Unknown };

// The chain's revocation, asked of the servers the certificates name within timeOutMs. The
// request itself does not ask (WINHTTP_ENABLE_SSL_REVOCATION): there a revocation server that
// does not answer fails the request, and a site whose certificate is only unchecked is up, with
// a warning. A certificate that names no way to check it is no warning.
Revocation revocationOf(HINTERNET request, std::uint32_t timeOutMs) {
    PCCERT_CONTEXT certificate = nullptr;
    DWORD size = sizeof certificate;
    if (!::WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &certificate, &size) ||
        !certificate)
        return Revocation::Good;
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.dwUrlRetrievalTimeout = timeOutMs;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    Revocation result = Revocation::Good;
    if (::CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &para,
                                  CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT |
                                      CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT,
                                  nullptr, &chain)) {
        const DWORD trust = chain->TrustStatus.dwErrorStatus;
        if (trust & CERT_TRUST_IS_REVOKED)
            result = Revocation::Revoked;
        else if (trust & CERT_TRUST_IS_OFFLINE_REVOCATION)
            result = Revocation::Unknown;
        ::CertFreeCertificateChain(chain);
    }
    ::CertFreeCertificateContext(certificate);
    return result;
}

// What is wrong with the server's certificate, from the platform's secure-failure flags, its
// error, and the chain's own trust status (so that no single answer decides alone); detail gets
// the date an expired certificate ran out or the name a certificate is for. Given the host, the
// SSL policy for that name is asked too, and Up means nothing is wrong; without it, Tls is what
// is left when nothing more can be told.
ProbeReason certificateFailure(HINTERNET handle, DWORD flags, DWORD error, std::string& detail,
                               const std::wstring* host = nullptr) {
    const ServerChain chain(handle);
    DWORD trust = chain.TrustErrors();
    LONG policy = 0;
    if (host) {
        if (!chain.Leaf())
            return ProbeReason::Tls;
        trust &= ~(CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION);
        policy = chain.SslPolicy(*host);
        if (policy == CERT_E_EXPIRED)
            flags |= WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID;
        else if (policy == CERT_E_UNTRUSTEDROOT || policy == CERT_E_CHAINING)
            flags |= WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA;
        else if (policy == CERT_E_CN_NO_MATCH)
            flags |= WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID;
        else if (policy == CRYPT_E_REVOKED)
            flags |= WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED;
    }
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    if ((flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED) ||
        error == ERROR_WINHTTP_SECURE_CERT_REVOKED || (trust & CERT_TRUST_IS_REVOKED))
        return ProbeReason::CertRevoked;
    if ((flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID) ||
        error == ERROR_WINHTTP_SECURE_CERT_DATE_INVALID || (trust & CERT_TRUST_IS_NOT_TIME_VALID)) {
        std::int64_t expired = 0;
        for (PCCERT_CONTEXT certificate : chain.Certificates()) {
            if (unixTime(certificate->pCertInfo->NotBefore) > now)
                return ProbeReason::CertNotYetValid;
            const std::int64_t end = unixTime(certificate->pCertInfo->NotAfter);
            if (end < now && (expired == 0 || end < expired))
                expired = end;
        }
        if (expired)
            detail = CertificateDate(expired);
        return ProbeReason::CertExpired;
    }
    if ((flags & WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA) ||
        error == ERROR_WINHTTP_SECURE_INVALID_CA ||
        (trust & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN)))
        return ProbeReason::CertUnknownAuthority;
    if ((flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID) ||
        error == ERROR_WINHTTP_SECURE_CERT_CN_INVALID) {
        if (chain.Leaf())
            detail = nameOf(chain.Leaf(), CERT_NAME_DNS_TYPE);
        return ProbeReason::CertWrongName;
    }
    return host && policy == 0 && trust == 0 ? ProbeReason::Up : ProbeReason::Tls;
}

} // namespace

ProbeReason ReasonOfError(DWORD error) {
    switch (error) {
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
        return ProbeReason::NameNotFound;
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case WSAECONNREFUSED:
        return ProbeReason::Refused;
    // A connection that was there and went away, not one that was refused.
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case WSAECONNRESET:
    case WSAECONNABORTED:
        return ProbeReason::ConnectionReset;
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:
        return ProbeReason::TimedOut;
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
        return ProbeReason::CertRevoked;
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
        return ProbeReason::CertExpired;
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
        return ProbeReason::CertWrongName;
    case ERROR_WINHTTP_SECURE_INVALID_CA:
        return ProbeReason::CertUnknownAuthority;
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
    case ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED:
        return ProbeReason::Tls;
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
        return ProbeReason::NotHttp;
    case ERROR_WINHTTP_REDIRECT_FAILED:
        return ProbeReason::TooManyRedirects;
    case ERROR_WINHTTP_INVALID_URL:
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
        return ProbeReason::BadAddress;
    default:
        return ProbeReason::ConnectionFailed;
    }
}

// What the callbacks, the watchdog and the prober share. The callbacks hold it through their
// request, so it outlives a prober whose requests the platform has not let go of yet.
struct WinHttpProber::State {
    // One per route; each request holds its own while it lives.
    std::unique_ptr<WinHttpSessions> sessions;
    mutable std::mutex lock;
    mutable std::condition_variable changed;
    std::map<Request*, std::shared_ptr<Request>> live; // until the handle-closing callback
    bool stopping = false;
};

struct WinHttpProber::Request {
    std::shared_ptr<State> state;
    std::size_t index = 0;
    std::string url;
    std::uint32_t timeOut = 0;
    Completion completion;
    Release release;
    Clock::time_point start;
    Clock::time_point deadline;
    HINTERNET handle = nullptr;
    std::shared_ptr<WinHttpSession> session;
    // Where the request goes, as the address cracks.
    std::wstring target;
    std::wstring object;
    INTERNET_PORT port = 0;
    std::atomic<bool> finished{false};
    std::atomic<bool> closed{false};
    // Held across every call on the handle and across closing it: once closed, the handle's
    // value may already name another request. Recursive, as a call may complete at once and
    // run the callback on the same thread.
    RecursiveLock calls;
    std::uint32_t status = 0;
    std::uint32_t bodyBytes = 0;
    std::uint32_t secureFlags = 0; // WINHTTP_CALLBACK_STATUS_FLAG_..., from the secure failure
    // What the judge is given besides the status (ProbeFacts).
    SiteChecks checks;
    std::wstring host; // of an https request, for Wine's certificate check
    std::string wireUrl;
    std::string finalUrl;
    int redirects = 0;
    std::string page; // as it came, when a text check asks for it
    bool pageRead = false;
    std::string charset;
    std::int64_t earliestExpiry = 0;
    std::string expiringName;
    ProbeReason certFailure = ProbeReason::Tls;
    std::string certDetail;
    // The words of a failure that is not the certificate's (a PAC file, a client certificate).
    std::string failDetail;
    // How the request goes out and signs in: the route, the proxy's credentials, each
    // challenge answered once.
    std::shared_ptr<const ProxySettings> proxy;
    bool secure = false;
    bool siteSignedIn = false;
    bool proxySignedIn = false;
    bool certSent = false;
    std::string authAsked;
    bool revocationUnknown = false;
    // The request's connection, for the Wine-only guard; written before connected is raised.
    WINHTTP_CONNECTION_INFO connection{};
    std::atomic<bool> connected{false};
    // The guard has shut the connection down already.
    std::atomic<bool> cut{false};
    // Answered and reported; only the closing of its handle is left.
    std::atomic<bool> closing{false};
    // Guarded by the state's lock: the result of a finished request, kept until the platform
    // lets go of it or its deadline passes; then whether the Release is owed.
    std::optional<WinHttpProbeResult> pending;
    bool releaseOwed = false;
    // A result taken as not Released is being reported; a let-go meanwhile waits for it, so
    // that the Release never overtakes its completion.
    bool reporting = false;
    bool letGoWhileReporting = false;
    char buffer[16 * 1024];

    // The first call settles the probe's result; later ones (the platform ending a request the
    // watchdog gave up on) are dropped. A request never handed to the platform is reported at
    // once; any other when the platform lets go of it, or by the watchdog at its deadline.
    // reason is Up for an answer, whatever the judge makes of it.
    void Finish(ProbeReason reason, DWORD error = 0) {
        if (finished.exchange(true))
            return;
        WinHttpProbeResult result;
        static_cast<ProbeResult&>(result) = Judged(reason, result.Facts);
        result.Error = error;
        result.SecureFlags = secureFlags;
        // An answer is reported at once: what is left is closing a request the platform has
        // finished with, which does not make the address hang.
        const bool answered = reason == ProbeReason::Up || reason == ProbeReason::NotHttp;
        if (!handle || answered) {
            closing = answered;
            Report(result);
            return;
        }
        {
            std::lock_guard<std::mutex> hold(state->lock);
            pending = result;
        }
        state->changed.notify_all();
    }

    ProbeResult Judged(ProbeReason reason, ProbeFacts& facts) {
        facts.Failure = reason;
        if (reason == certFailure)
            facts.Detail = certDetail;
        else if (reason == ProbeReason::ConnectionFailed)
            facts.Detail = failDetail;
        facts.AuthAsked = authAsked;
        facts.RevocationUnknown = revocationUnknown;
        facts.Status = status;
        facts.Url = wireUrl;
        facts.FinalUrl = finalUrl.empty() ? wireUrl : finalUrl;
        facts.Redirects = redirects;
        facts.BodyRead = pageRead;
        if (pageRead)
            facts.Body = DecodedPage(page, charset);
        facts.EarliestExpiry = earliestExpiry;
        facts.ExpiringName = expiringName;
        facts.Milliseconds = reason == ProbeReason::TimedOut ? timeOut : millisecondsSince(start);
        ProbeResult judged = Judge(facts, checks, checks.CertDays.value_or(DefaultCertDays),
                                   static_cast<std::int64_t>(std::time(nullptr)));
        page.clear();
        page.shrink_to_fit();
        facts.Body.clear();
        facts.Body.shrink_to_fit();
        return judged;
    }

    // Takes the pending result, if any, with the lock held.
    std::optional<WinHttpProbeResult> TakePending(bool released) {
        std::optional<WinHttpProbeResult> result = std::move(pending);
        pending.reset();
        if (result) {
            result->Released = released;
            releaseOwed = !released;
            reporting = !released;
        }
        return result;
    }

    // Reports a result taken as not Released, then the Release if the platform let go of the
    // request meanwhile.
    void ReportHeld(const WinHttpProbeResult& result) {
        Report(result);
        bool letGo = false;
        {
            std::lock_guard<std::mutex> hold(state->lock);
            reporting = false;
            letGo = std::exchange(letGoWhileReporting, false);
        }
        if (letGo)
            Released();
    }

    void Report(const WinHttpProbeResult& result) {
        Completion done = std::move(completion);
        {
            std::lock_guard<std::mutex> hold(state->lock);
            if (state->stopping)
                return;
        }
        if (done)
            done(index, result);
    }

    void Released() {
        Release done = std::move(release);
        {
            std::lock_guard<std::mutex> hold(state->lock);
            if (state->stopping)
                return;
        }
        if (done)
            done(index);
    }

    void Close() {
        std::lock_guard<RecursiveLock> hold(calls);
        if (!closed.exchange(true))
            ::WinHttpCloseHandle(handle);
    }

    void End(ProbeReason reason, DWORD error = 0) {
        Finish(reason, error);
        Close();
    }
};

namespace {

// Asked once: the guards for what Wine does not enforce are active only there.
const bool wine = RunningOnWine();

// Only HTTP/1 and later: an answer that is no HTTP at all shows status 0 and its first word as
// the version on some platforms (Wine) instead of an error.
bool isHttpVersion(HINTERNET request) {
    wchar_t version[32] = {};
    DWORD size = sizeof version - sizeof version[0];
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_VERSION, WINHTTP_HEADER_NAME_BY_INDEX,
                               version, &size, WINHTTP_NO_HEADER_INDEX))
        return false;
    return std::wcsncmp(version, L"HTTP/", 5) == 0 && version[5] >= L'1' && version[5] <= L'9';
}

bool sameEndpoint(const SOCKADDR_STORAGE& a, const SOCKADDR_STORAGE& b) {
    if (a.ss_family != b.ss_family)
        return false;
    if (a.ss_family == AF_INET) {
        const auto& x = reinterpret_cast<const sockaddr_in&>(a);
        const auto& y = reinterpret_cast<const sockaddr_in&>(b);
        return x.sin_port == y.sin_port && x.sin_addr.s_addr == y.sin_addr.s_addr;
    }
    if (a.ss_family == AF_INET6) {
        const auto& x = reinterpret_cast<const sockaddr_in6&>(a);
        const auto& y = reinterpret_cast<const sockaddr_in6&>(b);
        return x.sin6_port == y.sin6_port &&
               std::memcmp(&x.sin6_addr, &y.sin6_addr, sizeof x.sin6_addr) == 0;
    }
    return false;
}

// Wine only. Wine's WinHTTP goes on reading a request whose handle was closed until one of its
// time-outs fires, and a server that never stops sending header lines never lets one fire: it
// would be read from without end. So the connection under such a request is shut down here, the
// socket found among the process's handles by its two addresses (Wine's sockets are handles of
// the process; nothing of the library is changed). The socket stays the library's to close.
void cutConnection(const WINHTTP_CONNECTION_INFO& info) {
    constexpr ULONG_PTR HighestHandle = 0x10000;
    for (ULONG_PTR value = 4; value < HighestHandle; value += 4) {
        const auto socket = static_cast<SOCKET>(value);
        SOCKADDR_STORAGE name{};
        int length = sizeof name;
        if (::getsockname(socket, reinterpret_cast<sockaddr*>(&name), &length) != 0 ||
            !sameEndpoint(name, info.LocalAddress))
            continue;
        length = sizeof name;
        if (::getpeername(socket, reinterpret_cast<sockaddr*>(&name), &length) != 0 ||
            !sameEndpoint(name, info.RemoteAddress))
            continue;
        ::shutdown(socket, SD_BOTH);
        return;
    }
}

// The body is read to its end or to the budget (the page a text check reads, or enough for the
// connection to serve the next probe), by asking what has arrived and reading only that: a read
// then never waits on the peer (Wine holds a read that is not full on the callback's thread,
// under the request's lock, until the rest comes, however slowly).
std::uint32_t bodyBudget(const WinHttpProber::Request& request) {
    return request.checks.WantsBody() ? static_cast<std::uint32_t>(MaxCheckedBody)
                                      : WinHttpProber::MaxBodyBytes;
}

void askForBody(WinHttpProber::Request& request) {
    if (!::WinHttpQueryDataAvailable(request.handle, nullptr))
        request.End(ReasonOfError(::GetLastError()), ::GetLastError());
}

void readBody(WinHttpProber::Request& request, DWORD available) {
    const std::size_t room = bodyBudget(request) - request.bodyBytes;
    const DWORD size =
        static_cast<DWORD>(std::min<std::size_t>({available, room, sizeof request.buffer}));
    if (!::WinHttpReadData(request.handle, request.buffer, size, nullptr))
        request.End(ReasonOfError(::GetLastError()), ::GetLastError());
}

// The address a redirect leads to, from the one before it: Location may be relative.
std::string redirectTarget(const std::string& from, const std::string& location) {
    if (location.find("://") != std::string::npos)
        return location;
    const std::size_t scheme = from.find("://");
    if (scheme == std::string::npos)
        return location;
    if (location.rfind("//", 0) == 0)
        return from.substr(0, scheme + 1) + location;
    const std::size_t path = from.find('/', scheme + 3);
    const std::string origin = from.substr(0, path);
    return origin + (location.rfind('/', 0) == 0 ? "" : "/") + location;
}

// The host of an address, as the SSL policy asks for it; empty when it does not crack.
std::wstring hostNameOf(const std::string& url) {
    const std::wstring wide = Widen(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    if (!::WinHttpCrackUrl(wide.c_str(), 0, 0, &parts) || !parts.lpszHostName)
        return {};
    return std::wstring(parts.lpszHostName, parts.dwHostNameLength);
}

// What the answer says beside its status: the charset of its page, and for https the chain's
// earliest expiry.
void gatherAnswer(WinHttpProber::Request& request, HINTERNET handle) {
    wchar_t type[256] = {};
    DWORD size = sizeof type - sizeof type[0];
    if (::WinHttpQueryHeaders(handle, WINHTTP_QUERY_CONTENT_TYPE, WINHTTP_HEADER_NAME_BY_INDEX,
                              type, &size, WINHTTP_NO_HEADER_INDEX))
        request.charset = charsetOf(type);
    gatherExpiry(handle, request.earliestExpiry, request.expiringName);
}

// Measured on Wine 8: its WinHTTP finds what is wrong with a certificate (12037, 12038, 12045
// in its trace) but reports every such fault as a channel error, 12157, with no secure-failure
// notice and no certificate left to ask. So there the platform is told to let them pass (see
// Start), and the certificate is judged here before an answer counts; the request carries no
// credentials to lose. True when it ended the request.
bool wineCertificateFault(WinHttpProber::Request& request, HINTERNET handle) {
    if (!wine || request.host.empty() || !ServerChain(handle).Leaf())
        return false; // no certificate to judge (no connection): the platform's word stands
    std::string detail;
    const ProbeReason fault = certificateFailure(handle, 0, 0, detail, &request.host);
    if (fault == ProbeReason::Up)
        return false;
    request.certFailure = fault;
    request.certDetail = detail;
    request.End(fault);
    return true;
}

// A 401 or 407: the credentials the site's checks or [Proxy] name are given for the scheme
// offered and the request is sent again, once per target. True when it was; otherwise the
// answer stands, with the schemes asked for in its words.
bool answerChallenge(WinHttpProber::Request& request, HINTERNET handle, DWORD code) {
    DWORD offered = 0, first = 0, target = 0;
    if (!::WinHttpQueryAuthSchemes(handle, &offered, &first, &target))
        return false;
    const bool toProxy = code == HTTP_STATUS_PROXY_AUTH_REQ;
    request.authAsked = std::string(toProxy ? "the proxy asks for " : "the site asks for ") +
                        OfferedSchemes(offered);
    std::string user, pass;
    DWORD scheme = 0;
    if (toProxy) {
        if (request.proxySignedIn)
            return false;
        request.proxySignedIn = true;
        if (request.proxy) {
            user = request.proxy->User;
            pass = request.proxy->Pass;
        }
        // No user: the service account's own, which only Negotiate and NTLM can carry.
        scheme = PickAuthScheme(offered, !user.empty(), false);
    } else {
        const SiteChecks& checks = request.checks;
        if (request.siteSignedIn || checks.Auth == SiteAuth::None)
            return false;
        request.siteSignedIn = true;
        if (checks.Auth != SiteAuth::Default) {
            user = checks.User;
            const std::optional<std::string> clear =
                UnprotectedPassword(checks.Pass, MachinePasswordCodec());
            if (!clear)
                return false;
            pass = *clear;
        }
        scheme = PickAuthScheme(offered, checks.Auth != SiteAuth::Default,
                                checks.Auth == SiteAuth::Basic);
    }
    if (!scheme)
        return false;
    if (user.empty()) {
        DWORD low = WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW;
        ::WinHttpSetOption(handle, WINHTTP_OPTION_AUTOLOGON_POLICY, &low, sizeof low);
    }
    const std::wstring wideUser = Widen(user), widePass = Widen(pass);
    if (!::WinHttpSetCredentials(handle, target, scheme, user.empty() ? nullptr : wideUser.c_str(),
                                 user.empty() ? nullptr : widePass.c_str(), nullptr))
        return false;
    request.status = 0;
    const DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&request);
    if (!::WinHttpSendRequest(handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0,
                              0, context))
        request.End(ReasonOfError(::GetLastError()), ::GetLastError());
    return true;
}

// The client certificate a site's cert= names, from the machine's personal store; false with
// the words when it is not there or the platform refuses it.
bool sendClientCertificate(WinHttpProber::Request& request, HINTERNET handle) {
    const std::string& thumb = request.checks.Cert;
    BYTE hash[20] = {};
    for (std::size_t i = 0; i < sizeof hash && thumb.size() == 40; ++i)
        hash[i] = static_cast<BYTE>(std::stoul(thumb.substr(i * 2, 2), nullptr, 16));
    CRYPT_HASH_BLOB blob{sizeof hash, hash};
    HCERTSTORE store =
        ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                        CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_READONLY_FLAG, L"MY");
    PCCERT_CONTEXT certificate =
        store ? ::CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                             CERT_FIND_SHA1_HASH, &blob, nullptr)
              : nullptr;
    const bool set = certificate && ::WinHttpSetOption(handle, WINHTTP_OPTION_CLIENT_CERT_CONTEXT,
                                                       const_cast<CERT_CONTEXT*>(certificate),
                                                       sizeof(CERT_CONTEXT));
    if (certificate)
        ::CertFreeCertificateContext(certificate);
    if (store)
        ::CertCloseStore(store, 0);
    if (!set)
        request.failDetail =
            "client certificate " + thumb + " not found in the machine's personal store";
    request.certSent = set;
    return set;
}

void CALLBACK statusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info,
                             DWORD length) {
    auto* request = reinterpret_cast<WinHttpProber::Request*>(context);
    if (!request)
        return; // the session's and the connections' own notifications
    // Held for the whole call: closing the handle in it may bring the handle-closing
    // notification at once, on this thread, which lets go of the prober's own hold.
    std::shared_ptr<WinHttpProber::Request> self;
    std::unique_lock<RecursiveLock> hold;
    if (status != WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) {
        {
            std::lock_guard<std::mutex> live(request->state->lock);
            auto found = request->state->live.find(request);
            if (found == request->state->live.end())
                return;
            self = found->second;
        }
        hold = std::unique_lock<RecursiveLock>(request->calls);
        if (request->closed)
            return; // a request given up on: what the platform still says of it is moot
    }
    switch (status) {
    case WINHTTP_CALLBACK_STATUS_REQUEST_SENT:
        // Asked for on Wine only; the connection now exists, on this thread at rest.
        if (wine) {
            DWORD size = sizeof request->connection;
            request->connection.cbSize = size;
            if (::WinHttpQueryOption(handle, WINHTTP_OPTION_CONNECTION_INFO, &request->connection,
                                     &size))
                request->connected = true;
        }
        break;
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
        if (!::WinHttpReceiveResponse(handle, nullptr))
            request->End(ReasonOfError(::GetLastError()), ::GetLastError());
        break;
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE: {
        DWORD code = 0;
        DWORD size = sizeof code;
        ::WinHttpQueryHeaders(handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                              WINHTTP_HEADER_NAME_BY_INDEX, &code, &size, WINHTTP_NO_HEADER_INDEX);
        request->status = code;
        if (wineCertificateFault(*request, handle))
            break;
        if ((code == HTTP_STATUS_DENIED || code == HTTP_STATUS_PROXY_AUTH_REQ) &&
            answerChallenge(*request, handle, code))
            break;
        if (request->secure) {
            const Revocation revocation = revocationOf(handle, request->timeOut);
            if (revocation == Revocation::Revoked) {
                request->End(ProbeReason::CertRevoked);
                break;
            }
            // Measured on Wine 8: every chain reads as offline for revocation, also one whose
            // certificates name no way to check it, so there only a revoked one counts.
            request->revocationUnknown = revocation == Revocation::Unknown && !wine;
        }
        if (code == 0 || !isHttpVersion(handle)) {
            request->End(ProbeReason::NotHttp);
            break;
        }
        gatherAnswer(*request, handle);
        if (StatusAccepted(code, request->checks))
            askForBody(*request);
        else
            request->End(ProbeReason::Up); // the judge names the status; no check reads on
        break;
    }
    case WINHTTP_CALLBACK_STATUS_REDIRECT:
        ++request->redirects;
        if (info && length > 0) {
            request->finalUrl = redirectTarget(
                request->finalUrl.empty() ? request->wireUrl : request->finalUrl,
                Narrow(std::wstring_view(static_cast<const wchar_t*>(info),
                                         ::wcsnlen(static_cast<const wchar_t*>(info), length))));
            // The answer judged comes from where the redirects lead, and its certificate names
            // that host, not the first one (an address that does not crack keeps the first).
            if (std::wstring next = hostNameOf(request->finalUrl);
                !request->host.empty() && !next.empty())
                request->host = std::move(next);
        }
        break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE: {
        const DWORD available = info && length >= sizeof(DWORD) ? *static_cast<DWORD*>(info) : 0;
        if (available == 0) {
            request->pageRead = true; // the whole page
            request->End(ProbeReason::Up);
        } else if (wine && available > MaxCheckedBody) {
            // Measured on Wine 8: after a reset among a 200 answer's headers, Wine reports the
            // failed receive (-1) as 0xFFFFFFFF bytes available; a read then hands out the
            // bytes of its own headers and the next one reads beyond its buffer and ends the
            // process. No count of Wine's is ever near this size, which stops the read before
            // it starts.
            request->End(ProbeReason::ConnectionReset);
        } else {
            readBody(*request, available);
        }
        break;
    }
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        request->bodyBytes += length;
        if (request->checks.WantsBody())
            request->page.append(request->buffer,
                                 std::min<std::size_t>(length, sizeof request->buffer));
        if (length == 0 || request->bodyBytes >= bodyBudget(*request)) {
            request->pageRead = true;
            request->End(ProbeReason::Up);
        } else {
            askForBody(*request);
        }
        break;
    case WINHTTP_CALLBACK_STATUS_SECURE_FAILURE:
        // Comes before the error that ends the request; it says what was wrong.
        if (info && length >= sizeof(DWORD))
            request->secureFlags = *static_cast<const DWORD*>(info);
        request->certFailure =
            certificateFailure(handle, request->secureFlags, 0, request->certDetail);
        break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
        const auto* failure = static_cast<const WINHTTP_ASYNC_RESULT*>(info);
        const DWORD error = failure ? failure->dwError : 0;
        if (wineCertificateFault(*request, handle))
            break;
        if (error == ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED) {
            // Asked for again by the platform once the server's request for one came.
            if (!request->checks.Cert.empty() && !request->certSent &&
                sendClientCertificate(*request, handle)) {
                if (!::WinHttpSendRequest(handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                          WINHTTP_NO_REQUEST_DATA, 0, 0, context))
                    request->End(ReasonOfError(::GetLastError()), ::GetLastError());
                break;
            }
            if (request->failDetail.empty())
                request->failDetail = "the site asks for a client certificate";
            request->End(ProbeReason::ConnectionFailed, error);
            break;
        }
        ProbeReason reason = ReasonOfError(error);
        if (request->secureFlags) {
            reason = request->certFailure;
        } else if (reason == ProbeReason::Tls || reason == ProbeReason::CertExpired ||
                   reason == ProbeReason::CertWrongName ||
                   reason == ProbeReason::CertUnknownAuthority) {
            // No secure-failure notice came (Wine sends none): the certificate tells.
            request->certFailure = certificateFailure(handle, 0, error, request->certDetail);
            reason = request->certFailure;
        }
        request->End(reason, error);
        break;
    }
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING: {
        // The last word on this request: nothing of it is touched after.
        std::shared_ptr<WinHttpProber::State> state = request->state;
        std::shared_ptr<WinHttpProber::Request> keep;
        std::optional<WinHttpProbeResult> result;
        bool releaseOwed = false;
        {
            std::lock_guard<std::mutex> hold(state->lock);
            auto found = state->live.find(request);
            if (found != state->live.end()) {
                keep = found->second;
                result = keep->TakePending(true);
                releaseOwed = std::exchange(keep->releaseOwed, false);
                if (releaseOwed && keep->reporting) {
                    keep->letGoWhileReporting = true;
                    releaseOwed = false;
                }
            }
        }
        // Told while still live, so that a prober going away waits for this call to end.
        if (result)
            keep->Report(*result);
        else if (releaseOwed)
            keep->Released();
        {
            std::lock_guard<std::mutex> hold(state->lock);
            state->live.erase(request);
        }
        state->changed.notify_all();
        break; // keep lets go of the request here
    }
    default:
        break;
    }
}

} // namespace

namespace {

void send(WinHttpProber::Request& request) {
    std::lock_guard<RecursiveLock> hold(request.calls);
    if (request.closed)
        return;
    const DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&request);
    if (!::WinHttpSendRequest(request.handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                              WINHTTP_NO_REQUEST_DATA, 0, 0, context)) {
        const DWORD error = ::GetLastError();
        request.End(ReasonOfError(error), error);
    }
}

} // namespace

WinHttpProber::WinHttpProber() : state_(std::make_shared<State>()) {
    const DWORD notifications = WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS |
                                WINHTTP_CALLBACK_FLAG_HANDLES | WINHTTP_CALLBACK_FLAG_REDIRECT |
                                WINHTTP_CALLBACK_FLAG_SECURE_FAILURE |
                                (wine ? WINHTTP_CALLBACK_FLAG_SEND_REQUEST : 0);
    state_->sessions = std::make_unique<WinHttpSessions>(
        L"check_url", WINHTTP_FLAG_ASYNC, [notifications](HINTERNET session) {
            return ::WinHttpSetStatusCallback(session, statusCallback, notifications, 0) !=
                   WINHTTP_INVALID_STATUS_CALLBACK;
        });
    platform_ = state_->sessions->For(SessionRoute{});
    watchdog_ = std::thread([this] { watch(); });
}

WinHttpProber::~WinHttpProber() {
    std::vector<std::shared_ptr<Request>> open;
    {
        std::lock_guard<std::mutex> hold(state_->lock);
        state_->stopping = true;
        for (auto& entry : state_->live)
            open.push_back(entry.second);
    }
    state_->changed.notify_all();
    if (watchdog_.joinable())
        watchdog_.join();
    for (auto& request : open) {
        request->Close();
        if (wine && request->connected && !request->cut)
            cutConnection(request->connection);
    }
    open.clear();
    WaitIdle(CloseWaitMs);
    platform_.reset();
    state_->sessions->Close();
}

std::size_t WinHttpProber::Sessions() const {
    return state_->sessions->Open();
}

namespace {

// Opens the request on the session of its route and sends it; a failure ends it at once.
void openAndSend(const std::shared_ptr<WinHttpProber::Request>& request,
                 const SessionRoute& route) {
    WinHttpProber::State& state = *request->state;
    request->session = state.sessions->For(route);
    if (!request->session) {
        request->Finish(ReasonOfError(::GetLastError()), ::GetLastError());
        return;
    }
    // Wine only: Wine follows a redirect to another host by changing the host of the request's
    // connection handle, and every later request through that handle then goes there. So each
    // request has a connection handle of its own, closed at once: the request holds on to it.
    HINTERNET session = request->session->Handle();
    HINTERNET connect = wine ? ::WinHttpConnect(session, request->target.c_str(), request->port, 0)
                             : request->session->Connection(request->target, request->port);
    if (!connect) {
        request->Finish(ReasonOfError(::GetLastError()), ::GetLastError());
        return;
    }
    const SiteChecks& checks = request->checks;
    const DWORD flags = WINHTTP_FLAG_REFRESH | (request->secure ? WINHTTP_FLAG_SECURE : 0);
    request->handle = ::WinHttpOpenRequest(connect, L"GET", request->object.c_str(), nullptr,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
    const DWORD openError = ::GetLastError();
    if (wine)
        ::WinHttpCloseHandle(connect);
    ::SetLastError(openError);
    if (!request->handle) {
        request->Finish(ReasonOfError(::GetLastError()), ::GetLastError());
        return;
    }
    HINTERNET handle = request->handle;
    // The platform's own limits end a request on time where it honours them; a time-out of
    // 0 would mean none at all to it.
    const int limit = static_cast<int>(std::clamp<std::uint32_t>(request->timeOut, 1, 0x7fffffff));
    ::WinHttpSetTimeouts(handle, limit, limit, limit, limit);
    const int redirects =
        std::clamp(checks.Redirects, 0, static_cast<int>(WinHttpProber::MaxRedirects));
    const std::pair<DWORD, DWORD> options[] = {
        {WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, static_cast<DWORD>(limit)},
        {WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, static_cast<DWORD>(std::max(redirects, 1))},
        {WINHTTP_OPTION_MAX_RESPONSE_HEADER_SIZE, WinHttpProber::MaxHeaderBytes},
        {WINHTTP_OPTION_MAX_RESPONSE_DRAIN_SIZE, WinHttpProber::MaxBodyBytes},
    };
    for (const auto& [option, value] : options) {
        DWORD v = value;
        ::WinHttpSetOption(handle, option, &v, sizeof v);
    }
    if (redirects == 0) {
        // The first answer is the one judged, a redirect included.
        DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
        ::WinHttpSetOption(handle, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never);
        DWORD disable = WINHTTP_DISABLE_REDIRECTS;
        ::WinHttpSetOption(handle, WINHTTP_OPTION_DISABLE_FEATURE, &disable, sizeof disable);
    }
    if (wine && request->secure) {
        request->host = request->target;
        DWORD ignore = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                       SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
        ::WinHttpSetOption(handle, WINHTTP_OPTION_SECURITY_FLAGS, &ignore, sizeof ignore);
    }
    if (checks.Auth == SiteAuth::Default) {
        // The service account's own credentials, for this site only.
        DWORD low = WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW;
        ::WinHttpSetOption(handle, WINHTTP_OPTION_AUTOLOGON_POLICY, &low, sizeof low);
    }
    if (checks.WantsBody()) {
        // Where the platform offers it, a compressed page is undone before a text check reads
        // it; where not, none is asked for.
        DWORD decompress = WINHTTP_DECOMPRESSION_FLAG_ALL;
        ::WinHttpSetOption(handle, WINHTTP_OPTION_DECOMPRESSION, &decompress, sizeof decompress);
    }
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(request.get());
    ::WinHttpSetOption(handle, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context);
    {
        // Live from here: the handle-closing callback is what takes it out again.
        std::lock_guard<std::mutex> hold(state.lock);
        state.live.emplace(request.get(), request);
    }
    state.changed.notify_all();
    if (request->secure && !checks.Cert.empty() && !sendClientCertificate(*request, handle)) {
        request->End(ProbeReason::ConnectionFailed);
        return;
    }
    send(*request);
}

} // namespace

bool WinHttpProber::Start(std::size_t index, const SiteRecord& site, std::uint32_t timeOutMs,
                          Completion completion, Release release) {
    const std::string& url = site.Url;
    if (HasLive(url))
        return false;
    auto request = std::make_shared<Request>();
    request->state = state_;
    request->index = index;
    request->url = url;
    request->checks = site.Checks;
    request->proxy = site.Proxy;
    request->timeOut = timeOutMs;
    request->completion = std::move(completion);
    request->release = std::move(release);
    request->start = Clock::now();
    request->deadline = request->start + std::chrono::milliseconds(timeOutMs);

    const std::optional<std::string> wire = WireUrl(url);
    if (!wire) {
        request->Finish(ProbeReason::BadAddress);
        return true;
    }
    request->wireUrl = *wire;
    std::wstring wide = Widen(*wire);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!::WinHttpCrackUrl(wide.c_str(), static_cast<DWORD>(wide.size()), 0, &parts) ||
        parts.dwHostNameLength == 0) {
        request->Finish(ProbeReason::BadAddress, ::GetLastError());
        return true;
    }
    request->target.assign(parts.lpszHostName, parts.dwHostNameLength);
    request->port = parts.nPort;
    request->object.assign(parts.lpszUrlPath ? parts.lpszUrlPath : L"", parts.dwUrlPathLength);
    if (parts.lpszExtraInfo)
        request->object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (request->object.empty())
        request->object = L"/";
    request->secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

    const ProxySettings settings = site.Proxy ? *site.Proxy : ProxySettings{};
    const ProxyRoute route = PlanProxy(settings, *wire, site.Checks.Direct);
    if (route.Kind != ProxyRouteKind::Pac) {
        openAndSend(request, SessionRouteOf(route, settings));
        return true;
    }
    // The PAC file is asked on a thread of its own; the request opens on the session of the
    // proxy it names, within the probe's time-out.
    ResolvePacProxy(route.Pac, *wire, timeOutMs,
                    [request, route, settings](std::optional<std::wstring> proxy) {
                        if (!proxy) {
                            request->failDetail = "the PAC file could not be read";
                            request->Finish(ProbeReason::ConnectionFailed);
                        } else if (Clock::now() >= request->deadline) {
                            request->Finish(ProbeReason::TimedOut, ERROR_WINHTTP_TIMEOUT);
                        } else {
                            openAndSend(request, SessionRouteOf(route, settings, *proxy));
                        }
                    });
    return true;
}

std::size_t WinHttpProber::Live() const {
    std::lock_guard<std::mutex> hold(state_->lock);
    return state_->live.size();
}

bool WinHttpProber::HasLive(const std::string& url) const {
    std::lock_guard<std::mutex> hold(state_->lock);
    return std::any_of(state_->live.begin(), state_->live.end(), [&](const auto& entry) {
        return entry.second->url == url && !entry.second->closing;
    });
}

bool WinHttpProber::WaitIdle(std::uint32_t ms) const {
    std::unique_lock<std::mutex> hold(state_->lock);
    return state_->changed.wait_for(hold, std::chrono::milliseconds(ms),
                                    [&] { return state_->live.empty(); });
}

// The prober's own clock over every probe: at its time-out a probe is reported and its request
// closed, whether or not the platform's limits have ended it yet.
void WinHttpProber::watch() {
    std::unique_lock<std::mutex> hold(state_->lock);
    while (!state_->stopping) {
        Clock::time_point next = Clock::time_point::max();
        std::vector<std::shared_ptr<Request>> due;
        std::vector<std::pair<std::shared_ptr<Request>, WinHttpProbeResult>> held;
        const Clock::time_point now = Clock::now();
        for (auto& entry : state_->live) {
            Request& request = *entry.second;
            if (request.finished && !request.pending)
                continue;
            if (request.deadline > now) {
                next = std::min(next, request.deadline);
            } else if (!request.finished) {
                due.push_back(entry.second);
            } else {
                // Finished, and past its deadline the platform still holds it: it hangs.
                held.emplace_back(entry.second, *request.TakePending(false));
            }
        }
        if (!due.empty() || !held.empty()) {
            hold.unlock();
            for (auto& request : due)
                request->End(ProbeReason::TimedOut, ERROR_WINHTTP_TIMEOUT);
            // What the platform has not let go of at once is reported now, before the guard's
            // search for the connections (a long one on Wine) can make any probe late.
            hold.lock();
            for (auto& request : due)
                if (request->pending)
                    held.emplace_back(request, *request->TakePending(false));
            hold.unlock();
            for (auto& [request, result] : held)
                request->ReportHeld(result);
            for (auto& [request, result] : held)
                due.push_back(request);
            for (auto& request : due) {
                if (wine && request->connected && !request->cut.exchange(true))
                    cutConnection(request->connection);
            }
            due.clear();
            held.clear();
            hold.lock();
            continue;
        }
        if (next == Clock::time_point::max())
            state_->changed.wait(hold);
        else
            state_->changed.wait_until(hold, next);
    }
}

WinHttpEngineProbe::~WinHttpEngineProbe() {
    std::lock_guard<std::mutex> hold(open_->lock);
    open_->open = false;
}

void WinHttpEngineProbe::Start(ProbeTicket ticket, const SiteRecord& site, std::uint32_t timeOut) {
    const auto index = static_cast<std::size_t>(ticket);
    if (site.Benchmark) {
        startBenchmark(ticket, site, timeOut);
        return;
    }
    // The prober's result is the judge's verdict on its facts under the site's checks already.
    const bool started = prober_.Start(
        index, site, timeOut,
        [this](std::size_t done, const WinHttpProbeResult& result) {
            if (queue_.PushComplete(done, result, result.Released))
                wake_();
        },
        [this](std::size_t done) {
            if (queue_.PushReleased(done))
                wake_();
        });
    // The engine keeps an address to one live request, so the prober should never refuse one;
    // should it still hold a request for the address, the address is down without a new one.
    if (!started && queue_.PushComplete(ticket, ProbeResult::Down(ProbeReason::StillHanging)))
        wake_();
}

// A failed benchmark is reported once the step where the way out broke is known: its facts are
// gathered on a thread of their own, bounded by the probe's time-out (at least 2 s for the name
// lookup), and a Release the platform gives meanwhile follows the result.
void WinHttpEngineProbe::startBenchmark(ProbeTicket ticket, const SiteRecord& site,
                                        std::uint32_t timeOut) {
    struct Order {
        std::mutex lock;
        bool reported = false;
        bool releaseWaits = false;
    };
    auto order = std::make_shared<Order>();
    std::shared_ptr<Open> open = open_;
    const auto push = [this, open](const std::function<bool()>& what) {
        std::lock_guard<std::mutex> hold(open->lock);
        if (open->open && what())
            wake_();
    };
    const bool started = prober_.Start(
        static_cast<std::size_t>(ticket), site, timeOut,
        [this, order, push, site, timeOut](std::size_t done, const WinHttpProbeResult& result) {
            const auto report = [this, order, push, done](const WinHttpProbeResult& r) {
                push([&] { return queue_.PushComplete(done, r, r.Released); });
                bool release = false;
                {
                    std::lock_guard<std::mutex> hold(order->lock);
                    order->reported = true;
                    release = order->releaseWaits;
                }
                if (release)
                    push([&] { return queue_.PushReleased(done); });
            };
            if (result.Up) {
                report(result);
                return;
            }
            std::thread([report, result, site, timeOut] {
                WinHttpProbeResult traced = result;
                try {
                    traced.Step = PathStepWords(
                        GatherPathFacts(site, std::max<std::uint32_t>(timeOut, 2000)), result);
                } catch (...) {
                    // Without its step the reason still says what failed.
                }
                report(traced);
            }).detach();
        },
        [this, order, push](std::size_t done) {
            {
                std::lock_guard<std::mutex> hold(order->lock);
                if (!order->reported) {
                    order->releaseWaits = true;
                    return;
                }
            }
            push([&] { return queue_.PushReleased(done); });
        });
    if (!started)
        push([&] {
            return queue_.PushComplete(ticket, ProbeResult::Down(ProbeReason::StillHanging));
        });
}

WinHttpProbeResult ProbeAndWait(WinHttpProber& prober, const SiteRecord& site,
                                std::uint32_t timeOut) {
    auto answer = std::make_shared<std::promise<WinHttpProbeResult>>();
    std::future<WinHttpProbeResult> result = answer->get_future();
    if (!prober.Start(0, site, timeOut, [answer](std::size_t, const WinHttpProbeResult& r) {
            answer->set_value(r);
        })) {
        WinHttpProbeResult hanging;
        static_cast<ProbeResult&>(hanging) = ProbeResult::Down(ProbeReason::StillHanging);
        return hanging;
    }
    return result.get();
}

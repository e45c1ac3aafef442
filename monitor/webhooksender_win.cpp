#include <winsock2.h>

#include "monitor/webhooksender_win.h"

#include "base/thread_win.h"
#include "base/utf_win.h"
#include "monitor/proxyroute_win.h"
#include "monitor/urlwire_win.h"
#include "monitor/webhookbody.h"
#include "monitor/winhttpsession_win.h"

#include <winhttp.h>

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

namespace {

using ScopedInternet = ScopedHandle<NullHandleTraits<HINTERNET, ::WinHttpCloseHandle>>;

// The most a receiver's answer head may hold: WinHTTP's own default is larger than any
// receiver needs, and a peer that sends header lines without end must not fill the memory.
constexpr DWORD MaxAnswerHeadBytes = 16 * 1024;

struct Outcome {
    bool Delivered = false;
    bool WorthRetry = true;
    std::string Words; // "delivered", "HTTP status 404 from hooks.slack.com", ...
};

std::string computerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!::GetComputerNameW(name, &size))
        return "this computer";
    return Narrow(name);
}

// The words of a platform error; the host is named, the rest of the address never.
std::string errorWords(DWORD error, const std::string& host) {
    switch (error) {
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:
        return "timed out waiting for " + host;
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
        return "name not found: " + host;
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case WSAECONNREFUSED:
        return "could not connect to " + host;
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case WSAECONNRESET:
    case WSAECONNABORTED:
        return "connection to " + host + " lost";
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
        return "certificate not trusted: " + host;
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
        return "certificate is not for " + host;
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
        return "certificate of " + host + " out of date";
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
        return "certificate of " + host + " revoked";
    // Wine reports every fault of the certificate this way too.
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
        return "secure connection to " + host + " failed";
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
        return "no HTTP answer from " + host;
    default:
        return "connection to " + host + " failed (error " + std::to_string(error) + ")";
    }
}

// One POST of the body to the address, within the time limit, the way the proxy settings say;
// never follows a redirect, never lets a certificate fault pass.
Outcome postOnce(WinHttpSessions& sessions, const ProxySettings& proxy, const std::string& address,
                 const WebhookPost& post, int timeOut) {
    Outcome outcome;
    const std::optional<std::string> wire = WireUrl(address);
    if (!wire) {
        outcome.WorthRetry = false;
        outcome.Words = "not a valid address";
        return outcome;
    }
    std::wstring url = Widen(*wire);
    wchar_t host[256] = {};
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = 255;
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!::WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) {
        outcome.WorthRetry = false;
        outcome.Words = "not a valid address";
        return outcome;
    }
    const std::string hostName = Narrow(host);
    // The path holds the receiver's token: it goes out encrypted or not at all.
    if (parts.nScheme != INTERNET_SCHEME_HTTPS) {
        outcome.WorthRetry = false;
        outcome.Words = "not sent: the address is not https";
        return outcome;
    }
    std::wstring object(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.lpszExtraInfo)
        object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (object.empty())
        object = L"/";

    std::string failure;
    const std::shared_ptr<WinHttpSession> session =
        SessionForUrl(sessions, proxy, *wire, static_cast<std::uint32_t>(timeOut), failure);
    if (!session) {
        outcome.Words = failure;
        return outcome;
    }
    ScopedInternet connection(::WinHttpConnect(session->Handle(), host, parts.nPort, 0));
    ScopedInternet request;
    if (connection)
        request.Reset(::WinHttpOpenRequest(connection.Get(), L"POST", object.c_str(), nullptr,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                           WINHTTP_FLAG_SECURE));
    if (!request) {
        outcome.Words = errorWords(::GetLastError(), hostName);
        return outcome;
    }
    ::WinHttpSetTimeouts(request.Get(), timeOut, timeOut, timeOut, timeOut);
    // The receive limit of WinHttpSetTimeouts does not end a silent receiver everywhere.
    DWORD limit = static_cast<DWORD>(timeOut);
    ::WinHttpSetOption(request.Get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &limit,
                       sizeof limit);
    DWORD disable = WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_COOKIES;
    ::WinHttpSetOption(request.Get(), WINHTTP_OPTION_DISABLE_FEATURE, &disable, sizeof disable);
    DWORD headBytes = MaxAnswerHeadBytes;
    ::WinHttpSetOption(request.Get(), WINHTTP_OPTION_MAX_RESPONSE_HEADER_SIZE, &headBytes,
                       sizeof headBytes);

    std::string headers = "Content-Type: " + post.ContentType + "\r\n";
    for (const auto& header : post.Headers)
        headers += header.first + ": " + header.second + "\r\n";
    const std::wstring wideHeaders = Widen(headers);
    DWORD status = 0;
    std::string asked;
    // A proxy that asks who is calling is answered once, with the [Proxy] credentials.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!::WinHttpSendRequest(
                request.Get(), wideHeaders.c_str(), static_cast<DWORD>(wideHeaders.size()),
                const_cast<char*>(post.Body.data()), static_cast<DWORD>(post.Body.size()),
                static_cast<DWORD>(post.Body.size()), 0) ||
            !::WinHttpReceiveResponse(request.Get(), nullptr)) {
            outcome.Words = errorWords(::GetLastError(), hostName);
            return outcome;
        }
        DWORD size = sizeof status;
        if (!::WinHttpQueryHeaders(
                request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX) ||
            status == 0) {
            outcome.Words = "no HTTP answer from " + hostName;
            return outcome;
        }
        if (status != HTTP_STATUS_PROXY_AUTH_REQ || attempt > 0 ||
            !SetProxyCredentials(request.Get(), proxy, asked))
            break;
    }
    // The status says all; the body is never read, so a receiver that drips it byte by byte
    // or announces gigabytes costs nothing: closing the request lets the connection go.
    if (status >= 200 && status < 300) {
        outcome.Delivered = true;
        outcome.Words = "delivered";
        return outcome;
    }
    // A receiver that refuses the message refuses it again; one that is busy may take it later.
    outcome.WorthRetry = status >= 500 || status == 408 || status == 429;
    outcome.Words = "HTTP status " + std::to_string(status) + " from " + hostName;
    if (status == HTTP_STATUS_PROXY_AUTH_REQ && !asked.empty())
        outcome.Words += ": " + asked;
    return outcome;
}

} // namespace

struct WebhookSender::State {
    struct Channel {
        WebhookChannel Config;
        std::optional<AlertMessage> Pending; // to post now
        std::optional<AlertMessage> Held;    // not delivered: goes out with the next one
        bool Running = false;                // its thread is at work
        bool Dropped = false;                // no longer in the list
    };

    std::function<void(const std::string&)> onFailed;
    WebhookSenderOptions options;
    ProxySettings proxy; // guarded by lock
    std::string computer = computerName();

    std::mutex lock;
    std::condition_variable changed;
    std::map<std::string, std::shared_ptr<Channel>> channels; // by name and address
    int busy = 0;                                             // channel threads and tests at work
    int tests = 0;                                            // tests at work
    bool stopping = false;

    // Held while a callback runs, so that none runs once the sender is gone.
    std::mutex calls;
    bool silenced = false;

    void Tell(const std::function<void(const std::string&)>& to, const std::string& words) {
        std::lock_guard<std::mutex> hold(calls);
        if (!silenced && to)
            to(words);
    }

    // The back-off between posts: false when the sender goes away or the channel is dropped.
    bool Pause(const Channel& channel, int milliseconds) {
        std::unique_lock<std::mutex> hold(lock);
        return !changed.wait_for(hold, std::chrono::milliseconds(milliseconds),
                                 [&] { return stopping || channel.Dropped; });
    }

    ProxySettings Proxy() {
        std::lock_guard<std::mutex> hold(lock);
        return proxy;
    }

    Outcome Deliver(WinHttpSessions& sessions, Channel& channel, const AlertMessage& message) {
        Outcome outcome;
        int wait = options.FirstRetryMs;
        for (int attempt = 0; attempt < (options.Attempts < 1 ? 1 : options.Attempts); ++attempt) {
            if (attempt > 0) {
                if (!Pause(channel, wait))
                    break;
                wait *= 2;
            }
            WebhookChannel config;
            {
                std::lock_guard<std::mutex> hold(lock);
                config = channel.Config;
            }
            // Built for each post, so that a retry's timestamp is its own.
            const WebhookPost post = BuildWebhookPost(
                config, message, computer, static_cast<std::int64_t>(std::time(nullptr)));
            outcome = postOnce(sessions, Proxy(), config.Address, post, options.TimeOut);
            if (outcome.Delivered || !outcome.WorthRetry)
                break;
        }
        return outcome;
    }

    void Run(const std::shared_ptr<Channel>& channel) {
        WinHttpSessions sessions(L"Vigrel-Webhook", 0);
        for (;;) {
            AlertMessage message;
            std::string name;
            {
                std::lock_guard<std::mutex> hold(lock);
                if (!channel->Pending || channel->Dropped || stopping) {
                    channel->Running = false;
                    --busy;
                    changed.notify_all();
                    return;
                }
                message = std::move(*channel->Pending);
                channel->Pending.reset();
                name = channel->Config.Name;
            }
            const Outcome outcome = Deliver(sessions, *channel, message);
            if (outcome.Delivered)
                continue;
            {
                std::lock_guard<std::mutex> hold(lock);
                if (channel->Pending)
                    channel->Pending = MergeAlertMessages(message, *channel->Pending);
                else
                    channel->Held = std::move(message);
            }
            Tell(onFailed,
                 "The alert could not be delivered to webhook " + name + ": " + outcome.Words);
        }
    }
};

WebhookSender::WebhookSender(std::function<void(const std::string& line)> onFailed,
                             WebhookSenderOptions options)
    : state_(std::make_shared<State>()) {
    state_->onFailed = std::move(onFailed);
    state_->options = options;
}

WebhookSender::~WebhookSender() {
    {
        std::lock_guard<std::mutex> hold(state_->lock);
        state_->stopping = true;
        for (auto& entry : state_->channels)
            entry.second->Pending.reset();
    }
    state_->changed.notify_all();
    std::lock_guard<std::mutex> hold(state_->calls);
    state_->silenced = true;
}

void WebhookSender::SetProxy(const ProxySettings& proxy) {
    std::lock_guard<std::mutex> hold(state_->lock);
    state_->proxy = proxy;
}

void WebhookSender::Send(const std::vector<WebhookChannel>& channels, const AlertMessage& message) {
    std::vector<std::shared_ptr<State::Channel>> start;
    {
        std::lock_guard<std::mutex> hold(state_->lock);
        std::map<std::string, std::shared_ptr<State::Channel>> kept;
        for (const WebhookChannel& config : channels) {
            const std::string key = config.Name + "\n" + config.Address;
            if (kept.count(key))
                continue;
            auto found = state_->channels.find(key);
            std::shared_ptr<State::Channel> channel = found != state_->channels.end()
                                                          ? found->second
                                                          : std::make_shared<State::Channel>();
            channel->Config = config;
            if (!message.Empty()) {
                if (channel->Pending)
                    channel->Pending = MergeAlertMessages(*channel->Pending, message);
                else if (channel->Held)
                    channel->Pending = MergeAlertMessages(*channel->Held, message);
                else
                    channel->Pending = message;
                channel->Held.reset();
            }
            if (channel->Pending && !channel->Running) {
                channel->Running = true;
                ++state_->busy;
                start.push_back(channel);
            }
            kept.emplace(key, channel);
        }
        for (auto& entry : state_->channels)
            if (!kept.count(entry.first)) {
                entry.second->Dropped = true;
                entry.second->Pending.reset();
            }
        state_->channels.swap(kept);
    }
    state_->changed.notify_all();
    for (auto& channel : start) {
        std::shared_ptr<State> state = state_;
        ScopedKernelHandle thread = StartThread([state, channel]() -> DWORD {
            try {
                state->Run(channel);
            } catch (...) {
                std::lock_guard<std::mutex> hold(state->lock);
                channel->Running = false;
                --state->busy;
                state->changed.notify_all();
            }
            return 0;
        });
        if (!thread) {
            std::lock_guard<std::mutex> hold(state_->lock);
            channel->Running = false;
            --state_->busy;
        }
    }
}

void WebhookSender::Test(const WebhookChannel& channel,
                         std::function<void(const std::string&)> done) {
    std::shared_ptr<State> state = state_;
    bool full = false;
    {
        std::lock_guard<std::mutex> hold(state->lock);
        full = state->tests >= MaxWebhookTests;
        if (!full) {
            ++state->busy;
            ++state->tests;
        }
    }
    if (full) {
        state->Tell(done, "not sent: " + std::to_string(MaxWebhookTests) +
                              " tests are still waiting for their receivers; try again later");
        return;
    }
    const auto finish = [state] {
        std::lock_guard<std::mutex> hold(state->lock);
        --state->busy;
        --state->tests;
        state->changed.notify_all();
    };
    ScopedKernelHandle thread = StartThread([state, channel, done, finish]() -> DWORD {
        std::string words;
        try {
            WinHttpSessions sessions(L"Vigrel-Webhook", 0);
            const WebhookPost post = BuildWebhookTest(
                channel, state->computer, static_cast<std::int64_t>(std::time(nullptr)));
            words =
                postOnce(sessions, state->Proxy(), channel.Address, post, state->options.TimeOut)
                    .Words;
        } catch (...) {
            words = "not sent: out of memory";
        }
        state->Tell(done, words);
        finish();
        return 0;
    });
    if (!thread) {
        finish();
        state->Tell(done, "not sent: no thread could be started");
    }
}

bool WebhookSender::WaitIdle(DWORD milliseconds) const {
    std::unique_lock<std::mutex> hold(state_->lock);
    return state_->changed.wait_for(hold, std::chrono::milliseconds(milliseconds),
                                    [this] { return state_->busy == 0; });
}

// The webhook channels' deliveries: each channel has a queue and a thread of its own, so a
// receiver that is slow or down never delays a check, the mail or another channel. A message is
// posted with a time limit and a few retries with back-off; one that still could not be
// delivered is reported (the log and event 201) and goes out again with the channel's next
// message, never lost silently.
#pragma once

#include <windows.h>

#include "monitor/alertrules.h"
#include "settings/alertsettings.h"
#include "settings/proxysettings.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Every wait of one post (resolve, connect, send, receive), in milliseconds.
constexpr int WebhookTimeOut = 10000;
// Posts of one message before it counts as not delivered, and the wait before the first retry,
// doubled before each further one.
constexpr int WebhookAttempts = 3;
constexpr int WebhookFirstRetryMs = 2000;

// Tests in flight at once, as for the checklist's threads: a client that asks for test after
// test, leaving each, must not start a thread for every one while a receiver holds them.
constexpr int MaxWebhookTests = 4;

struct WebhookSenderOptions {
    int TimeOut = WebhookTimeOut;
    int Attempts = WebhookAttempts;
    int FirstRetryMs = WebhookFirstRetryMs;
};

class WebhookSender {
public:
    // onFailed: a message not delivered to a channel, in words that name the channel and never
    // its address ("The alert could not be delivered to webhook ops: HTTP status 404 from
    // hooks.slack.com"); called on the channel's thread.
    explicit WebhookSender(std::function<void(const std::string& line)> onFailed,
                           WebhookSenderOptions options = {});
    // Threads still posting are not waited for: each gives up within its time limits.
    ~WebhookSender();
    WebhookSender(const WebhookSender&) = delete;
    WebhookSender& operator=(const WebhookSender&) = delete;

    // The way out for the posts from now on, as the checks go ([Proxy]): the platform's own
    // until it is set.
    void SetProxy(const ProxySettings& proxy);
    // Hands the message to every channel; returns at once. A channel whose earlier message is
    // still waiting gets both in one. A channel no longer in the list is dropped with what it
    // held.
    void Send(const std::vector<WebhookChannel>& channels, const AlertMessage& message);
    // Posts a test message to the channel once, without retries, on a thread of its own; done
    // gets the outcome in words ("delivered", "HTTP status 404 from hooks.slack.com",
    // "certificate not trusted"), on that thread. With MaxWebhookTests still in flight it is
    // refused: done is told so at once, on the caller's thread.
    void Test(const WebhookChannel& channel, std::function<void(const std::string&)> done);
    // True when no channel has a message in flight or waiting, waiting at most milliseconds.
    bool WaitIdle(DWORD milliseconds) const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

// What each kind of webhook receiver is sent for one alert message: a Teams Workflows webhook an
// Adaptive Card, Slack a text with a block per change, ntfy the text with its title, priority and
// tags headers, and our own JSON document signed with HMAC-SHA256. Portable: the sender posts
// what this builds, the tests parse it as the receivers would.
#pragma once

#include "monitor/alertrules.h"
#include "settings/alertsettings.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The header of a json channel's signature: "sha256=" and the hexadecimal HMAC-SHA256, under
// the channel's secret, of the timestamp, a ".", and the body.
inline constexpr const char* WebhookSignatureHeader = "X-Vigrel-Signature-256";
// The header of the timestamp the signature covers: seconds since 1970 UTC, in decimal.
inline constexpr const char* WebhookTimestampHeader = "X-Vigrel-Timestamp";

struct WebhookPost {
    std::string ContentType;
    std::vector<std::pair<std::string, std::string>> Headers; // besides Content-Type
    std::string Body;
};

// A JSON string literal of the text, quotes included: quotes, backslashes and every control
// character escaped, U+2028 and U+2029 too, and a byte that is not well-formed UTF-8 replaced
// by U+FFFD, so that no text of a site or a peer can break the document.
std::string JsonString(std::string_view text);
// The text as one HTTP header's value: control characters (a line break would begin a header
// of its own) become blanks, and text beyond ASCII is sent as RFC 2047 encoded words.
std::string HeaderValue(std::string_view text);

// What one message posts to the channel. computer names the machine the monitor runs on;
// unixTime (seconds since 1970 UTC) stamps the json kind's body and signature.
WebhookPost BuildWebhookPost(const WebhookChannel& channel, const AlertMessage& message,
                             const std::string& computer, std::int64_t unixTime);
// The dialog's "Send a test": a message of the channel's kind that says it is a test.
WebhookPost BuildWebhookTest(const WebhookChannel& channel, const std::string& computer,
                             std::int64_t unixTime);

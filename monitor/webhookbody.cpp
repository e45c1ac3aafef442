#include "monitor/webhookbody.h"

#include "base/civil.h"
#include "base/product.h"
#include "base/sha256.h"
#include "monitor/sitetransitions.h"

#include <cstddef>
#include <cstdio>

namespace {

// What the receivers refuse, with room to spare: a Teams message may hold about 28 KB (some
// tenants refuse less), a Slack message 50 blocks, a section 3,000 characters and all its
// blocks about 13,000, a header 150; ntfy turns a message above 4,096 bytes into an attachment.
constexpr std::size_t TeamsBudget = 20000;
constexpr std::size_t SlackBlocks = 50;
constexpr std::size_t SlackSectionText = 2900;
constexpr std::size_t SlackBlocksText = 11000;
constexpr std::size_t SlackHeaderText = 140;
constexpr std::size_t SlackFallbackText = 3000;
constexpr std::size_t NtfyBudget = 3900;
// Our own document has no receiver's limit, only a sane bound for whoever stores it.
constexpr std::size_t JsonBudget = 512 * 1024;

// The code point at text[i] and its length in bytes; a sequence that is not well-formed UTF-8
// (overlong, a surrogate, above U+10FFFF, cut short) gives U+FFFD for its first byte.
char32_t nextCodePoint(std::string_view text, std::size_t i, std::size_t& length) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    length = 1;
    if (lead < 0x80)
        return lead;
    std::size_t need = 0;
    char32_t value = 0;
    char32_t least = 0;
    if (lead >= 0xc2 && lead <= 0xdf) {
        need = 1;
        value = lead & 0x1f;
        least = 0x80;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        need = 2;
        value = lead & 0x0f;
        least = 0x800;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        need = 3;
        value = lead & 0x07;
        least = 0x10000;
    } else {
        return 0xfffd;
    }
    if (i + need >= text.size())
        return 0xfffd;
    for (std::size_t k = 1; k <= need; ++k) {
        if ((byte(i + k) & 0xc0) != 0x80)
            return 0xfffd;
        value = value << 6 | (byte(i + k) & 0x3f);
    }
    if (value < least || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff))
        return 0xfffd;
    length = need + 1;
    return value;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xc0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3f));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xe0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3f));
        out += static_cast<char>(0x80 | (c & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3f));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3f));
        out += static_cast<char>(0x80 | (c & 0x3f));
    }
}

// The text as well-formed UTF-8, each broken sequence replaced by U+FFFD.
std::string wellFormed(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0, length = 0; i < text.size(); i += length)
        appendUtf8(out, nextCodePoint(text, i, length));
    return out;
}

// At most limit bytes of the text, cut before a character, not inside one, with "..." when cut.
std::string cutText(const std::string& text, std::size_t limit) {
    if (text.size() <= limit)
        return text;
    std::size_t end = limit > 3 ? limit - 3 : 0;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xc0) == 0x80)
        --end;
    return text.substr(0, end) + "...";
}

std::string moreLine(std::size_t left) {
    return "... and " + std::to_string(left) + (left == 1 ? " more change" : " more changes");
}

// "2026-12-09T10:30:00" of seconds since 1970-01-01 00:00 of some clock.
std::string isoTime(std::int64_t seconds) {
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    const CivilDate date = CivilFromDays(days);
    char text[128];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02lld:%02lld:%02lld", date.Year, date.Month,
                  date.Day, static_cast<long long>(rest / 3600),
                  static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
    return text;
}

// "2026-12-09 10:30" for the people who read the message.
std::string shownTime(std::int64_t seconds) {
    std::string iso = isoTime(seconds).substr(0, 16);
    iso[10] = ' ';
    return iso;
}

std::string base64(std::string_view bytes) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k)
            group = group << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0);
        for (std::size_t k = 0; k < 4; ++k)
            out += k <= n ? digits[group >> (18 - 6 * k) & 63] : '=';
    }
    return out;
}

// What every kind tells, in words: the title, a line per change, the link's notice and where
// and when it comes from.
struct Words {
    std::string Title;
    std::vector<std::string> Lines;
    std::string Link;   // empty: none
    std::string Footer; // "From SERVER at 2026-12-09 10:30"
};

Words wordsOf(const AlertMessage& message, const std::string& computer) {
    Words words;
    words.Title = AlertTitle(message);
    // The changes kept are the newest: what was left out came before them.
    if (message.LeftOut > 0)
        words.Lines.push_back(std::to_string(message.LeftOut) +
                              (message.LeftOut == 1 ? " earlier change" : " earlier changes") +
                              " left out: they waited too long for the receiver");
    for (const SiteAlert& change : message.Changes)
        words.Lines.push_back(AlertLine(change));
    if (message.Link)
        words.Link = LinkNoticeLine(*message.Link);
    words.Footer = "From " + computer + " at " + shownTime(message.Time);
    return words;
}

Words testWords(const WebhookChannel& channel, const std::string& computer) {
    Words words;
    words.Title = std::string("Test message from ") + BrandName;
    words.Lines.push_back("The webhook channel " + channel.Name + " on " + computer +
                          " works: alerts about the sites will come here.");
    words.Footer = "From " + computer;
    return words;
}

// A Teams Workflows webhook takes a message with the card as its one attachment.
std::string teamsBody(const Words& words) {
    const auto block = [](const std::string& text, const char* extra) {
        return "{\"type\":\"TextBlock\",\"text\":" + JsonString(text) + ",\"wrap\":true" + extra +
               "}";
    };
    std::string tail;
    if (!words.Link.empty())
        tail += "," + block(words.Link, "");
    tail += "," + block(words.Footer, ",\"isSubtle\":true,\"size\":\"Small\"");
    std::string body = block(words.Title, ",\"weight\":\"Bolder\",\"size\":\"Medium\"");
    const std::string head =
        "{\"type\":\"message\",\"attachments\":[{\"contentType\":\"application/"
        "vnd.microsoft.card.adaptive\",\"contentUrl\":null,\"content\":{\"$schema\":\"http://"
        "adaptivecards.io/schemas/adaptive-card.json\",\"type\":\"AdaptiveCard\",\"version\":"
        "\"1.4\",\"msteams\":{\"width\":\"Full\"},\"body\":[";
    const std::string end = "]}}]}";
    const std::size_t room = TeamsBudget - head.size() - end.size() - tail.size() - 200;
    for (std::size_t i = 0; i < words.Lines.size(); ++i) {
        const std::string next = "," + block(cutText(words.Lines[i], 2000), "");
        if (body.size() + next.size() > room) {
            body += "," + block(moreLine(words.Lines.size() - i), "");
            break;
        }
        body += next;
    }
    return head + body + tail + end;
}

std::string slackEscaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;
    }
    return out;
}

std::string slackSection(const std::string& text) {
    return "{\"type\":\"section\",\"text\":{\"type\":\"mrkdwn\",\"text\":" +
           JsonString(cutText(slackEscaped(text), SlackSectionText)) + "}}";
}

// Slack shows text as the notification and where blocks cannot be shown; the blocks carry a
// section per change.
std::string slackBody(const Words& words) {
    std::string fallback = words.Title;
    std::size_t shown = 0;
    for (; shown < words.Lines.size(); ++shown) {
        if (fallback.size() + words.Lines[shown].size() + 1 > SlackFallbackText - 40)
            break;
        fallback += "\n" + words.Lines[shown];
    }
    if (shown < words.Lines.size())
        fallback += "\n" + moreLine(words.Lines.size() - shown);
    else if (!words.Link.empty() && fallback.size() + words.Link.size() < SlackFallbackText)
        fallback += "\n" + words.Link;

    std::string blocks = "{\"type\":\"header\",\"text\":{\"type\":\"plain_text\",\"text\":" +
                         JsonString(cutText(words.Title, SlackHeaderText)) + "}}";
    std::size_t count = 1;
    std::size_t text = words.Title.size();
    std::string tail;
    std::size_t tailCount = 1; // the context block
    if (!words.Link.empty()) {
        tail += "," + slackSection(words.Link);
        ++tailCount;
        text += words.Link.size();
    }
    tail += ",{\"type\":\"context\",\"elements\":[{\"type\":\"mrkdwn\",\"text\":" +
            JsonString(slackEscaped(words.Footer)) + "}]}";
    text += words.Footer.size();
    for (std::size_t i = 0; i < words.Lines.size(); ++i) {
        const std::size_t size =
            words.Lines[i].size() < SlackSectionText ? words.Lines[i].size() : SlackSectionText;
        // One block stays free for the count of the changes left out.
        if (count + tailCount + 2 > SlackBlocks || text + size + 40 > SlackBlocksText) {
            blocks += "," + slackSection(moreLine(words.Lines.size() - i));
            break;
        }
        blocks += "," + slackSection(words.Lines[i]);
        ++count;
        text += size;
    }
    return "{\"text\":" + JsonString(slackEscaped(fallback)) + ",\"blocks\":[" + blocks + tail +
           "]}";
}

std::string ntfyBody(const Words& words) {
    std::string tail;
    if (!words.Link.empty())
        tail += "\n" + words.Link;
    tail += "\n" + words.Footer;
    std::string body;
    for (std::size_t i = 0; i < words.Lines.size(); ++i) {
        const std::string line = cutText(words.Lines[i], 1000);
        if (body.size() + line.size() + tail.size() + 40 > NtfyBudget) {
            body += (body.empty() ? "" : "\n") + moreLine(words.Lines.size() - i);
            break;
        }
        body += (body.empty() ? "" : "\n") + line;
    }
    body += tail;
    if (body.front() == '\n')
        body.erase(0, 1);
    return cutText(wellFormed(body), NtfyBudget);
}

const char* kindWord(SiteAlert::Kind kind) {
    switch (kind) {
    case SiteAlert::Down:
        return "down";
    case SiteAlert::BackUp:
        return "back_up";
    case SiteAlert::Flapping:
        return "flapping";
    case SiteAlert::Warning:
        return "warning";
    case SiteAlert::Reminder:
        return "reminder";
    }
    return "down";
}

std::string jsonChange(const SiteAlert& change) {
    std::string out = "{\"kind\":\"" + std::string(kindWord(change.What)) +
                      "\",\"url\":" + JsonString(UrlWithMaskedPassword(change.Url)) +
                      ",\"text\":" + JsonString(AlertLine(change)) + ",\"reason\":";
    out += change.Reason.empty() || change.What == SiteAlert::BackUp ? "null"
                                                                     : JsonString(change.Reason);
    out += ",\"since\":";
    out += change.Since ? "\"" + isoTime(change.Since) + "\"" : "null";
    out += ",\"down_for_seconds\":";
    out += change.What == SiteAlert::BackUp ? std::to_string(change.DownFor) : "null";
    out += ",\"after_maintenance\":";
    out += change.AfterMaintenance ? "true" : "false";
    return out + "}";
}

std::string jsonBody(const AlertMessage* message, const Words& words, const std::string& computer,
                     std::int64_t unixTime) {
    std::string out = "{\"version\":1,\"test\":";
    out += message ? "false" : "true";
    out += ",\"computer\":" + JsonString(computer) + ",\"sent\":" + std::to_string(unixTime) +
           ",\"time\":";
    out += message ? "\"" + isoTime(message->Time) + "\"" : "null";
    out += ",\"title\":" + JsonString(words.Title) + ",\"text\":";
    std::string text;
    for (const std::string& line : words.Lines)
        text += (text.empty() ? "" : "\n") + line;
    if (!words.Link.empty())
        text += (text.empty() ? "" : "\n") + words.Link;
    out += JsonString(cutText(text, 64 * 1024));
    std::string link = "null";
    if (message && message->Link)
        link = "{\"from\":\"" + isoTime(message->Link->From) + "\",\"to\":\"" +
               isoTime(message->Link->To) + "\",\"reason\":" + JsonString(message->Link->Reason) +
               ",\"text\":" + JsonString(words.Link) + "}";
    std::string changes;
    std::size_t left = 0;
    if (message) {
        const std::size_t room = JsonBudget - out.size() - link.size() - 200;
        for (std::size_t i = 0; i < message->Changes.size(); ++i) {
            const std::string next = jsonChange(message->Changes[i]);
            if (changes.size() + next.size() + 1 > room) {
                left = message->Changes.size() - i;
                break;
            }
            changes += (changes.empty() ? "" : ",") + next;
        }
    }
    if (message)
        left += message->LeftOut;
    return out + ",\"changes\":[" + changes + "],\"changes_left_out\":" + std::to_string(left) +
           ",\"link\":" + link + "}";
}

WebhookPost postOf(const WebhookChannel& channel, const Words& words, const AlertMessage* message,
                   const std::string& computer, std::int64_t unixTime) {
    WebhookPost post;
    switch (channel.Kind) {
    case WebhookKind::Teams:
        post.ContentType = "application/json";
        post.Body = teamsBody(words);
        break;
    case WebhookKind::Slack:
        post.ContentType = "application/json";
        post.Body = slackBody(words);
        break;
    case WebhookKind::Ntfy: {
        post.ContentType = "text/plain; charset=utf-8";
        post.Body = ntfyBody(words);
        bool down = false, up = false, warned = false;
        if (message)
            for (const SiteAlert& change : message->Changes) {
                down |= change.What != SiteAlert::BackUp && change.What != SiteAlert::Warning;
                up |= change.What == SiteAlert::BackUp;
                warned |= change.What == SiteAlert::Warning;
            }
        std::string tags;
        const auto tag = [&tags](const char* name) {
            tags += (tags.empty() ? "" : ",") + std::string(name);
        };
        if (down)
            tag("rotating_light");
        if (up)
            tag("white_check_mark");
        if (warned)
            tag("warning");
        if (message && message->Link)
            tag("electric_plug");
        if (!message)
            tag("test_tube");
        post.Headers.emplace_back("Title", HeaderValue(words.Title));
        post.Headers.emplace_back("Priority", down ? "high" : "default");
        post.Headers.emplace_back("Tags", tags);
        break;
    }
    case WebhookKind::Json:
        post.ContentType = "application/json";
        post.Body = jsonBody(message, words, computer, unixTime);
        if (!channel.Secret.empty()) {
            const std::string stamp = std::to_string(unixTime);
            post.Headers.emplace_back(WebhookTimestampHeader, stamp);
            post.Headers.emplace_back(
                WebhookSignatureHeader,
                "sha256=" + HexOf(HmacSha256(channel.Secret, stamp + "." + post.Body)));
        }
        break;
    }
    return post;
}

} // namespace

std::string JsonString(std::string_view text) {
    static const char hex[] = "0123456789abcdef";
    std::string out = "\"";
    out.reserve(text.size() + 2);
    for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
        const char32_t c = nextCodePoint(text, i, length);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7f) {
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else if (c == 0x2028 || c == 0x2029) {
            // Valid JSON, but not valid inside a JavaScript string literal of older engines.
            out += c == 0x2028 ? "\\u2028" : "\\u2029";
        } else {
            appendUtf8(out, c);
        }
    }
    return out + "\"";
}

std::string HeaderValue(std::string_view text) {
    // Control characters would end the header or start another: each becomes a blank.
    std::string plain;
    bool ascii = true;
    for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
        const char32_t c = nextCodePoint(text, i, length);
        if (c < 0x20 || c == 0x7f || (c >= 0x80 && c < 0xa0)) {
            plain += ' ';
            continue;
        }
        ascii &= c < 0x80;
        appendUtf8(plain, c);
    }
    if (ascii)
        return plain;
    // RFC 2047 encoded words of at most 75 characters: 45 bytes of text each, cut between
    // characters, separated by a blank that the decoder drops.
    std::string out;
    for (std::size_t i = 0; i < plain.size();) {
        std::size_t end = i + 45 < plain.size() ? i + 45 : plain.size();
        while (end < plain.size() && (static_cast<unsigned char>(plain[end]) & 0xc0) == 0x80)
            --end;
        out += (out.empty() ? "" : " ") + std::string("=?UTF-8?B?") +
               base64(std::string_view(plain).substr(i, end - i)) + "?=";
        i = end;
    }
    return out;
}

WebhookPost BuildWebhookPost(const WebhookChannel& channel, const AlertMessage& message,
                             const std::string& computer, std::int64_t unixTime) {
    return postOf(channel, wordsOf(message, computer), &message, computer, unixTime);
}

WebhookPost BuildWebhookTest(const WebhookChannel& channel, const std::string& computer,
                             std::int64_t unixTime) {
    return postOf(channel, testWords(channel, computer), nullptr, computer, unixTime);
}

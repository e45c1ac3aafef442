#include "control/protocol.h"

#include "base/text.h"
#include "settings/inivalues.h"
#include "settings/settingsrules.h"
#include "settings/settingstable.h"
#include "settings/sitechecks.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <set>
#include <string_view>

namespace {

bool validName(const std::string& name) {
    if (name.empty())
        return false;
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
            return false;
    return true;
}

std::string escape(const std::string& value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

bool unescape(const std::string& text, std::string& value) {
    value.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            value += text[i];
            continue;
        }
        if (++i == text.size())
            return false;
        switch (text[i]) {
        case '\\':
            value += '\\';
            break;
        case 'n':
            value += '\n';
            break;
        case 'r':
            value += '\r';
            break;
        default:
            return false;
        }
    }
    return true;
}

std::string number(std::int32_t value) {
    return std::to_string(value);
}

std::size_t fieldSize(const std::string& name, const std::string& value) {
    return name.size() + 1 + escape(value).size() + 1;
}

std::size_t encodedSize(const ControlMessage& message) {
    std::size_t size = message.Type.size() + 1;
    for (const auto& [name, value] : message.Fields)
        size += fieldSize(name, value);
    return size;
}

// The tip of a status that does not fit whole: its first lines within StatusTipBudget bytes
// (escaped), and a last line that says how many were left out. A first line longer than the
// budget is cut where no UTF-8 character is split.
std::string cutTip(const std::string& tip) {
    constexpr std::size_t room = StatusTipBudget - 64; // for the closing line
    std::vector<std::string> lines;
    for (std::size_t start = 0;;) {
        const std::size_t end = tip.find("\r\n", start);
        lines.push_back(tip.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos)
            break;
        start = end + 2;
    }
    std::string kept;
    std::size_t taken = 0;
    for (; taken < lines.size(); ++taken) {
        const std::string next = taken == 0 ? lines[0] : kept + "\r\n" + lines[taken];
        if (escape(next).size() > room)
            break;
        kept = next;
    }
    if (taken == lines.size())
        return tip;
    if (taken == 0) {
        std::size_t cut = room / 2; // every byte may need two when escaped
        while (cut > 0 && (static_cast<unsigned char>(lines[0][cut]) & 0xC0) == 0x80)
            --cut;
        return lines[0].substr(0, cut) + "...";
    }
    return kept + "\r\n... and " + std::to_string(lines.size() - taken) + " more";
}

std::string tooManyUrls(int count) {
    return "The list of " + std::to_string(count) + " addresses is too large for one message of " +
           std::to_string(MaxMessageSize / 1024) +
           " KiB; edit the list in Vigrel.INI beside the service.";
}

} // namespace

std::string ControlMessage::Get(const std::string& name, const std::string& fallback) const {
    for (const auto& field : Fields)
        if (field.first == name)
            return field.second;
    return fallback;
}

bool ControlMessage::Has(const std::string& name) const {
    for (const auto& field : Fields)
        if (field.first == name)
            return true;
    return false;
}

std::vector<std::string> ControlMessage::GetAll(const std::string& name) const {
    std::vector<std::string> values;
    for (const auto& field : Fields)
        if (field.first == name)
            values.push_back(field.second);
    return values;
}

std::string EncodeMessage(const ControlMessage& message) {
    if (!validName(message.Type))
        return {};
    std::string bytes = message.Type + "\n";
    for (const auto& [name, value] : message.Fields) {
        if (!validName(name))
            return {};
        bytes += name + "=" + escape(value) + "\n";
        if (bytes.size() > MaxMessageSize)
            return {};
    }
    return bytes.size() > MaxMessageSize ? std::string() : bytes;
}

std::optional<ControlMessage> DecodeMessage(const std::string& bytes, std::string& error) {
    if (bytes.empty()) {
        error = "empty message";
        return std::nullopt;
    }
    if (bytes.size() > MaxMessageSize) {
        error = "message larger than " + std::to_string(MaxMessageSize) + " bytes";
        return std::nullopt;
    }
    ControlMessage message;
    size_t start = 0;
    bool first = true;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            end = bytes.size(); // the last line may come without its LF
        const std::string line = bytes.substr(start, end - start);
        start = end + 1;
        if (first) {
            if (!validName(line)) {
                error = "no message type";
                return std::nullopt;
            }
            message.Type = line;
            first = false;
            continue;
        }
        const size_t equals = line.find('=');
        std::string value;
        if (equals == std::string::npos || !validName(line.substr(0, equals)) ||
            !unescape(line.substr(equals + 1), value)) {
            error = "malformed field line";
            return std::nullopt;
        }
        message.Add(line.substr(0, equals), value);
    }
    return message;
}

namespace {

// A failed site travels as its address, then why= and ms= of that address: an older client
// reads the addresses alone.
void addFailedSite(ControlMessage& message, const FailedSite& site) {
    message.Add("failed", site.Url)
        .Add("why", site.Reason)
        .Add("ms", std::to_string(site.Milliseconds));
}

// A warned site travels as warned= and why=, before the failed sites: an older client, which
// takes each why= for the failed site before it, then finds none to give it to.
void addWarnedSite(ControlMessage& message, const FailedSite& site) {
    message.Add("warned", site.Url).Add("why", site.Reason);
}

std::size_t sizeOf(const ControlMessage& message) {
    std::size_t size = 0;
    for (const auto& [name, value] : message.Fields)
        size += fieldSize(name, value);
    return size;
}

} // namespace

ControlMessage StatusMessage(const MonitorStatus& status) {
    const std::string lastCycle = status.LastCycleEnd;
    const std::string running = status.CycleRunning ? "1" : "0";
    // An older companion drops a status whose picture it does not know: "up, with warnings"
    // goes as "all up" and warnings=1, which it ignores.
    const bool warnings = status.Picture == PictureWarnings;
    const auto build = [&](const std::string& tip, std::size_t warnedCount,
                           std::size_t failedCount) {
        ControlMessage message(msg::Status);
        message.Add("picture", number(warnings ? PictureAllUp : status.Picture)).Add("tip", tip);
        if (warnings)
            message.Add("warnings", "1");
        for (std::size_t i = 0; i < warnedCount; ++i)
            addWarnedSite(message, status.Warnings[i]);
        for (std::size_t i = 0; i < failedCount; ++i)
            addFailedSite(message, status.Failed[i]);
        message.Add("lastcycle", lastCycle).Add("running", running);
        if (!status.Maintenance.empty())
            message.Add("maintenance", status.Maintenance);
        const std::size_t more = status.More + (status.Failed.size() - failedCount);
        if (more > 0)
            message.Add("more", std::to_string(more));
        const std::size_t moreWarned = status.MoreWarnings + (status.Warnings.size() - warnedCount);
        if (moreWarned > 0)
            message.Add("morewarned", std::to_string(moreWarned));
        return message;
    };
    ControlMessage whole = build(status.Tip, status.Warnings.size(), status.Failed.size());
    if (!EncodeMessage(whole).empty())
        return whole;

    const std::string tip = cutTip(status.Tip);
    // Room for the fixed fields, and for both counts at their widest; the failed sites first,
    // then the warned ones in what is left.
    std::size_t used = encodedSize(build(tip, 0, 0)) + fieldSize("more", "18446744073709551615") +
                       fieldSize("morewarned", "18446744073709551615");
    const auto fit = [&](const std::vector<FailedSite>& sites, auto add) {
        std::size_t fitting = 0;
        for (; fitting < sites.size(); ++fitting) {
            ControlMessage site;
            add(site, sites[fitting]);
            const std::size_t next = sizeOf(site);
            if (used + next > MaxMessageSize)
                break;
            used += next;
        }
        return fitting;
    };
    const std::size_t failed = fit(status.Failed, addFailedSite);
    const std::size_t warned = fit(status.Warnings, addWarnedSite);
    return build(tip, warned, failed);
}

std::optional<MonitorStatus> StatusFromMessage(const ControlMessage& message) {
    if (message.Type != msg::Status)
        return std::nullopt;
    MonitorStatus status;
    const std::optional<std::int32_t> picture = WholeNumber(message.Get("picture"));
    if (!picture || *picture < 0 || *picture > 3)
        return std::nullopt;
    status.Picture =
        *picture == PictureAllUp && message.Get("warnings") == "1" ? PictureWarnings : *picture;
    status.Tip = message.Get("tip");
    // Each site's details follow its address; a monitor that sends none leaves them empty.
    FailedSite* last = nullptr;
    for (const auto& [name, value] : message.Fields) {
        if (name == "failed") {
            status.Failed.push_back({value, {}, 0});
            last = &status.Failed.back();
        } else if (name == "warned") {
            status.Warnings.push_back({value, {}, 0});
            last = &status.Warnings.back();
        } else if (name == "why" && last) {
            last->Reason = value;
        } else if (name == "ms" && last) {
            last->Milliseconds =
                static_cast<std::uint32_t>(std::max(0, WholeNumber(value).value_or(0)));
        }
    }
    for (const auto& [name, count] :
         {std::pair{"more", &status.More}, std::pair{"morewarned", &status.MoreWarnings}}) {
        if (!message.Has(name))
            continue;
        const std::optional<std::int32_t> more = WholeNumber(message.Get(name));
        if (!more || *more < 0)
            return std::nullopt;
        *count = static_cast<std::size_t>(*more);
    }
    status.LastCycleEnd = message.Get("lastcycle");
    status.CycleRunning = message.Get("running") == "1";
    status.Maintenance = message.Get("maintenance");
    return status;
}

ControlMessage SettingsMessage(const char* type, const CUserSettings& s, bool passwordSet,
                               bool includePassword) {
    ControlMessage message(type);
    for (const SettingRow& row : SettingRows()) {
        if (row.PipeField && row.Kind == SettingKind::Text)
            message.Add(row.PipeField, s.*row.Text);
        else if (row.PipeField && row.Kind == SettingKind::Flag)
            message.Add(row.PipeField, s.*row.Flag ? "1" : "0");
        else if (row.PipeField && row.Kind == SettingKind::Number)
            message.Add(row.PipeField, number(s.*row.Number));
        // The list has always followed the benchmark. Each address's checks follow it, also
        // when empty: an empty checks= clears them, while a message without any (an older
        // companion's) keeps those the service has.
        if (row.Text == &CUserSettings::Benchmark)
            for (int i = 0; i < s.UrlCount(); ++i)
                // A site's password never leaves the service: the way back restores it.
                message.Add("url", s.Url(i))
                    .Add("checks", includePassword ? s.Checks(i) : MaskedChecks(s.Checks(i)));
    }
    message.Add("passwordset", passwordSet ? "1" : "0").Add("urlcount", number(s.UrlCount()));
    if (includePassword && !s.Pass.empty())
        message.Add("pass", s.Pass);
    for (const WebhookChannel& c : s.Webhooks) {
        message.Add("webhook", c.Name).Add("kind", WebhookKindName(c.Kind));
        // The address holds the receiver's token: only a request to change it carries it.
        message.Add("address", includePassword ? c.Address : ShownWebhookAddress(c.Address));
        message.Add("secretset", c.Secret.empty() ? "0" : "1");
        if (includePassword && c.Kind == WebhookKind::Json && !c.Secret.empty())
            message.Add("secret", c.Secret);
    }
    message.Add("webhookcount", std::to_string(s.Webhooks.size()));
    for (const std::string& line : s.Maintenance)
        message.Add("maintenance", line);
    message.Add("maintenancecount", std::to_string(s.Maintenance.size()));
    if (!includePassword)
        for (const std::string& name : s.Enforced)
            message.Add("enforced", name);
    return message;
}

ControlMessage SettingsReply(const CUserSettings& settings, bool passwordSet) {
    ControlMessage reply = SettingsMessage(msg::Settings, settings, passwordSet, false);
    if (!EncodeMessage(reply).empty())
        return reply;
    return ErrorMessage("failed", SettingsSizeRefusal(settings));
}

std::string SettingsSizeRefusal(const CUserSettings& settings) {
    if (!EncodeMessage(SettingsMessage(msg::Settings, settings, true, false)).empty())
        return {};
    CUserSettings urls = settings;
    urls.Webhooks.clear();
    urls.Maintenance.clear();
    if (!EncodeMessage(SettingsMessage(msg::Settings, urls, true, false)).empty())
        return "The maintenance windows and webhook channels make the settings too large for one "
               "message of " +
               std::to_string(MaxMessageSize / 1024) +
               " KiB; edit them in Vigrel.INI beside the service.";
    return tooManyUrls(settings.UrlCount());
}

bool SettingsComplete(const ControlMessage& message) {
    for (const auto& [count, item] :
         {std::pair{"urlcount", "url"}, std::pair{"webhookcount", "webhook"},
          std::pair{"maintenancecount", "maintenance"}}) {
        if (!message.Has(count))
            continue;
        const std::optional<std::int32_t> n = WholeNumber(message.Get(count));
        if (!n || *n < 0 || static_cast<std::size_t>(*n) != message.GetAll(item).size())
            return false;
    }
    return true;
}

ControlMessage CheckListMessage(const std::vector<MonitorCheckResult>& results) {
    ControlMessage message(msg::CheckList);
    for (const MonitorCheckResult& result : results)
        message.Add("url", result.Url).Add("up", result.Up ? "1" : "0");
    return message;
}

ControlMessage DiagnoseMessage(const std::string& url, const std::vector<std::string>& lines) {
    ControlMessage message(msg::Diagnose);
    message.Add("url", url.substr(0, MaxDiagnoseLine));
    for (std::size_t i = 0; i < lines.size() && i < MaxDiagnoseLines; ++i)
        message.Add("line", lines[i].substr(0, MaxDiagnoseLine));
    return message;
}

std::string CheckListRefusal(const std::vector<std::string>& urls) {
    if (urls.size() > MaxCheckListUrls)
        return "At most " + std::to_string(MaxCheckListUrls) + " addresses can be checked at once.";
    std::vector<MonitorCheckResult> results;
    for (const std::string& url : urls)
        results.push_back({url, false});
    if (EncodeMessage(CheckListMessage(results)).empty())
        return "These addresses are too long to be answered in one message of " +
               std::to_string(MaxMessageSize / 1024) + " KiB.";
    return {};
}

namespace {

// The channels of a message, each webhook= followed by its kind=, address= and secret=; false
// when a kind does not read.
bool webhooksOf(const ControlMessage& message, std::vector<WebhookChannel>& channels) {
    // Without kind= a channel could not be sent: each must have its own.
    std::size_t kinds = 0;
    for (const auto& [name, value] : message.Fields) {
        if (name == "webhook") {
            if (kinds != channels.size())
                return false;
            channels.push_back({value, WebhookKind::Json, {}, {}});
        } else if (channels.empty()) {
            continue;
        } else if (name == "kind" && kinds < channels.size()) {
            const std::optional<WebhookKind> kind = ReadWebhookKind(value);
            if (!kind)
                return false;
            channels.back().Kind = *kind;
            ++kinds;
        } else if (name == "address") {
            channels.back().Address = value;
        } else if (name == "secret") {
            channels.back().Secret = value;
        }
    }
    return kinds == channels.size();
}

// What a client does not send of a channel is the stored one's of that name: its whole address
// (a client only ever sees it shown) and its secret.
WebhookChannel withStored(WebhookChannel given, const std::vector<WebhookChannel>& stored) {
    const auto same = std::find_if(stored.begin(), stored.end(), [&](const WebhookChannel& c) {
        return SameText(c.Name, given.Name);
    });
    if (same != stored.end()) {
        if (given.Address.empty() || given.Address == ShownWebhookAddress(same->Address))
            given.Address = same->Address;
        if (given.Secret.empty())
            given.Secret = same->Secret;
    }
    // Only a json channel signs.
    if (given.Kind != WebhookKind::Json)
        given.Secret.clear();
    return given;
}

} // namespace

bool SettingsFromMessage(const ControlMessage& message, CUserSettings& s, bool& passwordSet) {
    if (message.Has("url")) {
        s.URLList.Clear();
        const bool withChecks = message.Has("checks");
        std::set<std::string> given;
        std::string url;
        // Only the checks= right after an address's first url= count: one before any url=, a
        // second one, or one after the address stands again (the file keeps the first line's)
        // must not change what the first said.
        bool open = false;
        for (const auto& [name, value] : message.Fields) {
            if (name == "url") {
                url = value;
                s.AddUrl(url);
                // Without its checks= the address is of a message that sends none for it.
                open = withChecks && given.insert(url).second;
                if (open)
                    s.SetChecks(url, "");
            } else if (name == "checks" && open) {
                open = false;
                s.SetChecks(url, value);
            }
        }
    }
    if (!SettingsComplete(message))
        return false;
    if (message.Has("webhookcount")) {
        std::vector<WebhookChannel> given;
        if (!webhooksOf(message, given))
            return false;
        for (WebhookChannel& c : given)
            c = withStored(std::move(c), s.Webhooks);
        s.Webhooks = std::move(given);
    }
    if (message.Has("maintenancecount"))
        s.Maintenance = message.GetAll("maintenance");
    // Only the service says what policy sets; a request cannot lift it.
    if (message.Type == msg::Settings) {
        const std::vector<std::string> enforced = message.GetAll("enforced");
        s.Enforced = {enforced.begin(), enforced.end()};
    }
    s.Pass = message.Get("pass");
    passwordSet = message.Get("passwordset") == "1";
    for (const SettingRow& row : SettingRows()) {
        if (!row.PipeField || row.Kind == SettingKind::Secret || !message.Has(row.PipeField))
            continue;
        if (row.Kind == SettingKind::Text) {
            s.*row.Text = message.Get(row.PipeField);
            continue;
        }
        // The settings' one rule for numbers, as in the file and the dialog.
        const std::optional<std::int32_t> value = SettingsNumber(message.Get(row.PipeField));
        if (!value)
            return false;
        if (row.Kind == SettingKind::Flag)
            s.*row.Flag = *value != 0;
        else
            s.*row.Number = *value;
    }
    return true;
}

ControlMessage ErrorMessage(const std::string& code, const std::string& reason) {
    ControlMessage message(msg::Error);
    message.Add("code", code).Add("reason", reason);
    return message;
}

ControlMessage TestWebhookMessage(const WebhookChannel& channel) {
    ControlMessage message(msg::TestWebhook);
    message.Add("name", channel.Name).Add("kind", WebhookKindName(channel.Kind));
    if (!channel.Address.empty() && !IsShownWebhookAddress(channel.Address))
        message.Add("address", channel.Address);
    if (!channel.Secret.empty())
        message.Add("secret", channel.Secret);
    return message;
}

std::optional<WebhookChannel> WebhookToTest(const ControlMessage& request,
                                            const std::vector<WebhookChannel>& stored,
                                            std::string& problem) {
    const std::string name = request.Get("name");
    const std::optional<WebhookKind> kind = ReadWebhookKind(request.Get("kind"));
    if (!kind) {
        problem = "The kind of a webhook must be teams, slack, ntfy or json.";
        return std::nullopt;
    }
    const WebhookChannel channel =
        withStored({name, *kind, request.Get("address"), request.Get("secret")}, stored);
    problem = WebhookProblem(channel);
    if (!problem.empty())
        return std::nullopt;
    return channel;
}

ControlMessage WebhookTestMessage(const std::string& name, const std::string& outcome) {
    ControlMessage message(msg::WebhookTest);
    message.Add("name", name).Add("outcome", outcome);
    return message;
}

ControlMessage MaintenanceMessage(std::int32_t minutes) {
    ControlMessage message(msg::Maintenance);
    message.Add("minutes", number(minutes));
    return message;
}

std::optional<std::int32_t> MaintenanceMinutes(const ControlMessage& request) {
    const std::optional<std::int32_t> minutes = WholeNumber(request.Get("minutes"));
    if (!minutes || *minutes < 1 || *minutes > MaxMaintenanceMinutes)
        return std::nullopt;
    return minutes;
}

bool ChangesSomething(const std::string& type) {
    return type == msg::SetSettings || type == msg::Stop || type == msg::Maintenance ||
           type == msg::TestWebhook;
}

std::string RefusalFor(const std::string& requestType, const ClientFacts& client) {
    if (client.Network || !client.Interactive)
        return "Only a user logged on at this computer may use the monitor.";
    const bool changes = ChangesSomething(requestType);
    if (changes && !(client.Administrator && client.Elevated))
        return client.Administrator
                   ? "This needs the rights of an administrator: run the companion elevated."
                   : "This needs an administrator of this computer.";
    return {};
}

namespace {

std::string percent(double value) {
    if (value < 0)
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", std::min(value, 100.0));
    // "100.000" and "99.500" read as well without their trailing zeros.
    std::string s = text;
    while (s.back() == '0')
        s.pop_back();
    if (s.back() == '.')
        s.pop_back();
    return s;
}

template <typename T> bool readWhole(std::string_view text, T& value) {
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && at == end && !text.empty();
}

// "99.5" or "-"; false for anything else.
bool readPercent(std::string_view text, double& value) {
    if (text == "-") {
        value = -1;
        return true;
    }
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && at == end && !text.empty() && value >= 0 && value <= 100;
}

std::vector<std::string_view> splitCommas(std::string_view text, std::size_t most) {
    std::vector<std::string_view> parts;
    while (parts.size() + 1 < most) {
        const std::size_t comma = text.find(',');
        if (comma == std::string_view::npos)
            break;
        parts.push_back(text.substr(0, comma));
        text.remove_prefix(comma + 1);
    }
    parts.push_back(text);
    return parts;
}

} // namespace

ControlMessage HistoryMessage(const MonitorHistory& h) {
    ControlMessage message(msg::History);
    message.Add("span", h.Span).Add("url", h.Url);
    message.Add("now", std::to_string(h.Now)).Add("step", std::to_string(h.Step));
    if (h.Loading)
        message.Add("loading", "1");
    if (h.Off)
        message.Add("off", "1");
    const std::size_t points = std::min(h.Points.size(), MaxHistoryChartPoints);
    for (std::size_t i = h.Points.size() - points; i < h.Points.size(); ++i) {
        const ChartPoint& p = h.Points[i];
        message.Add("p", std::to_string(p.Start) + ',' + std::to_string(p.Milliseconds) + ',' +
                             std::to_string(p.Checks) + ',' + std::to_string(p.Downs) + ',' +
                             p.Reason.substr(0, MaxPointReason));
    }
    // Room for "more" at its widest; the chart's URL is at most a setting's length, and the
    // points at most MaxHistoryChartPoints of bounded width, so the sites always have room.
    std::size_t used = encodedSize(message) + fieldSize("more", "18446744073709551615");
    std::size_t sites = 0;
    for (; sites < h.Sites.size(); ++sites) {
        const SiteUptime& s = h.Sites[sites];
        const std::string up = percent(s.Day) + ',' + percent(s.Week) + ',' + percent(s.Month);
        const std::size_t next = fieldSize("site", s.Url) + fieldSize("up", up);
        if (used + next > MaxMessageSize)
            break;
        used += next;
        message.Add("site", s.Url).Add("up", up);
    }
    const std::size_t more = h.More + (h.Sites.size() - sites);
    if (more > 0)
        message.Add("more", std::to_string(more));
    return message;
}

std::optional<MonitorHistory> HistoryFromMessage(const ControlMessage& message) {
    if (message.Type != msg::History)
        return std::nullopt;
    MonitorHistory h;
    h.Span = message.Get("span");
    h.Url = message.Get("url");
    h.Loading = message.Get("loading") == "1";
    h.Off = message.Get("off") == "1";
    if (!readWhole(message.Get("now"), h.Now) || !readWhole(message.Get("step"), h.Step) ||
        h.Step < 0)
        return std::nullopt;
    for (const auto& [name, value] : message.Fields) {
        if (name == "site") {
            h.Sites.push_back({value, -1, -1, -1});
        } else if (name == "up" && !h.Sites.empty()) {
            const std::vector<std::string_view> parts = splitCommas(value, 3);
            SiteUptime& s = h.Sites.back();
            if (parts.size() != 3 || !readPercent(parts[0], s.Day) ||
                !readPercent(parts[1], s.Week) || !readPercent(parts[2], s.Month))
                return std::nullopt;
        } else if (name == "p" && h.Points.size() < MaxHistoryChartPoints) {
            const std::vector<std::string_view> parts = splitCommas(value, 5);
            ChartPoint p;
            if (parts.size() != 5 || !readWhole(parts[0], p.Start) ||
                !readWhole(parts[1], p.Milliseconds) || !readWhole(parts[2], p.Checks) ||
                !readWhole(parts[3], p.Downs) || p.Downs > p.Checks)
                return std::nullopt;
            p.Reason = std::string(parts[4].substr(0, MaxPointReason));
            h.Points.push_back(std::move(p));
        }
    }
    if (message.Has("more") && !readWhole(message.Get("more"), h.More))
        return std::nullopt;
    return h;
}

bool IsUnknownRequestError(const ControlMessage& message) {
    return message.Type == msg::Error && message.Get("code") == "malformed" &&
           message.Get("reason").rfind("Unknown request", 0) == 0;
}

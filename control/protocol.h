// The control channel's protocol between the service and the programs of the user's session.
//
// One message is one pipe message of at most MaxMessageSize bytes: its type on the first line,
// then one "name=value" line per field, lines ending in LF. Names are lower-case letters and
// digits; a value escapes backslash, CR and LF as \\, \r and \n, so it stays on its line. A
// field may repeat (a list). Unknown fields are ignored, so a later version may add some.
//
// A session: the client sends "hello" with version=1 first; the service answers "hello" with
// its version, or "error" and closes when it does not speak the client's version. Then, one
// reply for each request, in order:
//
//   status                 -> status: picture, tip, warned (repeated, each followed by why=,
//                             the warning), failed (repeated, each followed by why= and ms=
//                             of that site), lastcycle, running, maintenance (while a window
//                             covers sites: the words for it), and more and morewarned when
//                             not every site fits (see below). "Up, with warnings" (picture
//                             5) goes as picture=0 and warnings=1: an older client drops a
//                             status whose picture is not 0..3, and shows this one as all up
//   subscribe              -> status now, and again, unasked, when a cycle ends or the
//                             settings change
//   checknow               -> ok (the new status follows when the cycle ends)
//   getsettings            -> settings: every setting but the password, each url followed
//                             by checks= (its checks as written; empty: the defaults),
//                             passwordset, and urlcount (how many url fields follow); each
//                             webhook channel as webhook=NAME followed by kind= (teams, slack,
//                             ntfy, json), address= (only as shown: scheme, host and "/...",
//                             never the whole address, which holds the receiver's token) and
//                             secretset= (0/1), then webhookcount; each maintenance window as
//                             maintenance= (the line as written), then maintenancecount;
//                             enforced= (repeated) for each setting group policy sets: the
//                             field's name, url for the list, webhook for the channels; or
//                             error when they do not fit in one message
//   setsettings + settings -> ok, or error; pass= present and not empty sets a new password;
//                             a list that no settings reply could carry back is refused; a
//                             message without any checks= (an older client's) keeps the
//                             checks the service has for each address. With webhookcount the
//                             channels become the message's: an address= that is empty or the
//                             shown form of the stored channel of that name keeps its stored
//                             address, a secret= not empty sets a json channel's secret, absent
//                             or empty keeps it; without webhookcount (an older client) the
//                             channels stay as they are. With maintenancecount the maintenance=
//                             lines replace the windows; without it they stay. A change to
//                             what group policy sets is refused ("The benchmark URL is set
//                             by your administrator's policy."); its value unchanged passes
//   testwebhook + name, kind, address, secret
//                          -> webhooktest: name and outcome (in words: "delivered", "HTTP
//                             status 404 from hooks.slack.com"), once the test post is done,
//                             which may take half a minute; the requests behind it wait. An
//                             address left out (or shown) is the stored channel's of that name,
//                             a secret left out too
//   maintenance + minutes  -> ok: a maintenance window for every site from now, 1 to 1440
//                             minutes
//   checklist + url...     -> checklist: url and up (0/1) per URL, in order; at most
//                             MaxCheckListUrls, whose answer must fit in one message; a
//                             further request sent before it is answered cuts it short:
//                             error code=failed "cut short by a later request", at once
//   diagnose + url         -> diagnose: url, and line per step of one probe of url as the
//                             service makes it (route, network, name lookup, connect, TLS,
//                             HTTP answer, verdict), each at most MaxDiagnoseLine bytes
//   stop                   -> ok, or error with code=failed when the settings could not be
//                             saved; the service ends either way
//   history + url, span    -> history: span (24h, 7d, 30d), url, now and step (seconds of the
//                             service's local clock since 1970-01-01 00:00), loading=1 while
//                             its files are read back, off=1 when it keeps none; p per chart
//                             point of url ("start,ms,checks,downs,reason", at most
//                             MaxHistoryChartPoints, each reason cut to MaxPointReason bytes);
//                             then site per site in list order, each followed by up (percent
//                             up over 24 h, 7 d and 30 d: "99.5,98,-", "-" without probes),
//                             and more=N for the sites that did not fit. A service older than
//                             this request answers it as unknown: error code=malformed,
//                             reason "Unknown request ...", and closes the connection.
//
// A message never goes out empty. A status that does not fit whole carries what fits: the tip
// cut at a line with "... and N more" at its end, the first failed sites, then the first warned
// ones, more=N and morewarned=N for those left out; picture is always the true one.
//
// Any request may be answered by "error" with code= malformed, oversized, order, refused or
// failed and a reason= in plain words; after malformed, oversized or order the service closes
// the connection. A client that leaves 32 replies unread is dropped. Portable: the pipe itself
// is in the _win files.
#pragma once

#include "control/monitorlink.h"
#include "settings/cusersettings.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

constexpr int ControlProtocolVersion = 1;
constexpr std::size_t MaxMessageSize = 64 * 1024;
// The most URLs one "checklist" may ask for.
constexpr std::size_t MaxCheckListUrls = 100;
// When a status does not fit whole, its tip keeps at most this many bytes.
constexpr std::size_t StatusTipBudget = 4096;
// The points of one history chart, and the bytes of a point's reason.
constexpr std::size_t MaxHistoryChartPoints = 288;
constexpr std::size_t MaxPointReason = 120;
// The longest maintenance window a "maintenance" request may start: a day.
constexpr std::int32_t MaxMaintenanceMinutes = 1440;

namespace msg {
constexpr const char* Hello = "hello";
constexpr const char* Status = "status";
constexpr const char* Subscribe = "subscribe";
constexpr const char* CheckNow = "checknow";
constexpr const char* GetSettings = "getsettings";
constexpr const char* Settings = "settings";
constexpr const char* SetSettings = "setsettings";
constexpr const char* CheckList = "checklist";
constexpr const char* Stop = "stop";
constexpr const char* History = "history";
constexpr const char* TestWebhook = "testwebhook";
constexpr const char* WebhookTest = "webhooktest";
constexpr const char* Maintenance = "maintenance";
constexpr const char* Diagnose = "diagnose";
constexpr const char* Ok = "ok";
constexpr const char* Error = "error";
} // namespace msg

class ControlMessage {
public:
    ControlMessage() = default;
    explicit ControlMessage(std::string type) : Type(std::move(type)) {}

    std::string Type;
    std::vector<std::pair<std::string, std::string>> Fields;

    ControlMessage& Add(const std::string& name, const std::string& value) {
        Fields.emplace_back(name, value);
        return *this;
    }
    // The first value of a field, or fallback when it is absent.
    std::string Get(const std::string& name, const std::string& fallback = "") const;
    bool Has(const std::string& name) const;
    // Every value of a repeated field, in order.
    std::vector<std::string> GetAll(const std::string& name) const;
};

// The bytes of a message. A message whose encoding exceeds MaxMessageSize is a caller's fault
// the encoder cannot mend: it returns an empty text (nothing may then be sent).
std::string EncodeMessage(const ControlMessage& message);

// The message in bytes, or nullopt with error set: empty, oversized, no type, a line without
// "=", a name with other characters, a broken escape.
std::optional<ControlMessage> DecodeMessage(const std::string& bytes, std::string& error);

// The typed messages.
// Always fits in one message: what does not is left out and counted in more.
ControlMessage StatusMessage(const MonitorStatus& status);
std::optional<MonitorStatus> StatusFromMessage(const ControlMessage& message);

ControlMessage CheckListMessage(const std::vector<MonitorCheckResult>& results);
// The most bytes of one diagnose line, and the most lines.
constexpr std::size_t MaxDiagnoseLine = 512;
constexpr std::size_t MaxDiagnoseLines = 16;
ControlMessage DiagnoseMessage(const std::string& url, const std::vector<std::string>& lines);
// Empty when the answer to a checklist of these URLs can be sent; otherwise why not.
std::string CheckListRefusal(const std::vector<std::string>& urls);

// Every setting but the password; passwordset tells whether one is stored. With
// includePassword (a request to change them) a non-empty Pass goes along as pass=, each
// webhook's address as the record holds it and a json channel's secret when not empty;
// without it a webhook's address goes only as shown and its secret never.
ControlMessage SettingsMessage(const char* type, const CUserSettings& settings, bool passwordSet,
                               bool includePassword);
// The answer to getsettings: the settings, or an error that says why they cannot travel.
ControlMessage SettingsReply(const CUserSettings& settings, bool passwordSet);
// Empty when these settings, once applied, could still be sent in answer to getsettings;
// otherwise why not.
std::string SettingsSizeRefusal(const CUserSettings& settings);
// True when a settings message holds every URL it announces (urlcount, when present).
bool SettingsComplete(const ControlMessage& message);
// Fills the record from the message's fields (missing ones keep their value in settings);
// false when a number field holds no whole number, a webhook's kind does not read or a count
// does not match its list. Pass is set only from pass=. Each url's checks= sets its checks; a
// message with url fields but no checks= keeps each address's. The webhooks and maintenance
// windows as the top of this file says; the channels settings holds are the stored ones.
bool SettingsFromMessage(const ControlMessage& message, CUserSettings& settings, bool& passwordSet);

// The answer to history. Always fits in one message: the chart first, then the sites that fit.
ControlMessage HistoryMessage(const MonitorHistory& history);
std::optional<MonitorHistory> HistoryFromMessage(const ControlMessage& message);
// True when an error answering a request tells that the service does not know the request.
bool IsUnknownRequestError(const ControlMessage& message);

// The dialog's "Send a test": the channel as given, its address left out when empty or only
// shown, its secret when not empty.
ControlMessage TestWebhookMessage(const WebhookChannel& channel);
// The channel a testwebhook asks to post to, what the request leaves out taken from the stored
// channel of its name; nullopt with the problem in words when it breaks the webhook rules.
std::optional<WebhookChannel> WebhookToTest(const ControlMessage& request,
                                            const std::vector<WebhookChannel>& stored,
                                            std::string& problem);
ControlMessage WebhookTestMessage(const std::string& name, const std::string& outcome);
ControlMessage MaintenanceMessage(std::int32_t minutes);
// The minutes of a maintenance request; nullopt when they are no whole number of 1 to
// MaxMaintenanceMinutes.
std::optional<std::int32_t> MaintenanceMinutes(const ControlMessage& request);

ControlMessage ErrorMessage(const std::string& code, const std::string& reason);

// Who may do what. The facts are read from the client's token by the service; the decision is
// this rule, so that it can be tested where every client is the same administrator.
struct ClientFacts {
    bool Interactive = false;   // member of INTERACTIVE (S-1-5-4)
    bool Network = false;       // a network logon (S-1-5-2)
    bool Administrator = false; // member of Administrators, whether or not enabled
    bool Elevated = false;      // the token's rights are elevated (Administrators enabled)
};
// Empty when the client may make the request; otherwise the refusal's reason in plain words.
// Reading (status, subscribe, checknow, getsettings, checklist, history) needs an interactive,
// local user; changing (setsettings, stop, maintenance, and testwebhook, which posts from the
// service's account to an address the client gives) also an administrator with elevated rights.
bool ChangesSomething(const std::string& requestType);
std::string RefusalFor(const std::string& requestType, const ClientFacts& client);

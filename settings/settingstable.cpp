#include "settings/settingstable.h"

#include "base/text.h"

namespace {

using S = CUserSettings;
using K = SettingKind;
using F = SettingFit;

const char* const General = "General";
const char* const Log = "Log";
const char* const History = "History";
const char* const Smtp = "SMTP";
const char* const Metrics = "Metrics";
const char* const Alerts = "Alerts";
const char* const Proxy = "Proxy";

} // namespace

const std::vector<SettingRow>& SettingRows() {
    // clang-format off
    static const std::vector<SettingRow> rows = {
        {.Kind = K::Text, .Section = General, .Key = "Benchmark", .PipeField = "benchmark",
         .Text = &S::Benchmark, .TextDefault = DefaultBenchmark, .What = "The benchmark URL", .Policy = "Benchmark"},
        {.Kind = K::Text, .Section = General, .Key = "BenchmarkText", .PipeField = "benchmarktext",
         .Text = &S::BenchmarkText, .What = "The benchmark page's text"},
        {.Kind = K::Flag, .Section = General, .Key = "StartOnStartup", .PipeField = "startonstartup",
         .Flag = &S::StartOnStartup, .Default = 1},
        {.Kind = K::Number, .Section = General, .Key = "TimeSpan", .PipeField = "timespan",
         .Number = &S::TimeSpan, .Default = 15, .Range = TimeSpanRange, .Fit = F::ZeroOrNearest,
         .What = "The interval", .Unit = " minutes, or 0 for no scheduled checks",
         .Policy = "TimeSpan"},
        {.Kind = K::Number, .Section = General, .Key = "TimeOut", .PipeField = "timeout",
         .Number = &S::TimeOut, .Default = 500, .Range = TimeOutRange,
         .What = "The time-out", .Unit = " milliseconds", .Policy = "TimeOut"},
        {.Kind = K::Number, .Section = General, .Key = "Parallel", .PipeField = "parallel",
         .Number = &S::Parallel, .Default = 16, .Range = ParallelRange,
         .What = "The sites checked at once", .Policy = "Parallel"},
        {.Kind = K::Number, .Section = General, .Key = "Retries", .PipeField = "retries",
         .Number = &S::Retries, .Default = 0, .Range = RetriesRange,
         .What = "The retries of a failed site", .Policy = "Retries"},
        {.Kind = K::Number, .Section = General, .Key = "CertDays", .PipeField = "certdays",
         .Number = &S::CertDays, .Default = 14, .Range = CertDaysRange,
         .What = "The days of warning before a certificate expires", .Unit = " (0 warns of none)",
         .Policy = "CertDays"},
        {.Kind = K::Number, .Section = Log, .Key = "Filter", .PipeField = "filter",
         .Number = &S::Filter, .Default = 0, .Range = FilterRange, .What = "The log level"},
        {.Kind = K::Number, .Section = Log, .Key = "Days",
         .Number = &S::LogDays, .Default = 90, .Range = LogDaysRange, .Fit = F::NegativeDefault,
         .What = "The days to keep log files", .Unit = " (0 keeps every log file)"},
        {.Kind = K::Number, .Section = History, .Key = "Days", .PipeField = "historydays",
         .Number = &S::HistoryDays, .Default = 30, .Range = HistoryDaysRange,
         .Fit = F::NegativeDefault, .What = "The days of history", .Unit = " (0 keeps no history)",
         .NoteName = "[History] Days", .Policy = "HistoryDays"},
        {.Kind = K::Text, .Section = Smtp, .Key = "To", .PipeField = "to",
         .Text = &S::To, .What = "The recipient", .Policy = "MailTo"},
        {.Kind = K::Text, .Section = Smtp, .Key = "From", .PipeField = "from",
         .Text = &S::From, .What = "The sender address", .Policy = "MailFrom"},
        {.Kind = K::Flag, .Section = Smtp, .Key = "Active", .PipeField = "active",
         .Flag = &S::Active, .Default = 0, .What = "Sending alert mail", .Policy = "MailActive"},
        {.Kind = K::Text, .Section = Smtp, .Key = "Server", .PipeField = "server",
         .Text = &S::Server, .What = "The mail server", .Policy = "MailServer"},
        {.Kind = K::Number, .Section = Smtp, .Key = "Port", .PipeField = "port",
         .Number = &S::Port, .Default = 25, .Range = PortRange, .Fit = F::Default,
         .What = "The port", .Policy = "MailPort"},
        {.Kind = K::Text, .Section = Smtp, .Key = "UserID", .PipeField = "userid",
         .Text = &S::UserID, .What = "The user name"},
        {.Kind = K::Secret, .Section = Smtp, .Key = "Pass", .PipeField = "pass",
         .Text = &S::Pass, .What = "The password"},
        {.Kind = K::Number, .Section = Smtp, .Key = "Security", .PipeField = "security",
         .Number = &S::Security, .Default = SecurityNone, .Fit = F::Kept,
         .What = "The connection security", .Policy = "MailSecurity"},
        {.Kind = K::Number, .Section = Smtp, .Key = "Notify", .PipeField = "notify",
         .Number = &S::Notify, .Default = NotifyEveryCycle, .Range = NotifyRange,
         .Fit = F::Default, .What = "Notify", .Policy = "MailNotify"},
        {.Kind = K::Number, .Section = Alerts, .Key = "UpAfter", .PipeField = "upafter",
         .Number = &S::UpAfter, .Default = 1, .Range = UpAfterRange,
         .What = "The checks a site must pass before it counts as up again", .Policy = "UpAfter"},
        {.Kind = K::Number, .Section = Alerts, .Key = "Remind", .PipeField = "remind",
         .Number = &S::Remind, .Default = 0, .Range = RemindRange, .Fit = F::ZeroOrNearest,
         .What = "The reminder interval", .Unit = " minutes, or 0 for no reminder",
         .Policy = "Remind"},
        {.Kind = K::Text, .Section = Metrics, .Key = "TextfileDir",
         .Text = &S::TextfileDir, .What = "The metrics folder", .Policy = "TextfileDir"},
        {.Kind = K::Text, .Section = Proxy, .Key = "Mode", .PipeField = "proxymode",
         .Text = &S::ProxyMode, .TextDefault = "automatic", .What = "The proxy mode"},
        {.Kind = K::Text, .Section = Proxy, .Key = "Pac", .PipeField = "proxypac",
         .Text = &S::ProxyPac, .What = "The PAC file's address"},
        {.Kind = K::Text, .Section = Proxy, .Key = "Server", .PipeField = "proxyserver",
         .Text = &S::ProxyServer, .What = "The proxy server"},
        {.Kind = K::Text, .Section = Proxy, .Key = "Bypass", .PipeField = "proxybypass",
         .Text = &S::ProxyBypass, .What = "The proxy bypass list"},
        {.Kind = K::Text, .Section = Proxy, .Key = "User", .PipeField = "proxyuser",
         .Text = &S::ProxyUser, .What = "The proxy user name"},
        {.Kind = K::Secret, .Section = Proxy, .Key = "Pass",
         .Text = &S::ProxyPass, .What = "The proxy password"},
    };
    // clang-format on
    return rows;
}

std::int32_t SettingFitted(const SettingRow& row, std::int32_t value) {
    if (SettingAllows(row, value))
        return value;
    if (row.Fit == SettingFit::ZeroOrNearest && value < 0)
        return 0;
    if ((row.Fit == SettingFit::NegativeDefault && value < 0) || row.Fit == SettingFit::Default)
        return row.Default;
    return value < row.Range.min ? row.Range.min : row.Range.max;
}

std::string EnforcedName(const SettingRow& row) {
    if (row.PipeField)
        return row.PipeField;
    return LowerCase(row.Key);
}

bool SettingAllows(const SettingRow& row, std::int32_t value) {
    if (row.Fit == SettingFit::Kept)
        return true;
    if (row.Fit == SettingFit::ZeroOrNearest && value == 0)
        return true;
    return value >= row.Range.min && value <= row.Range.max;
}

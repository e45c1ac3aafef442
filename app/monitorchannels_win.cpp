#include "app/monitorchannels_win.h"

#include "app/mainserv_win.h"
#include "monitor/metricsfile_win.h"
#include "monitor/metricstext.h"
#include "settings/cusersettings.h"

#include <ctime>

#include "vigrelevents.h"

void EventLogOutput::CycleDone(const CycleReport& report) {
    for (const SiteChange& change : transitions_.Update(report.Results)) {
        const std::string url = UrlWithoutUserInfo(change.Url);
        switch (change.What) {
        case SiteChange::CameBack:
            ProgramEvents().Report(MSG_SITE_UP, EVENTLOG_INFORMATION_TYPE,
                                   {url, std::to_string(change.Result.Milliseconds)});
            break;
        case SiteChange::WentDown:
            ProgramEvents().Report(MSG_SITE_DOWN, EVENTLOG_WARNING_TYPE,
                                   {url, ReasonText(change.Result)});
            break;
        case SiteChange::Warned:
            ProgramEvents().Report(MSG_SITE_WARNING, EVENTLOG_WARNING_TYPE,
                                   {url, change.Result.Warning});
            break;
        }
    }
}

void MetricsOutput::CycleStarted() {
    started_ = ::GetTickCount64();
}

void MetricsOutput::CycleDone(const CycleReport& report) {
    const std::string& textfileDir = settings_.TextfileDir;
    // A folder changed or emptied in the settings: the old file would stay behind for ever.
    if (!writtenDir_.empty() && writtenDir_ != textfileDir)
        Stopped();
    if (!textfileDir.empty())
        writeMetrics(report.Results, textfileDir);
}

void MetricsOutput::Stopped() {
    if (!writtenDir_.empty() && RemoveWrittenFile(writtenDir_, MetricsFileName))
        writtenDir_.clear();
}

void MetricsOutput::writeMetrics(const CycleResults& results, const std::string& textfileDir) {
    const ULONGLONG duration = started_ ? ::GetTickCount64() - started_ : 0;
    const std::string text =
        MetricsText(results, duration, static_cast<std::int64_t>(std::time(nullptr)));
    const std::string failure = WriteFileReplacing(textfileDir, MetricsFileName, text);
    if (failure.empty()) {
        failingDir_.clear();
        writtenDir_ = textfileDir;
        return;
    }
    if (failingDir_ == textfileDir)
        return;
    failingDir_ = textfileDir;
    const std::string path = textfileDir + "\\" + MetricsFileName;
    ProgramEvents().Report(MSG_METRICS_FAILED, EVENTLOG_WARNING_TYPE, {path, failure});
    if (writeLog_)
        writeLog_("Metrics file " + path + " not written: " + failure);
}

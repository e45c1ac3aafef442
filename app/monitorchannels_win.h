// What a check cycle tells the machine's own monitoring, besides the tray and the mail: a site
// going down or coming back to the Application event log, and the cycle's figures to a
// Prometheus textfile folder ([Metrics] TextfileDir) when one is set.
#pragma once

#include "monitor/proberesult.h"
#include "monitor/sitetransitions.h"

#include <windows.h>

#include <functional>
#include <string>

class MonitorChannels {
public:
    // writeLog: a line of the daily log, for a metrics file that could not be written.
    explicit MonitorChannels(std::function<void(const std::string&)> writeLog)
        : writeLog_(std::move(writeLog)) {}

    void CycleStarted();
    // The form's thread, after the cycle's own report.
    void CycleDone(const CycleResults& results, const std::string& textfileDir);
    // The monitor ends: its metrics file goes, so that a collector serves no figures of checks
    // that no longer run (a site would go on counting as up).
    void Stopped();

private:
    void writeMetrics(const CycleResults& results, const std::string& textfileDir);

    std::function<void(const std::string&)> writeLog_;
    SiteTransitions transitions_;
    ULONGLONG started_ = 0;
    // The folder of the last write that failed, empty after one that succeeded: one entry per
    // streak of failures in the same folder.
    std::string failingDir_;
    // The folder of the file last written, empty when none is there.
    std::string writtenDir_;
};

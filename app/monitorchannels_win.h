// What a check cycle tells the machine's own monitoring, besides the tray and the mail: a site
// going down, coming back or carrying a warning to the Application event log, and the cycle's
// figures to a Prometheus textfile folder ([Metrics] TextfileDir) when one is set.
#pragma once

#include "monitor/cycleoutput.h"
#include "monitor/sitetransitions.h"

#include <windows.h>

#include <functional>
#include <string>

class CUserSettings;

// Entries 100 (down), 101 (back up) and 102 (a warning begins), each once per change.
class EventLogOutput : public CycleOutput {
public:
    void CycleDone(const CycleReport& report) override;

private:
    SiteTransitions transitions_;
};

class MetricsOutput : public CycleOutput {
public:
    // writeLog: a line of the daily log, for a metrics file that could not be written.
    MetricsOutput(const CUserSettings& settings, std::function<void(const std::string&)> writeLog)
        : settings_(settings), writeLog_(std::move(writeLog)) {}

    void CycleStarted() override;
    void CycleDone(const CycleReport& report) override;
    // The monitor ends: its metrics file goes, so that a collector serves no figures of checks
    // that no longer run (a site would go on counting as up).
    void Stopped() override;

private:
    void writeMetrics(const CycleResults& results, const std::string& textfileDir);

    const CUserSettings& settings_;
    std::function<void(const std::string&)> writeLog_;
    ULONGLONG started_ = 0;
    // The folder of the last write that failed, empty after one that succeeded: one entry per
    // streak of failures in the same folder.
    std::string failingDir_;
    // The folder of the file last written, empty when none is there.
    std::string writtenDir_;
};

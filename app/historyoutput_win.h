// Every cycle's outcome into the history beside the program, kept for [History] Days.
#pragma once

#include "monitor/checkcycle.h"
#include "monitor/cycleoutput.h"
#include "monitor/history_win.h"
#include "settings/cusersettings.h"

class HistoryOutput : public CycleOutput {
public:
    HistoryOutput(HistoryStore& store, const CUserSettings& settings)
        : store_(store), settings_(settings) {}
    void CycleDone(const CycleReport& report) override {
        store_.SetDays(settings_.HistoryDays);
        // Checks go on during maintenance; their lines say they fell in it.
        const AlertRulesSettings rules = AlertRulesFor(settings_);
        const CivilSeconds now = HistoryNow();
        store_.Record(report.Results, report.BenchmarkUrl, [&](const std::string& url) {
            return AlertRules::InMaintenance(rules, url, now);
        });
    }

private:
    HistoryStore& store_;
    const CUserSettings& settings_;
};

// A check-cycle host that records every call as one line and answers probes from a table.
#pragma once

#include "monitor/checkcycle.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

class RecordingHost : public CheckCycleHost {
public:
    std::vector<std::string> calls;
    std::map<std::string, bool> up; // URLs not listed are down
    std::function<void(const std::string&)> onProbe;

    bool ProbeUrl(const std::string& url) override {
        calls.push_back("probe " + url);
        if (onProbe)
            onProbe(url);
        auto it = up.find(url);
        return it != up.end() && it->second;
    }
    void SetTrayIcon(int state) override { calls.push_back("icon " + std::to_string(state)); }
    void SetTip(const std::string& tip) override { calls.push_back("tip " + tip); }
    void ClearFailedSites() override { calls.push_back("clear menu"); }
    void AddFailedSite(const std::string& url) override { calls.push_back("menu " + url); }
    void WriteLog(const std::string& text) override { calls.push_back("log " + text); }
    void SendStatusMail(const std::string& report) override { calls.push_back("mail " + report); }
    void SendBackUpMail(const std::string& sites) override { calls.push_back("back up " + sites); }
    void RefreshSettingsDialog() override { calls.push_back("refresh"); }
};

// A check-cycle host that records every call as one line and answers probes from a table, and a
// whole cycle over it through the real engine, answered in the order the probes were sent.
#pragma once

#include "monitor/checkcycle.h"
#include "monitor/checkengine.h"

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

class RecordingHost : public CheckCycleHost {
public:
    std::vector<std::string> calls;
    std::map<std::string, bool> up;          // URLs not listed are down
    std::map<std::string, std::string> warn; // the warning of a site up
    std::function<void(const std::string&)> onProbe;

    bool ProbeUrl(const std::string& url) {
        calls.push_back("probe " + url);
        if (onProbe)
            onProbe(url);
        auto it = up.find(url);
        return it != up.end() && it->second;
    }
    void SetTrayIcon(int state) override { calls.push_back("icon " + std::to_string(state)); }
    void SetTip(const std::string& tip) override { calls.push_back("tip " + tip); }
    void ClearFailedSites() override { calls.push_back("clear menu"); }
    void AddFailedSite(const std::string& url, const ProbeResult&) override {
        calls.push_back("menu " + url);
    }
    void AddWarnedSite(const std::string& url, const ProbeResult& result) override {
        calls.push_back("warned " + url + ": " + result.Warning);
    }
    void WriteLog(const std::string& text) override { calls.push_back("log " + text); }
    void SendAlertMail(const CycleMail& mail) override {
        if (!mail.Report.empty())
            calls.push_back("mail " + mail.Report);
        if (!mail.Warnings.empty())
            calls.push_back("mail warnings " + mail.Warnings);
        if (!mail.BackUp.empty())
            calls.push_back("back up " + mail.BackUp);
        if (!mail.Notes.empty())
            calls.push_back("mail notes " + mail.Notes);
    }
    void RefreshSettingsDialog() override { calls.push_back("refresh"); }
};

// One cycle over the settings, each request answered from host's table in the order it was
// sent (which is the order of the list). Returns the cycle's DownText.
inline std::string CheckSites(CUserSettings& settings, RecordingHost& host, AlertPolicy& policy) {
    struct TableProbe : AsyncProbe {
        std::deque<std::pair<ProbeTicket, std::string>> asked;
        void Start(ProbeTicket ticket, const SiteRecord& site, std::uint32_t) override {
            asked.emplace_back(ticket, site.Url);
        }
    } probe;
    CheckEngine engine(probe);
    std::string downText;
    engine.OnCycleDone = [&](const CycleResults& results) {
        downText = ReportCycle(settings, host, policy, results);
    };
    StartCheck(settings, host, engine);
    while (!probe.asked.empty()) {
        const auto [ticket, url] = probe.asked.front();
        probe.asked.pop_front();
        ProbeResult result = host.ProbeUrl(url)
                                 ? ProbeResult::Answered(1)
                                 : ProbeResult::Down(ProbeReason::HttpStatus, 1, 404);
        if (result.Up && host.warn.count(url))
            result.Warning = host.warn[url];
        engine.Complete(ticket, result);
    }
    return downText;
}

inline std::string CheckSites(CUserSettings& settings, RecordingHost& host) {
    AlertPolicy policy;
    return CheckSites(settings, host, policy);
}

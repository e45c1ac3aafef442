// A link that never connects: the companion shows that the monitor cannot be reached. It
// stands in until the control pipe's client takes its place.
#include "tray/companion_win.h"

namespace {

class NoMonitorLink final : public MonitorLink {
public:
    bool Connected() const override { return false; }
    void CheckNow() override {}
    void RequestSettings() override {}
    void ApplySettings(const CUserSettings&) override {}
    void CheckList(const std::vector<std::string>&) override {}
    void StopMonitoring() override {}
};

} // namespace

std::unique_ptr<MonitorLink> CreateMonitorLink(HWND) {
    return std::make_unique<NoMonitorLink>();
}

#include "app/checklist_win.h"

#include "base/handle_win.h"
#include "monitor/winhttpprobe_win.h"

#include <windows.h>

#include <optional>

std::vector<MonitorCheckResult> CheckSiteList(std::vector<SiteRecord> sites,
                                              const EngineLimits& limits,
                                              const std::function<bool()>& wanted) {
    ScopedKernelHandle answers(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!answers)
        return {};
    HANDLE event = answers.Get();
    WinHttpEngineProbe probe([event] { ::SetEvent(event); });
    CheckEngine engine(probe);
    std::uint64_t wakeAt = 0;
    engine.OnWakeAfter = [&](std::uint32_t ms) { wakeAt = SteadyMilliseconds() + ms; };
    std::optional<CycleResults> done;
    engine.OnCycleDone = [&](CycleResults results) { done = std::move(results); };
    engine.StartList(std::move(sites), limits);
    while (!done) {
        if (!wanted())
            return {};
        // Short waits: a client that leaves is noticed soon, answers or not.
        ::WaitForSingleObject(event, 200);
        probe.DrainInto(engine);
        if (wakeAt != 0 && SteadyMilliseconds() >= wakeAt) {
            wakeAt = 0;
            engine.Tick();
        }
    }
    std::vector<MonitorCheckResult> results;
    for (std::size_t i = 0; i < done->Urls.size(); ++i)
        results.push_back({done->Urls[i], done->Sites[i].Up});
    return results;
}

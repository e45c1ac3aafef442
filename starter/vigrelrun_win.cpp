// Vigrelrun: starts the Vigrel service and waits while it starts, or stops it when given any
// argument. No window, no output, exit code 0 whatever happens.
#include "base/handle_win.h"
#include "base/product.h"
#include "base/utf_win.h"
#include "starter/waitrules.h"

#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

// The service manager's wide functions throughout, like the program that registers the service.
const std::wstring ServiceName = Widen(ProductName);

starter::Status fromService(const SERVICE_STATUS& s) {
    starter::Status status;
    status.state = s.dwCurrentState;
    status.checkPoint = s.dwCheckPoint;
    status.waitHint = s.dwWaitHint;
    return status;
}

starter::ServiceOps opsFor(SC_HANDLE service) {
    starter::ServiceOps ops;
    ops.query = [service](starter::Status& status) {
        SERVICE_STATUS s = {};
        if (!::QueryServiceStatus(service, &s))
            return false;
        status = fromService(s);
        return true;
    };
    ops.stop = [service](starter::Status& status) {
        SERVICE_STATUS s = {};
        if (!::ControlService(service, SERVICE_CONTROL_STOP, &s))
            return false;
        status = fromService(s);
        return true;
    };
    ops.sleep = [](std::uint32_t ms) { ::Sleep(ms); };
    ops.tickCount = [] { return static_cast<std::uint32_t>(::GetTickCount()); };
    ops.lastError = [] { return static_cast<std::uint32_t>(::GetLastError()); };
    return ops;
}

int StartMonitorService() {
    ScopedServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ScopedServiceHandle service(
        manager.Get() ? ::OpenServiceW(manager.Get(), ServiceName.c_str(), SERVICE_ALL_ACCESS)
                      : nullptr);
    if (!service)
        return -1;
    // Already running or already starting: the status decides below.
    ::StartServiceW(service.Get(), 0, nullptr);
    return starter::WaitForStart(opsFor(service.Get()));
}

std::uint32_t StopMonitorService() {
    const std::uint32_t startTick = ::GetTickCount();
    ScopedServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return static_cast<std::uint32_t>(-1);
    ScopedServiceHandle service(
        ::OpenServiceW(manager.Get(), ServiceName.c_str(), SERVICE_ALL_ACCESS));
    if (!service)
        return static_cast<std::uint32_t>(-1);
    return starter::StopAndWait(opsFor(service.Get()), startTick);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // The runtime splits the command line by the usual rules, quoted stretches as one.
    if (__argc > 1)
        StopMonitorService();
    else
        StartMonitorService();
    return 0;
}

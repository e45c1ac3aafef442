#include "app/autostart_win.h"

#include "base/handle_win.h"
#include "base/utf_win.h"

#include <vector>

bool SetAutoStart(bool startWithWindows, const char* serviceName) {
    ScopedServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager)
        return false;
    ScopedServiceHandle service(::OpenServiceW(manager.Get(), Widen(serviceName).c_str(),
                                               SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG));
    if (!service)
        return false;

    DWORD needed = 0;
    ::QueryServiceConfigW(service.Get(), nullptr, 0, &needed);
    if (needed < sizeof(QUERY_SERVICE_CONFIGW))
        return false;
    // Wide, so that a program folder outside the ANSI code page is written back as it was.
    // operator new aligns the buffer for the record and the strings behind it.
    std::vector<BYTE> buffer(needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!::QueryServiceConfigW(service.Get(), config, needed, &needed))
        return false;

    const DWORD startType = startWithWindows ? SERVICE_AUTO_START : SERVICE_DEMAND_START;
    return ::ChangeServiceConfigW(
               service.Get(), config->dwServiceType, startType, config->dwErrorControl,
               config->lpBinaryPathName, config->lpLoadOrderGroup, nullptr, config->lpDependencies,
               config->lpServiceStartName, nullptr, config->lpDisplayName) != FALSE;
}

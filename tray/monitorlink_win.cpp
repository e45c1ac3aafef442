// The companion's link to the running monitor: the service's control pipe.
#include "control/pipeclient_win.h"
#include "tray/companion_win.h"

std::unique_ptr<MonitorLink> CreateMonitorLink(HWND) {
    // The pipe client delivers its events through a window of its own on this thread.
    return std::make_unique<PipeMonitorLink>();
}

// Vigreltray.exe: the companion, one in each session of a logged-on user.
#include "base/handle_win.h"
#include "base/product.h"
#include "tray/companion_win.h"

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Local: every session has its own icon, so a second copy in the same session ends at once.
    const std::string name = std::string("Local\\") + ProductName + "Tray";
    ScopedKernelHandle mutex(::CreateMutexA(nullptr, FALSE, name.c_str()));
    if (!mutex || ::GetLastError() == ERROR_ALREADY_EXISTS)
        return 0;

    TCompanion companion(CreateMonitorLink, UserIsAdministrator());
    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    return 0;
}

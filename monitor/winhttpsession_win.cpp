#include "monitor/winhttpsession_win.h"

#include <initializer_list>

HINTERNET OpenWinHttpSession(const wchar_t* agent, DWORD flags, DWORD* accessType) {
    for (DWORD access :
         {DWORD{WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY}, DWORD{WINHTTP_ACCESS_TYPE_DEFAULT_PROXY}}) {
        HINTERNET session =
            ::WinHttpOpen(agent, access, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, flags);
        if (session) {
            if (accessType)
                *accessType = access;
            return session;
        }
    }
    return nullptr;
}

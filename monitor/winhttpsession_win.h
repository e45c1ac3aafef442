// The one way the program opens a WinHTTP session, for the checks and the webhooks alike, so
// that both go out through the same proxy.
#pragma once

#include <windows.h>
#include <winhttp.h>

// A session with automatic proxy discovery where the platform offers it, the configured proxy
// elsewhere; flags as WinHttpOpen takes them (WINHTTP_FLAG_ASYNC). Null when none could be
// opened (GetLastError tells why); accessType, when given, gets the access type it was opened
// with.
HINTERNET OpenWinHttpSession(const wchar_t* agent, DWORD flags, DWORD* accessType = nullptr);

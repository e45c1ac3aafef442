// The probe of one URL: a WinINet fetch on a worker thread of its own, waited for at most
// TimeOut milliseconds. All probes share one WinINet session. A worker that was given up on
// ends within a fixed bound: its request is closed under it, which cancels a blocking WinINet
// call, and where the platform does not cancel that way its reads stop within about 100 ms.
// Each request reads at most 64 KiB, and at most 12 redirects are followed.
#pragma once

#include "base/handle_win.h"

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <optional>
#include <string>

using ScopedInternetHandle = ScopedHandle<NullHandleTraits<HINTERNET, ::InternetCloseHandle>>;

// The session all probes share; empty until opened, and empty for good when opening failed.
extern ScopedInternetHandle InternetSession;

// How long one step of a worker's request (connect, send, receive) may wait before the worker
// gives up on its own, in milliseconds: twice the longest TimeOut the settings dialog offers.
// It bounds a probe that nobody gives up on (an infinite TimeOut) against a silent server.
extern std::uint32_t ProbeWorkerStepTimeout;

// Opened once when the main form is built, closed when it closes.
void OpenInternetSession();
void CloseInternetSession();

// True only when the worker ended within timeOut milliseconds with exit code 1: a final answer
// with an HTTP/1.x (or later) status line and status 200.
bool ProbeUrl(const std::string& url, std::uint32_t timeOut);

// The fetch of ProbeUrl's worker, for callers that run it on a thread of their own (nobody gives
// it up): owns the URL copy it is given and frees it; exit code 1 for an answer that is up.
DWORD WINAPI ProbeThreadProc(LPVOID urlCopy);

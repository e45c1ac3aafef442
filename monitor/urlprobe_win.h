// The probe of one URL: a WinINet fetch on a worker thread of its own, waited for at most
// TimeOut milliseconds. All probes share one WinINet session.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <string>

// The session all probes share; null until opened, and null for good when opening failed.
extern HINTERNET InternetSession;

// How long one step of a worker's request (connect, send, receive) may wait before the worker
// gives up on its own, in milliseconds: twice the longest TimeOut the settings dialog offers.
// Without it a worker whose server accepts and never answers would live for ever.
extern std::uint32_t ProbeWorkerStepTimeout;

// Opened once when the main form is built, closed when it closes.
void OpenInternetSession();
void CloseInternetSession();

// True only when the worker ended within timeOut milliseconds with exit code 1 (status 200).
bool ProbeUrl(const std::string& url, std::uint32_t timeOut);

// The worker: owns the URL copy it is given and frees it; exit code 1 for status 200, else 0.
DWORD WINAPI ProbeThreadProc(LPVOID urlCopy);

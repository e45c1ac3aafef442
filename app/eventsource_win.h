// The source "Vigrel" of the Application event log. Its registration names the program as the
// file of its message table (vigrelevents.mc), so that an event viewer shows each entry's own
// words; entries are written through TEventLogger (mainserv_win.h).
#pragma once

#include <string>

// The source's key below HKEY_LOCAL_MACHINE.
inline constexpr const wchar_t* EventSourceKey =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Vigrel";

// Registers the source with the program at programPath; empty when done, else why not.
std::string InstallEventSource(const std::string& programPath);
// Removes the registration; a source that was never registered is no error.
std::string RemoveEventSource();

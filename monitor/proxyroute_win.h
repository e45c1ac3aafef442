// The PAC file asked off the caller's thread, and a challenge's schemes in words. The sessions
// that carry each route are monitor/winhttpsession_win.h's.
#pragma once

#include "settings/proxysettings.h"

#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// The proxy a PAC file names for url, asked on a thread of its own (the platform's lookup
// downloads and runs the file, and may take long): done gets "host:port", "" for direct, or
// nullopt when the file could not be read or run, on that thread or, from the cache of the
// last five minutes (per PAC file and host), at once on the caller's. The lookup gives up
// after timeOutMs.
void ResolvePacProxy(const std::string& pac, const std::string& url, std::uint32_t timeOutMs,
                     std::function<void(std::optional<std::wstring>)> done);

// The first of the schemes a challenge offers that the credentials can answer: named ones
// (a user given) Negotiate, NTLM or Basic; the account's own only Negotiate or NTLM; 0 when
// none fits.
DWORD PickAuthScheme(DWORD offered, bool named, bool basicOnly = false);

// A 407 answered with the [Proxy] credentials (none: the account's own) for the scheme it
// offers; asked gets "the proxy asks for Basic". False when none fits or the platform refused:
// the answer then stands.
bool SetProxyCredentials(HINTERNET request, const ProxySettings& proxy, std::string& asked);

// The schemes a 401 or 407 answer offers, in words: "Negotiate, NTLM"; empty when none.
std::string OfferedSchemes(DWORD schemes);

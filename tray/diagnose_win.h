// "Diagnose" in the companion: the address asked for in a small dialog, and the service's
// steps shown beside this user's own proxy settings, which the service does not use.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

// The address to diagnose, typed over initial; nullopt when the user cancels.
std::optional<std::string> AskDiagnoseAddress(HWND owner, const std::string& initial);

// This user's own proxy settings (as the browser's), in words: "automatic detection", "the PAC
// file http://...", "proxy host:port"; "direct" when none is set.
std::string UserProxyWords();

// The text shown for a diagnosis: the steps, then this user's proxy settings where they are
// not the route the service took.
std::string DiagnosisText(const std::string& url, const std::vector<std::string>& lines,
                          const std::string& userProxy);

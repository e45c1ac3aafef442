// The one platform step of a URL's wire form: an international host name in its ASCII form.
// Apart from the probes' own headers, since WinINet's and WinHTTP's cannot meet in one unit.
#pragma once

#include <optional>
#include <string>

// The URL as a probe sends it, in ASCII only: an IDN host in its punycode form, the path and
// query UTF-8 percent-escaped (see SplitWireUrl). nullopt for a URL that no request can carry;
// such a URL is down.
std::optional<std::string> WireUrl(const std::string& url);

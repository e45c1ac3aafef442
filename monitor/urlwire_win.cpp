#include "urlwire_win.h"

#include "base/utf_win.h"
#include "monitor/urlwire.h"

#include <windows.h>

namespace {
// The longest host name a lookup can carry, and so the most IdnToAscii may give back.
constexpr int MaxHostNameLength = 255;
} // namespace

std::optional<std::string> WireUrl(const std::string& url) {
    const std::optional<WireUrlParts> parts = SplitWireUrl(url);
    if (!parts)
        return std::nullopt;
    std::string host = parts->host;
    if (!IsAscii(host)) {
        const std::wstring wide = Widen(host);
        wchar_t ascii[MaxHostNameLength + 1] = {};
        const int length =
            ::IdnToAscii(0, wide.data(), static_cast<int>(wide.size()), ascii, MaxHostNameLength);
        if (length <= 0)
            return std::nullopt;
        host = Narrow(std::wstring_view(ascii, static_cast<std::size_t>(length)));
    }
    if (!IsWireHost(host))
        return std::nullopt;
    return parts->head + host + parts->tail;
}

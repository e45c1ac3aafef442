// libFuzzer target: SplitWireUrl on arbitrary bytes. Whatever it accepts comes out as printable
// ASCII (but for a host left for the name step) within the length bound, and the wire form of a
// wire form is itself.
#include "monitor/urlwire.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const std::string url(reinterpret_cast<const char*>(data), size);
    const auto parts = SplitWireUrl(url);
    if (!parts)
        return 0;
    const std::string wire = parts->head + parts->host + parts->tail;
    if (wire.size() > MaxWireUrlLength)
        std::abort();
    for (const char c : parts->head + parts->tail)
        if (c <= ' ' || c >= 0x7F)
            std::abort();
    if (IsAscii(parts->host)) {
        const auto again = SplitWireUrl(wire);
        if (!again || again->head + again->host + again->tail != wire)
            std::abort();
    }
    return 0;
}

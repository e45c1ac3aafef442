// libFuzzer target: Decode in both methods and ReadLnFromStream on arbitrary bytes. Decoding
// must end, stay in bounds and write no more than the text allows.
#include "net/nmuue.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    if (size > (1u << 20))
        return 0;
    for (UUMethods method : {uuMime, uuCode}) {
        TMemoryStream in, out;
        in.WriteBuffer(data, static_cast<std::int32_t>(size));
        in.SetPosition(0);
        TNMUUProcessor coder;
        coder.Method = method;
        coder.InputStream = &in;
        coder.OutputStream = &out;
        coder.Decode();
        // Each input byte yields at most 63 bytes (a uuencode length character), plus a
        // carried Base64 group.
        if (out.Size() > static_cast<std::int64_t>(size) * 63 + 3)
            std::abort();
    }
    TMemoryStream in;
    in.WriteBuffer(data, static_cast<std::int32_t>(size));
    in.SetPosition(0);
    std::string line;
    size_t lines = 0;
    while (TNMUUProcessor::ReadLnFromStream(in, line)) {
        if (line.size() > 200 || ++lines > size)
            std::abort();
    }
    if (in.Position() != static_cast<std::int64_t>(size))
        std::abort();
    return 0;
}

// libFuzzer target: TS_BufferStream against a plain memory stream under a script of reads,
// writes, seeks and push-backs taken from the input.
#include "base/exception.h"
#include "net/nms_stream.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    BufferSize = 1 + data[0] % 64;
    TMemoryStream inner, plain;
    {
        TS_BufferStream s(inner);
        std::vector<char> a(256), b(256);
        for (size_t i = 1; i + 1 < size; i += 2) {
            const int op = data[i] % 5;
            const int n = data[i + 1];
            if (op == 0) {
                std::memset(a.data(), n, a.size());
                if (s.Write(a.data(), n) != plain.Write(a.data(), n))
                    std::abort();
            } else if (op == 1) {
                const std::int32_t got = s.Read(a.data(), n);
                if (got != plain.Read(b.data(), n) ||
                    std::memcmp(a.data(), b.data(), static_cast<size_t>(got)) != 0)
                    std::abort();
            } else if (op == 2) {
                const std::int64_t target = plain.Size() ? n % (plain.Size() + 1) : 0;
                if (s.Seek(target, n & 1 ? soFromBeginning : soFromCurrent) !=
                    (n & 1 ? plain.Seek(target, soFromBeginning)
                           : plain.Seek(target, soFromCurrent)))
                    std::abort();
            } else if (op == 3) {
                if (s.Seek(n % 4, soFromEnd) != plain.Seek(-(n % 4), soFromEnd))
                    std::abort();
            } else {
                // A parser's use: read a byte, then push the same byte back.
                char c = 0;
                if (s.Read(&c, 1) == 1) {
                    s.PutBack(c);
                    if (plain.Read(b.data(), 1) != 1 || b[0] != c)
                        std::abort();
                    plain.Seek(-1, soFromCurrent);
                }
            }
            if (s.Position() != plain.Position())
                std::abort();
        }
    }
    BufferSize = 32768;
    return 0;
}

#include "net/nmuue.h"

#include "base/exception.h"

#include <cstring>

const char MimeTable[65] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char UUTABLE[65] = "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";

// clang-format off
const std::uint8_t base64Table[80] = {
    62,  127, 127, 127, 63,  52,  53,  54,  55,  56,  57,  58,  59,  60,  61,  127, // + to :
    127, 127, 64,  127, 127, 127, 0,   1,   2,   3,   4,   5,   6,   7,   8,   9,   // ; to J
    10,  11,  12,  13,  14,  15,  16,  17,  18,  19,  20,  21,  22,  23,  24,  25,  // K to Z
    127, 127, 127, 127, 127, 127, 26,  27,  28,  29,  30,  31,  32,  33,  34,  35,  // [ to j
    36,  37,  38,  39,  40,  41,  42,  43,  44,  45,  46,  47,  48,  49,  50,  51,  // k to z
};
// clang-format on

namespace {

constexpr int kLineBytes = 45;
constexpr int kWindow = 200;
constexpr std::uint8_t kPad = 64;
constexpr std::uint8_t kJunk = 127;

// Base64 value of c, kPad for '=', kJunk for anything outside the alphabet.
std::uint8_t base64Value(char c) {
    const int code = static_cast<unsigned char>(c);
    if (code < '+' || code > 'z')
        return kJunk;
    return base64Table[code - '+'];
}

void writeByte(TStream& out, int value) {
    const char b = static_cast<char>(value & 0xFF);
    out.WriteBuffer(&b, 1);
}

// Writes the first count (1 to 3) of the bytes that a group of four 6-bit values stands for.
void writeGroup(TStream& out, const int (&group)[4], int count) {
    writeByte(out, (group[0] << 2) | (group[1] >> 4));
    if (count >= 2)
        writeByte(out, (group[1] << 4) | (group[2] >> 2));
    if (count >= 3)
        writeByte(out, (group[2] << 6) | group[3]);
}

} // namespace

void TNMUUProcessor::SetEncodeTable() {
    std::memcpy(table_, Method == uuCode ? UUTABLE : MimeTable, sizeof table_);
}

void TNMUUProcessor::checkStreams() const {
    if (!InputStream || !OutputStream)
        throw Exception("Coder streams not set");
}

void TNMUUProcessor::Encode() {
    checkStreams();
    TStream& in = *InputStream;
    TStream& out = *OutputStream;
    in.SetPosition(0);
    if (OnBeginEncode)
        OnBeginEncode(*this);
    // However the encoding ends, the output is left at its start and the end event fires.
    const auto finish = [&] {
        out.SetPosition(0);
        if (OnEndEncode)
            OnEndEncode(*this);
    };
    try {
        SetEncodeTable();
        const bool mime = Method != uuCode;
        // Asked once: a size query costs three seeks, which would defeat a buffered input.
        std::int64_t left = in.Size();
        // Two characters per lookup: each 12 bits of a group give a pair of the alphabet.
        char pairs[4096][2];
        for (int v = 0; v < 4096; ++v) {
            pairs[v][0] = table_[v >> 6];
            pairs[v][1] = table_[v & 0x3F];
        }
        unsigned char bytes[kLineBytes];
        char line[2 + kLineBytes / 3 * 4 + 2];
        while (left > 0) {
            const int n = in.Read(bytes, kLineBytes);
            if (n <= 0)
                break; // the input shrank under us; stop rather than spin
            left -= n;
            int k = 0;
            if (!mime)
                line[k++] = table_[n];
            int i = 0;
            for (; i + 3 <= n; i += 3) {
                const unsigned group = bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2];
                std::memcpy(line + k, pairs[group >> 12], 2);
                std::memcpy(line + k + 2, pairs[group & 0xFFF], 2);
                k += 4;
            }
            if (n - i == 1) {
                const int b0 = bytes[i];
                line[k++] = table_[b0 >> 2];
                line[k++] = table_[(b0 << 4) & 0x30];
                if (mime) {
                    line[k++] = '=';
                    line[k++] = '=';
                }
            } else if (n - i == 2) {
                const int b0 = bytes[i], b1 = bytes[i + 1];
                line[k++] = table_[b0 >> 2];
                line[k++] = table_[((b0 << 4) & 0x30) | (b1 >> 4)];
                line[k++] = table_[(b1 << 2) & 0x3C];
                if (mime)
                    line[k++] = '=';
            }
            line[k++] = '\r';
            line[k++] = '\n';
            out.WriteBuffer(line, k);
        }
        if (!mime) {
            const char last[3] = {table_[0], '\r', '\n'};
            out.WriteBuffer(last, 3);
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

bool TNMUUProcessor::ReadLnFromStream(TStream& stream, std::string& line) {
    const std::int64_t start = stream.Position();
    char window[kWindow];
    const int n = std::max(stream.Read(window, kWindow), 0);
    const void* lf = std::memchr(window, '\n', static_cast<size_t>(n));
    int length = lf ? static_cast<int>(static_cast<const char*>(lf) - window) : n;
    const int consumed = lf ? length + 1 : n;
    if (length > 0 && window[length - 1] == '\r')
        --length;
    line.assign(window, static_cast<size_t>(length));
    stream.SetPosition(start + consumed);
    return consumed > 0;
}

void TNMUUProcessor::Decode() {
    checkStreams();
    if (OnBeginDecode)
        OnBeginDecode(*this);
    if (Method == uuCode)
        StdDecode();
    else
        Base64Decode();
    if (OnEndDecode)
        OnEndDecode(*this);
}

void TNMUUProcessor::Base64Decode() {
    TStream& in = *InputStream;
    TStream& out = *OutputStream;
    const std::int64_t size = in.Size();
    // A group may run on over a line end; what is left of it at the end yields its whole bytes.
    int group[4];
    int have = 0;
    bool ending = false;
    std::string line;
    while (!ending) {
        // A stream that yields nothing before its end (a position before 0) ends decoding too.
        ending = !ReadLnFromStream(in, line) || in.Position() >= size;
        const int length = static_cast<int>(line.size());
        if (length <= 2 || line.compare(0, 4, "====") == 0)
            continue;
        // Leading characters outside the alphabet are passed over; a padding sign or a line
        // end among them means the encoded text is over.
        int i = 0;
        bool over = false;
        for (; i < length && base64Value(line[i]) >= kPad; ++i) {
            if (line[i] == '=' || line[i] == '\r' || line[i] == '\n') {
                over = true;
                break;
            }
        }
        if (over)
            break;
        if (i >= length - 1)
            continue;
        for (; i < length; ++i) {
            const std::uint8_t v = base64Value(line[i]);
            if (v == kJunk)
                continue;
            group[have++] = v;
            if (have < 4)
                continue;
            have = 0;
            // Padding ends the text; where data must stand it leaves nothing sound to decode.
            const int bytes = group[0] == kPad || group[1] == kPad ? 0
                              : group[2] == kPad                   ? 1
                              : group[3] == kPad                   ? 2
                                                                   : 3;
            if (bytes < 3)
                ending = true;
            if (bytes > 0)
                writeGroup(out, group, bytes);
        }
    }
    if (have >= 2 && group[0] != kPad && group[1] != kPad)
        writeGroup(out, group, have == 3 && group[2] != kPad ? 2 : 1);
}

void TNMUUProcessor::StdDecode() {
    TStream& in = *InputStream;
    TStream& out = *OutputStream;
    const std::int64_t size = in.Size();
    std::string line;
    while (in.Position() < size) {
        if (!ReadLnFromStream(in, line))
            break;
        if (line.empty())
            continue;
        // The length character 0 (the closing grave accent line, itself one character long)
        // is tested before short lines are passed over, so that the line after it (an "end"
        // trailer) is dropped rather than decoded as data.
        int n = UuDEC(line[0]);
        if (n == 0) {
            ReadLnFromStream(in, line);
            continue;
        }
        if (line.size() <= 2)
            continue;
        // Characters missing at the end of a short line count as blanks (value 0), as
        // encoders that trim trailing blanks intend.
        auto digit = [&line](size_t index) { return index < line.size() ? UuDEC(line[index]) : 0; };
        for (size_t i = 1; n > 0; i += 4, n -= 3) {
            const int group[4] = {digit(i), digit(i + 1), digit(i + 2), digit(i + 3)};
            writeGroup(out, group, n);
        }
    }
}

// Base64 and uuencode coder: bytes of an input stream to lines of text on an output stream,
// and back. Body lines only: no header or trailer line is written or expected.
#pragma once

#include "base/tstream.h"

#include <cstdint>
#include <functional>
#include <string>

enum UUMethods : std::uint8_t { uuMime = 0, uuCode = 1 };

using ExchangeTable = char[64];

extern const char MimeTable[65];
extern const char UUTABLE[65];
// Base64 value of the characters '+' (43) to 'z' (122): 0..63, 64 for '=', 127 for others.
extern const std::uint8_t base64Table[80];

class TNMUUProcessor {
public:
    using TNotifyEvent = std::function<void(TNMUUProcessor& sender)>;

    TNMUUProcessor() = default;
    TNMUUProcessor(const TNMUUProcessor&) = delete;
    TNMUUProcessor& operator=(const TNMUUProcessor&) = delete;

    // Lines of 45 bytes; leaves the output at position 0 and fires OnEndEncode even when a
    // stream raises.
    void Encode();
    // Reads from the input's position and writes at the output's position.
    void Decode();

    void SetEncodeTable();
    static int UuDEC(char c) { return (static_cast<unsigned char>(c) - 32) & 63; }
    // The next line of the stream, without its line end (CR LF or a bare LF). A line longer
    // than the 200-byte window comes back in pieces of 200; nothing is read twice. False when
    // the stream gave no byte.
    static bool ReadLnFromStream(TStream& stream, std::string& line);

    TNotifyEvent OnBeginEncode;
    TNotifyEvent OnEndEncode;
    TNotifyEvent OnBeginDecode;
    TNotifyEvent OnEndDecode;

    // Not owned; set both before Encode or Decode.
    TStream* InputStream = nullptr;
    TStream* OutputStream = nullptr;
    UUMethods Method = uuMime;

private:
    void checkStreams() const;
    void Base64Decode();
    void StdDecode();

    ExchangeTable table_ = {};
};

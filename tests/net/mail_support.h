// Helpers for the mail assembly tests of both presets.
#pragma once

#include "base/tstream.h"
#include "net/mailassembly.h"
#include "net/nmuue.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

inline void WriteFile(const std::string& path, const std::string& data) {
    TFileStream f(path, fmCreate);
    f.WriteBuffer(data.data(), static_cast<std::int32_t>(data.size()));
}

// What the coder makes of text, encoding or decoding; an encoder must leave its output at the
// start.
inline std::string Coded(const std::string& text, UUMethods method, bool encode) {
    TMemoryStream in, out;
    in.WriteBuffer(text.data(), static_cast<std::int32_t>(text.size()));
    in.SetPosition(0);
    TNMUUProcessor coder;
    coder.Method = method;
    coder.InputStream = &in;
    coder.OutputStream = &out;
    if (encode) {
        coder.Encode();
        EXPECT_EQ(out.Position(), 0);
    } else {
        coder.Decode();
    }
    return out.DataString();
}

// The same n arbitrary bytes for the same seed.
inline std::string RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(rng());
    return s;
}

inline std::string HeaderText(const TMailAssembly& m) {
    std::string text;
    for (int i = 0; i < m.FinalHeader->Count(); ++i)
        text += (*m.FinalHeader)[i] + "\n";
    return text;
}

// The message as a server stores it: the header, the empty lines the client sends after it,
// and the body with the dot-stuffing undone.
inline std::string ReceivedMessage(const TMailAssembly& m) {
    std::string text = m.FinalHeader->Text() + "\r\n\r\n";
    const std::string body = m.BodyStream->DataString();
    size_t start = 0;
    while (start < body.size()) {
        size_t end = body.find("\r\n", start);
        end = end == std::string::npos ? body.size() : end + 2;
        text.append(body, start + (body[start] == '.' ? 1 : 0), end - start - (body[start] == '.'));
        start = end;
    }
    return text;
}

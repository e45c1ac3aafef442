// Text inside the program is UTF-8 in std::string; the platform's wide interfaces take UTF-16.
// These convert between the two without a locale and without loss: an ill-formed sequence is
// reported, never replaced by a question mark.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// UTF-16 for well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF);
// nullopt otherwise.
std::optional<std::u16string> Utf16FromUtf8(std::string_view text);

// UTF-8 for well-formed UTF-16; nullopt for an unpaired surrogate.
std::optional<std::string> Utf8FromUtf16(std::u16string_view text);

// True when the bytes are well-formed UTF-8 (plain ASCII is).
inline bool IsUtf8(std::string_view text) {
    return Utf16FromUtf8(text).has_value();
}

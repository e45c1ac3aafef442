// The small text rules every part of the program shares: comparison without regard to case,
// blanks around a text, whole numbers, and the file-name part of a path. All of it is ASCII
// and independent of the locale: these texts are URLs, switches, key names and file names.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Below zero, zero or above zero as a sorts before, with or after b, letters compared without
// regard to case; a text that is the start of another sorts first.
int CompareText(const std::string& a, const std::string& b);
inline bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && CompareText(a, b) == 0;
}

// The text with its ASCII letters in lower case (an address's scheme and host, a word).
std::string LowerCase(std::string_view text);

// The text without the blanks around it: spaces, tabs and every other control character.
std::string TrimBlanks(const std::string& text);

// Decimal digits with an optional "+" or "-", within 32 bits; anything else, an empty text
// included, is no whole number.
std::optional<std::int32_t> WholeNumber(const std::string& text);

// Whether the text holds a C0 control, DEL, or a C1 control (U+0080 to U+009F, which UTF-8
// writes C2 80..9F): a line break in a setting would write keys of its own into the file.
bool HasControlCharacter(std::string_view text);

// The texts with the separator between them.
std::string Join(const std::vector<std::string>& texts, const std::string& separator);

// The file-name part of a path: what follows its last "\", "/" or drive colon.
std::string FileNameOf(const std::string& path);

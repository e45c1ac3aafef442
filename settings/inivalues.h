// How the settings file's texts become values, and how URLs stand as keys of section "URLS".
#pragma once

#include <cstdint>
#include <string>

// An integer as the settings file holds it: "0x"/"0X" and hexadecimal digits, or an optional
// "-" or "+" and decimal digits; anything else, or a number beyond 32 bits, is defaultValue.
std::int32_t IniToInt(const std::string& text, std::int32_t defaultValue);
// "1"/"0" on writing; any integer other than 0 is true on reading.
bool IniToBool(const std::string& text, bool defaultValue);
std::string IntToIni(std::int32_t value);
inline std::string BoolToIni(bool value) {
    return value ? "1" : "0";
}

// A URL stands as a key name with an empty value. A key name ends at its first "=", so a URL
// that holds one is written with its rest in the value, marked by a leading "=": the line
// reads as the URL with its first "=" doubled. Any other value is ignored on reading.
struct UrlKeyLine {
    std::string key;
    std::string value;
};
UrlKeyLine UrlToKeyLine(const std::string& url);
std::string UrlFromKeyLine(const std::string& key, const std::string& value);

// Blanks and control characters around a URL are not part of it; the platform drops them
// around a key anyway, so the record keeps URLs without them.
std::string TrimUrl(const std::string& url);

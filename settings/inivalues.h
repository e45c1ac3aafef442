// How the settings file's texts become values, and how URLs stand as entries of section "URLS".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A number as every way into the settings writes it: an optional "-" or "+" and decimal digits,
// or "0x"/"0X" and up to eight hexadecimal digits taken as the 32 bits of the number. Anything
// else, or a number beyond 32 bits, is none.
std::optional<std::int32_t> SettingsNumber(const std::string& text);
inline std::int32_t IniToInt(const std::string& text, std::int32_t defaultValue) {
    return SettingsNumber(text).value_or(defaultValue);
}
// "1"/"0" on writing; any integer other than 0 is true on reading.
bool IniToBool(const std::string& text, bool defaultValue);
std::string IntToIni(std::int32_t value);
inline std::string BoolToIni(bool value) {
    return value ? "1" : "0";
}

// A URL stands as a key name with an empty value. A key name ends at its first "=", so a URL
// that holds one is written with its rest in the value, marked by a leading "=": the line
// reads as the URL with its first "=" doubled. Any other value is ignored on reading, and a
// line without "=" is a URL as well.
struct UrlKeyLine {
    std::string key;
    std::string value;
};
UrlKeyLine UrlToKeyLine(const std::string& url);
std::string UrlFromKeyLine(const std::string& key, const std::string& value);
// The address as every version of the program reads an entry; a value other than "=..." is
// ignored.
std::string UrlFromEntry(const std::string& entry);

// An entry holds the site's checks as well: "address=checks", or, for an address holding "=",
// "address-up-to-its-first-=" "=" "rest-of-address blank checks". An address holds no blank, so
// the first blank after "==" ends it; an older file whose address went on after a blank (what
// follows reads as no checks) keeps its whole address, as it always did.
struct UrlEntry {
    std::string Url;
    std::string Checks;
};
std::string UrlToEntry(const std::string& url, const std::string& checks = {});
UrlEntry ReadUrlEntry(const std::string& entry);

// Blanks and control characters around a URL are not part of it.
std::string TrimUrl(const std::string& url);

// The protected password's bytes as the file holds them.
std::string Base64Encode(std::string_view bytes);
std::optional<std::string> Base64Decode(std::string_view text);

#include "inivalues.h"

#include "base/text.h"
#include "settings/sitechecks.h"

#include <cctype>
#include <cstdint>
#include <cstring>

namespace {

bool isHexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int hexValue(char c) {
    if (isDigit(c))
        return c - '0';
    return std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
}

} // namespace

std::optional<std::int32_t> SettingsNumber(const std::string& text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        if (text.size() > 10)
            return std::nullopt;
        std::uint32_t value = 0;
        for (size_t i = 2; i < text.size(); ++i) {
            if (!isHexDigit(text[i]))
                return std::nullopt;
            value = value * 16 + static_cast<std::uint32_t>(hexValue(text[i]));
        }
        return static_cast<std::int32_t>(value);
    }
    return WholeNumber(text);
}

bool IniToBool(const std::string& text, bool defaultValue) {
    // Read as an integer: a text that is none keeps the default.
    return IniToInt(text, defaultValue ? 1 : 0) != 0;
}

std::string IntToIni(std::int32_t value) {
    return std::to_string(value);
}

UrlKeyLine UrlToKeyLine(const std::string& url) {
    const size_t equals = url.find('=');
    if (equals == std::string::npos)
        return {url, ""};
    return {url.substr(0, equals), url.substr(equals)};
}

std::string UrlFromKeyLine(const std::string& key, const std::string& value) {
    if (!value.empty() && value[0] == '=')
        return key + value;
    return key;
}

std::string UrlToEntry(const std::string& url, const std::string& checks) {
    const UrlKeyLine line = UrlToKeyLine(url);
    if (line.value.empty())
        return line.key + "=" + checks;
    return line.key + "=" + line.value + (checks.empty() ? "" : " " + checks);
}

UrlEntry ReadUrlEntry(const std::string& entry) {
    const size_t equals = entry.find('=');
    if (equals == std::string::npos)
        return {TrimBlanks(entry), ""};
    const std::string key = TrimBlanks(entry.substr(0, equals));
    const std::string value = TrimBlanks(entry.substr(equals + 1));
    if (value.empty() || value[0] != '=')
        return {key, value};
    const size_t blank = value.find_first_of(" \t");
    if (blank != std::string::npos) {
        const std::string checks = TrimBlanks(value.substr(blank));
        std::string problem;
        if (ReadSiteChecks(checks, problem))
            return {key + value.substr(0, blank), checks};
    }
    return {key + value, ""};
}

std::string UrlFromEntry(const std::string& entry) {
    const size_t equals = entry.find('=');
    if (equals == std::string::npos)
        return TrimBlanks(entry);
    return UrlFromKeyLine(TrimBlanks(entry.substr(0, equals)),
                          TrimBlanks(entry.substr(equals + 1)));
}

std::string TrimUrl(const std::string& url) {
    return TrimBlanks(url);
}

namespace {
const char* const Base64Digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}

std::string Base64Encode(std::string_view bytes) {
    std::string text;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size())
            group |= static_cast<unsigned char>(bytes[i + 2]);
        for (size_t d = 0; d < 4; ++d)
            text += i + d <= bytes.size() ? Base64Digits[(group >> (18 - 6 * d)) & 63] : '=';
    }
    return text;
}

std::optional<std::string> Base64Decode(std::string_view text) {
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::string bytes;
    for (size_t i = 0; i < text.size(); i += 4) {
        std::uint32_t group = 0;
        int padding = 0;
        for (size_t d = 0; d < 4; ++d) {
            const char c = text[i + d];
            const char* at = c == '\0' ? nullptr : std::strchr(Base64Digits, c);
            if (c == '=' && i + 4 == text.size() && d >= 2) {
                ++padding;
                group <<= 6;
                continue;
            }
            if (!at || padding > 0)
                return std::nullopt;
            group = group << 6 | static_cast<std::uint32_t>(at - Base64Digits);
        }
        bytes += static_cast<char>(group >> 16);
        if (padding < 2)
            bytes += static_cast<char>(group >> 8 & 0xFF);
        if (padding < 1)
            bytes += static_cast<char>(group & 0xFF);
    }
    return bytes;
}

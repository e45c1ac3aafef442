#include "inivalues.h"

#include "base/text.h"

#include <cctype>
#include <cstdint>

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

std::int32_t IniToInt(const std::string& text, std::int32_t defaultValue) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        // Up to eight hexadecimal digits, taken as the 32 bits of the number.
        if (text.size() > 10)
            return defaultValue;
        std::uint32_t value = 0;
        for (size_t i = 2; i < text.size(); ++i) {
            if (!isHexDigit(text[i]))
                return defaultValue;
            value = value * 16 + static_cast<std::uint32_t>(hexValue(text[i]));
        }
        return static_cast<std::int32_t>(value);
    }
    return WholeNumber(text).value_or(defaultValue);
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

std::string TrimUrl(const std::string& url) {
    return TrimBlanks(url);
}

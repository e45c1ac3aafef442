#include "ui/frmsettingsrules.h"

#include <limits>

std::optional<std::int32_t> WholeNumber(const std::string& text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    if (i == text.size())
        return std::nullopt;
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        value = value * 10 + (text[i] - '0');
        if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

std::int32_t Clamp(std::int64_t value, const SpinLimits& limits) {
    if (value < limits.min)
        return limits.min;
    if (value > limits.max)
        return limits.max;
    return static_cast<std::int32_t>(value);
}

std::int32_t SpinValue(const std::string& text, const SpinLimits& limits) {
    const std::optional<std::int32_t> n = WholeNumber(text);
    return n ? Clamp(*n, limits) : limits.min;
}

std::string NewUrlFromText(const std::string& text) {
    std::size_t b = 0;
    std::size_t e = text.size();
    // Blanks are spaces, tabs and any other control character.
    while (b < e && static_cast<unsigned char>(text[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ')
        --e;
    if (b == e)
        return {};
    return "http://" + text.substr(b, e - b);
}

#include "ui/frmsettingsrules.h"

#include "base/text.h"

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
    const std::string url = TrimBlanks(text);
    return url.empty() ? url : "http://" + url;
}

// The settings dialog's rules for what is typed into it; no window involved.
#pragma once

#include "base/text.h"
#include "settings/cusersettings.h"
#include "settings/settingsrules.h"

#include <cstdint>
#include <optional>
#include <string>

// Limits of the dialog's spin fields.
struct SpinLimits {
    std::int32_t min;
    std::int32_t max;
    std::int32_t step;
};
// The settings rules' ranges, so that the dialog offers what the rules accept.
constexpr SpinLimits IntervalLimits{TimeSpanRange.min, TimeSpanRange.max, 1}; // minutes
constexpr SpinLimits TimeOutLimits{TimeOutRange.min, TimeOutRange.max, 10};   // milliseconds
constexpr SpinLimits ParallelLimits{ParallelRange.min, ParallelRange.max, 1};
constexpr SpinLimits RetriesLimits{RetriesRange.min, RetriesRange.max, 1};
// [Alerts]: checks in a row that bring a site back up, and minutes between reminders (0: none,
// at most a week).
constexpr SpinLimits UpAfterLimits{1, 60, 1};
constexpr SpinLimits RemindLimits{0, 10080, 5};

std::int32_t Clamp(std::int64_t value, const SpinLimits& limits);
// The value a spin field's text stands for: clamped into the limits; text that is no whole
// number reads as the minimum.
std::int32_t SpinValue(const std::string& text, const SpinLimits& limits);

// The URL a typed new-URL text becomes: blanks around it dropped, "http://" put in front;
// empty when nothing but blanks was typed (nothing is added then).
std::string NewUrlFromText(const std::string& text);

// The status cell of a URL row.
inline const char* StatusText(std::int32_t status) {
    return status != 0 ? "OK" : "FAILED";
}

// The log choice shown for a Filter value: above 2 is the last choice, below 0 none (-1).
inline int LogChoiceFor(std::int32_t filter) {
    return filter > 2 ? 2 : (filter < 0 ? -1 : filter);
}

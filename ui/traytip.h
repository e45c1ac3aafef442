// The text that fits the notification area's tip field.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// UTF-16 units the tip field holds before its terminating zero.
constexpr std::size_t TrayTipCapacity = 127;

// The tip as the shell gets it: unchanged when it fits; otherwise its beginning, ended by "..."
// so that the user sees there is more. The failed sites stand in list order, so the first ones
// stay readable; neither a character nor a line break is ever split in half.
std::string TrayTipText(const std::string& tip);

// The tip with the sites that are up with a warning after it: a line "Warnings:", then one line
// per site. Unchanged when there is none. The failed sites come first, so a cut by TrayTipText
// takes the warnings before any failed site.
std::string TipWithWarnings(const std::string& tip, const std::vector<std::string>& warned);

// The monitor's words for its maintenance windows ("in maintenance until 11:40") as a line of
// their own: begun with a capital.
std::string MaintenanceLine(const std::string& words);
// The tip with that line before it, so that a cut never takes it; unchanged without words.
std::string TipWithMaintenance(const std::string& tip, const std::string& words);

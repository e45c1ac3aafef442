// The tray menu's "Settings": the dialog, and on OK the new configuration applied in order.
#pragma once

#include "settings/cusersettings.h"

#include <windows.h>

#include <functional>
#include <string>

// What applying the settings takes from the main form. Unset steps are skipped, except
// SetAutoStart and Save, which default to the service's start type and the record's Save.
struct SettingsSteps {
    // Re-arms Timer1 from TimeSpan (an unchanged TimeSpan keeps the running period).
    std::function<void()> ArmSchedule;
    // One check cycle; also what the dialog's "Go" runs.
    std::function<void()> CheckSites;
    std::function<bool(bool startWithWindows)> SetAutoStart;
    std::function<void()> Save;
    std::function<void(const std::string&)> WriteLog;
};

// Opens the settings dialog over the form, modally, with FormSettings pointing at it while it
// is open. On OK: re-arm the schedule, run a cycle at once when TimeSpan is 1 or more, apply
// "Start with Windows", save, and log "Settings Changed" when Filter is 0 or less. Cancel
// changes nothing. Returns the dialog's result. A failing Save raises to the caller.
int Settings1Click(HWND form, CUserSettings& settings, const SettingsSteps& steps);

// What OK applies, for settings that came from elsewhere (the control channel): the same steps
// in the same order as after the dialog's OK.
void ApplySettings(CUserSettings& settings, const SettingsSteps& steps);

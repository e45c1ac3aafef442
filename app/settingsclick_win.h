// The tray menu's "Settings": the dialog, and on OK the new configuration applied in order; and
// the same for settings that come from elsewhere or from the file.
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
    // Writes the settings to the file; raises when the file was not replaced.
    std::function<void(const CUserSettings&)> Save;
    std::function<void(const std::string&)> WriteLog;
    // A settings file that exists but cannot be read: said where an administrator looks.
    std::function<void(const std::string&)> ReportUnreadable;
    // The dialog's "Send a test" of a webhook channel; the outcome goes to FormSettings.
    std::function<void(const WebhookChannel&)> TestWebhook;
};

// Opens the settings dialog over the form, modally, with FormSettings pointing at it while it
// is open. The dialog's OK puts the settings in force only once they keep the settings rules
// and are in the file; then the schedule is re-armed, a cycle runs at once when TimeSpan is 1
// or more, "Start with Windows" is applied, and "Settings Changed" is logged when Filter is 0 or
// less. Cancel changes nothing. Returns the dialog's result.
int Settings1Click(HWND form, CUserSettings& settings, const SettingsSteps& steps);

// What follows a saved change, for settings that came from elsewhere: the same steps in the
// same order as after the dialog's OK.
void ApplySettings(CUserSettings& settings, const SettingsSteps& steps);

// All or nothing: next replaces settings, and is applied, only once it changes nothing group
// policy sets, keeps the settings rules and has been saved. Otherwise the reason, for the one who
// asked, and settings is untouched.
std::string ChangeSettings(CUserSettings& settings, const CUserSettings& next,
                           const SettingsSteps& steps);

// The settings file into the record. A file that exists but cannot be read is reported (once
// while the reason stays the same) and false is returned; the record keeps what it holds and
// the file is not saved over until a later call has read it. What the loader had to change in
// the file's values goes to the log.
bool LoadSettings(CUserSettings& settings, const SettingsSteps& steps);

#include "app/settingsclick_win.h"

#include "app/autostart_win.h"
#include "base/exception.h"
#include "settings/policy.h"
#include "settings/profilestore_win.h"
#include "settings/settingsrules.h"
#include "ui/frmsettings_win.h"

namespace {

// FormSettings names the dialog exactly as long as it exists, whatever ends the handler.
struct OpenDialog {
    explicit OpenDialog(TFormSettings& dialog) { FormSettings = &dialog; }
    ~OpenDialog() { FormSettings = nullptr; }
    OpenDialog(const OpenDialog&) = delete;
    OpenDialog& operator=(const OpenDialog&) = delete;
};

void log(const SettingsSteps& steps, const std::string& text) {
    if (steps.WriteLog)
        steps.WriteLog(text);
}

// Saves through the steps' stand-in, or to the file; a failure goes to the log and on to the
// caller.
void save(const CUserSettings& settings, const SettingsSteps& steps) {
    try {
        if (steps.Save)
            steps.Save(settings);
        else
            settings.Save();
    } catch (const Exception& e) {
        log(steps, e.Message());
        throw;
    }
}

} // namespace

int Settings1Click(HWND form, CUserSettings& settings, const SettingsSteps& steps) {
    // A file that could not be read at start may be readable now: show what it holds.
    if (ProgramSettingsFile().Unread())
        LoadSettings(settings, steps);
    int result = IDCANCEL;
    {
        TFormSettings dialog(form, settings);
        dialog.OnGo = steps.CheckSites;
        dialog.OnTestWebhook = steps.TestWebhook;
        // The dialog shows a failed save in its box; the log keeps it too.
        dialog.OnSave = [&] { save(settings, steps); };
        OpenDialog open(dialog);
        result = dialog.ShowModal();
    }
    if (result == IDOK)
        ApplySettings(settings, steps);
    return result;
}

void ApplySettings(CUserSettings& settings, const SettingsSteps& steps) {
    if (steps.ArmSchedule)
        steps.ArmSchedule();
    if (settings.TimeSpan >= 1 && steps.CheckSites)
        steps.CheckSites();
    if (steps.SetAutoStart)
        steps.SetAutoStart(settings.StartOnStartup);
    else
        SetAutoStart(settings.StartOnStartup);
    if (settings.Filter <= 0)
        log(steps, "Settings Changed");
}

std::string ChangeSettings(CUserSettings& settings, const CUserSettings& next,
                           const SettingsSteps& steps) {
    if (std::string refusal = PolicyRefusal(settings, next); !refusal.empty())
        return refusal;
    const std::string problem = SettingsProblem(next);
    if (!problem.empty())
        return problem;
    try {
        save(next, steps);
    } catch (const Exception& e) {
        return e.Message();
    }
    settings = next;
    ApplySettings(settings, steps);
    return {};
}

bool LoadSettings(CUserSettings& settings, const SettingsSteps& steps) {
    static std::string reported;
    SettingsFile& file = ProgramSettingsFile();
    if (!settings.Load()) {
        if (file.Problem() != reported) {
            reported = file.Problem();
            log(steps, reported);
            if (steps.ReportUnreadable)
                steps.ReportUnreadable(reported);
        }
        return false;
    }
    if (!reported.empty())
        log(steps, "The settings file " + file.Path() + " has been read.");
    reported.clear();
    // What the loader fitted is news at "All Events"; a password that is gone, at every level.
    for (const std::string& note : file.Notes())
        if (settings.Filter <= 0 || note == PasswordNotReadNote)
            log(steps, note);
    return true;
}

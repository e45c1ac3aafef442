#include "app/settingsclick_win.h"

#include "app/autostart_win.h"
#include "ui/frmsettings_win.h"

namespace {

// FormSettings names the dialog exactly as long as it exists, whatever ends the handler.
struct OpenDialog {
    explicit OpenDialog(TFormSettings& dialog) { FormSettings = &dialog; }
    ~OpenDialog() { FormSettings = nullptr; }
    OpenDialog(const OpenDialog&) = delete;
    OpenDialog& operator=(const OpenDialog&) = delete;
};

} // namespace

int Settings1Click(HWND form, CUserSettings& settings, const SettingsSteps& steps) {
    int result = IDCANCEL;
    {
        TFormSettings dialog(form, settings);
        dialog.OnGo = steps.CheckSites;
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
    if (steps.Save)
        steps.Save();
    else
        settings.Save();
    if (settings.Filter <= 0 && steps.WriteLog)
        steps.WriteLog("Settings Changed");
}

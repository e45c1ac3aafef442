#include "mainserv.h"

#include "base/text.h"

#include <cstdio>

bool FindCmdLineSwitch(const std::vector<std::string>& args, const std::string& word) {
    for (const std::string& arg : args) {
        if (arg.size() > 1 && (arg[0] == '-' || arg[0] == '/') && SameText(arg.substr(1), word))
            return true;
    }
    return false;
}

bool IsPendingState(std::uint32_t state) {
    return state == csStartPending || state == csStopPending || state == csContinuePending ||
           state == csPausePending;
}

ServiceStatusRecord StatusReportRule::Next(std::uint32_t state) {
    ServiceStatusRecord report;
    report.currentState = state;
    report.controlsAccepted = state == csStartPending ? 0 : VigrelControlsAccepted;
    report.checkPoint =
        IsPendingState(state) && state == last_.currentState ? last_.checkPoint + 1 : 0;
    last_ = report;
    return report;
}

const char* const InstallOkText = "Service installed successfully";
const char* const UninstallOkText = "Service uninstalled successfully";

std::string InstallFailedText(const std::string& displayName, const std::string& message) {
    return "Service \"" + displayName + "\" failed to install with error: \"" + message + "\"";
}

std::string UninstallFailedText(const std::string& displayName, const std::string& message) {
    return "Service \"" + displayName + "\" failed to uninstall with error: \"" + message + "\"";
}

std::string ServiceFailedText(const std::string& action, const std::string& message) {
    return "Service failed on " + action + ": " + message;
}

std::string ServiceFailedText(std::uint32_t controlCode, const std::string& message) {
    static const char* const actions[] = {"stop", "pause", "continue", "interrogate", "shutdown"};
    if (controlCode >= 1 && controlCode <= 5)
        return ServiceFailedText(actions[controlCode - 1], message);
    return "Service failed in custom message(" + std::to_string(controlCode) + "): " + message;
}

std::string ApplicationErrorText(const std::string& className, const std::string& moduleName,
                                 const void* address, const std::string& message) {
    char where[32];
    std::snprintf(where, sizeof where, "%p", address);
    const bool hasStop = !message.empty() && message.back() == '.';
    return "Exception " + className + " in module " + moduleName + " at " + where + ".\n" +
           message + (hasStop ? "" : ".");
}

std::string QuotedBinaryPath(const std::string& programPath) {
    return "\"" + programPath + "\"";
}

std::string ProgramFileName(const std::string& programPath) {
    return FileNameOf(programPath);
}

std::string ApplicationTitle(const std::string& programPath) {
    const std::string name = ProgramFileName(programPath);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

// Rules of the program entry and the service object that need no Windows call: command-line
// switches, the status report with its checkpoint, and the texts the program shows or logs.
#pragma once

#include "base/servicestate.h"

#include <cstdint>
#include <string>
#include <vector>

// SERVICE_WIN32_OWN_PROCESS with SERVICE_INTERACTIVE_PROCESS.
constexpr std::uint32_t VigrelServiceType = 0x110;
// Stop, pause/continue and shutdown.
constexpr std::uint32_t VigrelControlsAccepted = 0x7;
constexpr std::uint32_t VigrelWaitHint = 5000;

// The thread message that carries a control code to the service thread (WM_USER + 1).
constexpr unsigned CM_SERVICE_CONTROL_CODE = 0x0400 + 1;

// A switch is "-word" or "/word", the word compared whole and without regard to case.
bool FindCmdLineSwitch(const std::vector<std::string>& args, const std::string& word);

// One status report in the order of the service manager's record.
struct ServiceStatusRecord {
    std::uint32_t serviceType = VigrelServiceType;
    std::uint32_t currentState = 0;
    std::uint32_t controlsAccepted = 0;
    std::uint32_t win32ExitCode = 0;
    std::uint32_t serviceSpecificExitCode = 0;
    std::uint32_t checkPoint = 0;
    std::uint32_t waitHint = VigrelWaitHint;
};

// Builds each report from the last one: the checkpoint goes up by one when a pending state is
// reported again right after the same pending state, and is 0 otherwise; no controls are
// accepted while the start is pending.
class StatusReportRule {
public:
    ServiceStatusRecord Next(std::uint32_t state);
    std::uint32_t State() const { return last_.currentState; }

private:
    ServiceStatusRecord last_;
};

bool IsPendingState(std::uint32_t state);

// Registration messages.
extern const char* const InstallOkText;
extern const char* const UninstallOkText;
std::string InstallFailedText(const std::string& displayName, const std::string& message);
std::string UninstallFailedText(const std::string& displayName, const std::string& message);

// "Service failed on <action>: <message>", or the custom-message form for unknown codes.
std::string ServiceFailedText(std::uint32_t controlCode, const std::string& message);
std::string ServiceFailedText(const std::string& action, const std::string& message);

// The "Application Error" box's text: "Exception %s in module %s at %p.\n%s%s", with a full
// stop after a message that has none.
std::string ApplicationErrorText(const std::string& className, const std::string& moduleName,
                                 const void* address, const std::string& message);

// The binary path as registered: quoted, so that a folder with a blank in its name can neither
// split the command line nor let the service manager try a shorter path first.
std::string QuotedBinaryPath(const std::string& programPath);

// The program's file name without folder and extension: the application window's title.
std::string ApplicationTitle(const std::string& programPath);
// The file name without folder: the event-log source of the application.
std::string ProgramFileName(const std::string& programPath);

// The alert mail: each report goes out on a mail thread of its own with a fresh SMTP client.
// The main form owns one TAlertMail and hands it every report of a cycle with sites down.
#pragma once

// <windows.h> first: its PostMessage macro must rename the mail assembly's member everywhere.
#include <windows.h>

#include "base/handle_win.h"
#include "monitor/alertreport.h"

#include <functional>
#include <string>

class CUserSettings;

// Limit of each wait of the mail thread's client (name lookup, connect, every reply line). A
// working server answers a command within a few seconds, even one that delays its greeting;
// without a limit a server that accepts and then says nothing would keep the thread for ever.
// With it, such a server costs at most lookup + connect + greeting + QUIT: four waits.
constexpr int MailClientTimeOut = 15000;

// How long a new report waits for the previous mail thread. It covers the four waits of a
// silent server and a margin, so that a report is only given up when the previous server
// still dribbles out answers after that; the GUI thread never waits longer than this. Giving
// up the new report, rather than starting a second thread, keeps one mail thread at a time and
// the reports in the order of their cycles; the next cycle with sites down reports afresh.
constexpr DWORD PreviousMailWait = 4 * MailClientTimeOut + 5000;

using MailFailedEvent = std::function<void(const std::string& line)>;
// Whether the server took the mail; called on the mail thread when it is done.
using MailDoneEvent = std::function<void(bool delivered)>;

struct MailJob {
    std::string Report;
    AlertKind Kind = AlertKind::SitesDown;
    MailSettingsCopy Settings;
    int TimeOut = MailClientTimeOut;
    MailFailedEvent OnMailFailed; // called on the mail thread
    MailDoneEvent OnMailDone;     // called on the mail thread, last
};

// The work of the mail thread, which owns the job; exit code always 0. A mail that cannot be
// delivered is not retried here; its failure line goes to the job's OnMailFailed, and
// OnMailDone tells whoever decides about the next mail. Mail without a server or without a
// recipient counts as switched off: it fails without a line.
DWORD MailThreadProc(const MailJob& job);

// The current local date and time as the system's short date and long time formats show it.
std::string CurrentDateTimeText();

class TAlertMail {
public:
    explicit TAlertMail(int clientTimeOut = MailClientTimeOut,
                        DWORD previousWait = PreviousMailWait);
    // A thread still running is not waited for: it ends with the process.
    ~TAlertMail() = default;
    TAlertMail(const TAlertMail&) = delete;
    TAlertMail& operator=(const TAlertMail&) = delete;

    // Starts the mail thread for the report; true when it was started. Waits first, at most
    // the previous-mail bound, for the previous thread; when that one is still running the
    // report is dropped and false returned, and onDone is not called.
    bool SendStatusMail(const std::string& report, const CUserSettings& settings,
                        AlertKind kind = AlertKind::SitesDown, MailDoneEvent onDone = {});

    // Receives the failure line of every mail not delivered, on the mail thread; by default
    // the event log, whatever its level.
    MailFailedEvent OnMailFailed;

    HANDLE MailThread() const { return MailThread_.Get(); }
    // True when no mail thread runs any more, waiting at most milliseconds for it.
    bool WaitForMail(DWORD milliseconds) const;

private:
    int clientTimeOut_;
    DWORD previousWait_;
    ScopedKernelHandle MailThread_;
};

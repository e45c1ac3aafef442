// The alert mail: the reports go out on a mail thread, each with a fresh SMTP client. The main
// form owns one TAlertMail and hands it every mail a cycle calls for.
#pragma once

// <windows.h> first: its PostMessage macro must rename the mail assembly's member everywhere.
#include <windows.h>

#include "base/handle_win.h"
#include "monitor/alertpolicy.h"
#include "monitor/alertreport.h"

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class CUserSettings;

// Limit of each wait of the mail thread's client (name lookup, connect, every reply line). A
// working server answers a command within a few seconds, even one that delays its greeting;
// without a limit a server that accepts and then says nothing would keep the thread for ever.
// With it, such a server costs at most lookup + connect + greeting + QUIT: four waits.
constexpr int MailClientTimeOut = 15000;

using MailFailedEvent = std::function<void(const std::string& line)>;
// Whether the server took the mail; called on the mail thread when it is done.
using MailDoneEvent = std::function<void(bool delivered)>;

struct MailJob {
    std::string Report;
    AlertKind Kind = AlertKind::SitesDown;
    std::string Warnings; // of a report, under their own heading
    std::string BackUp;   // of a report: the sites back up in the same cycle
    std::string Notes;    // the cycle's notes, under their own heading
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

// One mail thread at a time, in the order of the cycles, and the form's thread never waits for
// it: a mail handed over while the thread still sends waits in a queue, which the thread takes
// up when it is done. A newer mail of a kind replaces one of that kind still waiting (the
// newer report says all the older one would), so a server that hangs costs no more than one
// waiting mail of each kind.
class TAlertMail {
public:
    explicit TAlertMail(int clientTimeOut = MailClientTimeOut);
    // A thread still running is not waited for: it ends with the process.
    ~TAlertMail() = default;
    TAlertMail(const TAlertMail&) = delete;
    TAlertMail& operator=(const TAlertMail&) = delete;

    // Hands the mail to the mail thread, starting one when none runs; false when no thread
    // could be started. A mail replaced while it waits has onDone(false) called, on this thread.
    // A report still waiting that a newer one replaces hands its sites back up and its notes
    // on to the newer, unless the newer tells them otherwise: they would be lost with it.
    bool SendStatusMail(const std::string& report, const CUserSettings& settings,
                        AlertKind kind = AlertKind::SitesDown, MailDoneEvent onDone = {},
                        const std::string& warnings = {}, const std::string& backUp = {},
                        const std::string& notes = {});

    // A cycle's one mail (CycleMail): a report with whatever else it holds, else the sites back
    // up with the warnings, else the warnings alone; notes ride along. onReportDone is told
    // whether a report was delivered (not called for a mail without one).
    bool SendCycleMail(const CycleMail& mail, const CUserSettings& settings,
                       MailDoneEvent onReportDone = {});

    // Receives the failure line of every mail not delivered, on the mail thread; by default
    // the event log, whatever its level.
    MailFailedEvent OnMailFailed;

    HANDLE MailThread() const { return MailThread_.Get(); }
    // True when no mail thread runs any more, waiting at most milliseconds for it.
    bool WaitForMail(DWORD milliseconds) const;

    struct Queue {
        std::mutex Lock;
        std::deque<MailJob> Waiting;
        bool Running = false;
    };

private:
    int clientTimeOut_;
    // Shared with the mail thread, which may outlive this object.
    std::shared_ptr<Queue> queue_ = std::make_shared<Queue>();
    ScopedKernelHandle MailThread_;
};

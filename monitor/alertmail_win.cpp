#include "monitor/alertmail_win.h"

#include "base/thread_win.h"
#include "monitor/clogger_win.h"
#include "monitor/maildate_win.h"
#include "net/nmsmtp_win.h"
#include "settings/cusersettings.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <string>

std::string CurrentDateTimeText() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char date[128] = "";
    char time[128] = "";
    GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &now, nullptr, date, sizeof date);
    GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &now, nullptr, time, sizeof time);
    const bool midnight =
        now.wHour == 0 && now.wMinute == 0 && now.wSecond == 0 && now.wMilliseconds == 0;
    return DateTimeText(date, time, midnight);
}

namespace {

// Raises the reason when the mail is not delivered. The client refuses a Security value it
// does not know before a byte goes out, and logs in only over an encrypted connection.
void sendReport(const MailJob& job) {
    auto client = std::make_unique<TNMSMTP>();
    client->Host = job.Settings.Server;
    client->Port = job.Settings.Port;
    client->UserID = job.Settings.UserID;
    client->Security = job.Settings.Security;
    client->Password = job.Settings.Pass;
    client->TimeOut = job.TimeOut;
    client->Connect();
    const MailStamp stamp{CurrentDateTimeText(), CurrentMailDate(), NewMessageId()};
    ComposeStatusMail(*client, job.Settings, job.Report, stamp, job.Kind, job.Warnings);
    client->SendMail();
    client->Disconnect();
}

void reportFailure(const MailJob& job, const std::string& reason) {
    // Without a server or a recipient the mail is switched off rather than failing.
    if (job.Settings.Server.empty() || job.Settings.To.empty() || !job.OnMailFailed)
        return;
    job.OnMailFailed(MailFailureLine(job.Settings, reason));
}

} // namespace

DWORD MailThreadProc(const MailJob& job) {
    bool delivered = false;
    try {
        try {
            sendReport(job);
            delivered = true;
        } catch (const std::exception& error) {
            reportFailure(job, error.what());
        } catch (...) {
            reportFailure(job, "unknown error");
        }
        if (job.OnMailDone)
            job.OnMailDone(delivered);
    } catch (...) {
    }
    return 0;
}

TAlertMail::TAlertMail(int clientTimeOut)
    : OnMailFailed([](const std::string& line) { ::WriteLog(line); }),
      clientTimeOut_(clientTimeOut) {}

bool TAlertMail::WaitForMail(DWORD milliseconds) const {
    if (!MailThread_)
        return true;
    return WaitForSingleObject(MailThread_.Get(), milliseconds) == WAIT_OBJECT_0;
}

bool TAlertMail::SendStatusMail(const std::string& report, const CUserSettings& settings,
                                AlertKind kind, MailDoneEvent onDone, const std::string& warnings) {
    MailJob job;
    job.Report = report;
    job.Kind = kind;
    job.Warnings = warnings;
    job.OnMailFailed = OnMailFailed;
    job.OnMailDone = std::move(onDone);
    job.Settings = CopyMailSettings(settings);
    job.TimeOut = clientTimeOut_;
    MailDoneEvent replaced;
    bool start = false;
    {
        const std::lock_guard<std::mutex> hold(queue_->Lock);
        if (queue_->Running) {
            auto& waiting = queue_->Waiting;
            const auto same = std::find_if(waiting.begin(), waiting.end(),
                                           [&](const MailJob& w) { return w.Kind == kind; });
            if (same != waiting.end()) {
                replaced = std::move(same->OnMailDone);
                waiting.erase(same);
            }
            waiting.push_back(std::move(job));
        } else {
            queue_->Running = start = true;
        }
    }
    if (replaced)
        replaced(false);
    if (!start)
        return true; // the running thread takes it up
    // The thread sends until the queue is empty, then marks itself gone under the same lock, so
    // that a mail handed over meanwhile either finds it running or starts the next one.
    std::shared_ptr<Queue> queue = queue_;
    MailThread_ = StartThread([queue, first = std::move(job)]() mutable {
        for (MailJob next = std::move(first);;) {
            MailThreadProc(next);
            const std::lock_guard<std::mutex> hold(queue->Lock);
            if (queue->Waiting.empty()) {
                queue->Running = false;
                return DWORD{0};
            }
            next = std::move(queue->Waiting.front());
            queue->Waiting.pop_front();
        }
    });
    if (MailThread_.Valid())
        return true;
    const std::lock_guard<std::mutex> hold(queue_->Lock);
    queue_->Running = false;
    return false;
}

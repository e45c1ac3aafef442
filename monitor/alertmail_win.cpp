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
#include <unordered_set>
#include <vector>

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
    ComposeStatusMail(*client, job.Settings, job.Report, stamp, job.Kind, job.Warnings, job.BackUp,
                      job.Notes);
    client->SendMail();
    client->Disconnect();
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find("\r\n", at), text.size());
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

// The lines of older that newer does not hold, before newer's own; a site back up that the newer
// report names as down again is no longer news.
std::string carried(const std::string& older, const std::string& newer, const std::string& report) {
    const std::vector<std::string> now = linesOf(newer);
    // Sets, not searches of the lists: with thousands of sites down this runs on the form's
    // thread, and a search per line would take it for minutes.
    std::unordered_set<std::string> told(now.begin(), now.end());
    for (std::string& line : linesOf(report))
        told.insert(std::move(line));
    std::vector<std::string> kept;
    for (const std::string& line : linesOf(older))
        if (!told.count(line))
            kept.push_back(line);
    kept.insert(kept.end(), now.begin(), now.end());
    std::string text;
    for (const std::string& line : kept)
        text += (text.empty() ? "" : "\r\n") + line;
    return text;
}

// A waiting mail is replaced by a newer one of its kind: what only the waiting one says goes on.
void carryOver(const MailJob& waiting, MailJob& newer) {
    newer.BackUp = carried(waiting.BackUp, newer.BackUp, newer.Report);
    newer.Notes = carried(waiting.Notes, newer.Notes, {});
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
                                AlertKind kind, MailDoneEvent onDone, const std::string& warnings,
                                const std::string& backUp, const std::string& notes) {
    MailJob job;
    job.Report = report;
    job.Kind = kind;
    job.Warnings = warnings;
    job.BackUp = backUp;
    job.Notes = notes;
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
                carryOver(*same, job);
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

bool TAlertMail::SendCycleMail(const CycleMail& mail, const CUserSettings& settings,
                               MailDoneEvent onReportDone) {
    if (!mail.Report.empty())
        return SendStatusMail(mail.Report, settings, AlertKind::SitesDown, std::move(onReportDone),
                              mail.Warnings, mail.BackUp, mail.Notes);
    if (!mail.BackUp.empty())
        return SendStatusMail(mail.BackUp, settings, AlertKind::BackUp, {}, mail.Warnings, {},
                              mail.Notes);
    if (!mail.Warnings.empty())
        return SendStatusMail(mail.Warnings, settings, AlertKind::Warnings, {}, {}, {}, mail.Notes);
    return true;
}

#include "monitor/alertmail_win.h"

#include "base/thread_win.h"
#include "net/nmsmtp.h"
#include "settings/cusersettings.h"

#include <exception>
#include <memory>

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

void sendReport(const MailJob& job) {
    std::unique_ptr<TNMSMTP> client;
    try {
        client = std::make_unique<TNMSMTP>();
    } catch (const std::exception&) {
        return;
    }
    client->Host = job.Settings.Server;
    client->Port = job.Settings.Port;
    if (!job.Settings.UserID.empty())
        client->UserID = job.Settings.UserID;
    client->TimeOut = job.TimeOut;
    try {
        client->Connect();
        if (!client->Connected)
            return;
        client->ClearParams = true;
        ComposeStatusMail(*client, job.Settings, job.Report, CurrentDateTimeText);
        client->SendMail();
        client->Disconnect();
    } catch (const std::exception&) {
        // A lost report is not reported: the next cycle with sites down sends its own.
    }
}

} // namespace

DWORD MailThreadProc(const MailJob& job) {
    sendReport(job);
    return 0;
}

TAlertMail::TAlertMail(int clientTimeOut, DWORD previousWait)
    : clientTimeOut_(clientTimeOut), previousWait_(previousWait) {}

bool TAlertMail::WaitForMail(DWORD milliseconds) const {
    if (!MailThread_)
        return true;
    return WaitForSingleObject(MailThread_.Get(), milliseconds) == WAIT_OBJECT_0;
}

bool TAlertMail::SendStatusMail(const std::string& report, const CUserSettings& settings) {
    if (MailThread_) {
        if (!WaitForMail(previousWait_))
            return false;
        MailThread_.Reset();
    }
    MailJob job{report, CopyMailSettings(settings), clientTimeOut_};
    MailThread_ = StartThread([job = std::move(job)] { return MailThreadProc(job); });
    return MailThread_.Valid();
}

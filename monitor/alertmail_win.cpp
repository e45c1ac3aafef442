#include "monitor/alertmail_win.h"

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

DWORD WINAPI MailThreadProc(LPVOID param) {
    std::unique_ptr<MailJob> job(static_cast<MailJob*>(param));
    try {
        sendReport(*job);
    } catch (...) {
    }
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
    auto job = std::make_unique<MailJob>();
    job->Report = report;
    job->Settings = CopyMailSettings(settings);
    job->TimeOut = clientTimeOut_;
    HANDLE thread = CreateThread(nullptr, 0, MailThreadProc, job.get(), 0, nullptr);
    if (!thread)
        return false;
    job.release(); // the thread owns it now
    MailThread_.Reset(thread);
    return true;
}

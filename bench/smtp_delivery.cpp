// Time to deliver report mails to a loopback SMTP server:
//   smtp_delivery PORT COUNT [HOST SECURITY USER PASSWORD]
// Each mail is one whole session as the alert mail runs it (fresh client, connect, HELO or
// EHLO with encryption and login, send, QUIT).
#include "monitor/alertreport.h"
#include "net/nmsmtp_win.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 3 && argc != 7) {
        std::fprintf(stderr, "usage: smtp_delivery PORT COUNT [HOST SECURITY USER PASSWORD]\n");
        return 2;
    }
    MailSettingsCopy settings;
    settings.Server = "127.0.0.1";
    settings.Port = std::atoi(argv[1]);
    settings.UserID = "bench";
    settings.From = "watch@example.com";
    settings.To = "ops@example.com";
    const int count = std::atoi(argv[2]);
    const bool secure = argc == 7;
    if (secure) {
        settings.Server = argv[3];
        settings.UserID = argv[5];
    }
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (int i = 0; i < count; ++i) {
        TNMSMTP client;
        client.Host = settings.Server;
        client.Port = settings.Port;
        client.UserID = settings.UserID;
        client.TimeOut = 10000;
        if (secure) {
            client.Security = std::atoi(argv[4]);
            client.Password = argv[6];
        }
        client.Connect();
        ComposeStatusMail(
            client, settings, "http://a.example/\r\nhttp://b.example/",
            {"12/8/2026 3:04:05 AM", "Tue, 08 Dec 2026 03:04:05 +0000", "<1.2@bench>"});
        client.SendMail();
        client.Disconnect();
    }
    QueryPerformanceCounter(&end);
    const double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                      static_cast<double>(frequency.QuadPart);
    std::printf("%.3f\n", ms / count);
    return 0;
}

// Our client delivers to a real SMTP server on loopback (started by the test fixture, its
// folder in VIGREL_SINK_DIR). smtp_interop_check.py then parses what the server stored.
#include "monitor/alertmail_win.h"
#include "net/nmsmtp_win.h"
#include "settings/cusersettings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// The sink's folder as this Windows process sees it: Wine maps the Unix root to Z:.
std::string sinkPath(const std::string& name) {
    const char* dir = std::getenv("VIGREL_SINK_DIR");
    std::string path = std::string("Z:") + (dir ? dir : "/nonexistent") + "/" + name;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

bool exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The sink writes each file under a temporary name and renames it when complete.
bool waitForFile(const std::string& path) {
    for (int i = 0; i < 400 && !exists(path); ++i)
        Sleep(50);
    return exists(path);
}

int sinkPort() {
    std::ifstream in(sinkPath("port"));
    int port = 0;
    in >> port;
    return port;
}

void writeFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

TEST(SmtpInterop, ReportAndAttachmentsReachARealServer) {
    const int port = sinkPort();
    ASSERT_GT(port, 0) << "no SMTP sink at " << sinkPath("port");

    // 1. The alert mail exactly as a cycle sends it.
    TAlertMail mail(10000);
    CUserSettings settings;
    settings.Server = "127.0.0.1";
    settings.Port = port;
    settings.UserID = "desk";
    settings.From = "watch@example.com";
    settings.To = "ops@example.com";
    ASSERT_TRUE(mail.SendStatusMail("http://a.example/\r\nhttp://b.example/", settings));
    ASSERT_TRUE(mail.WaitForMail(20000));
    ASSERT_TRUE(waitForFile(sinkPath("001.eml")));

    // 2. A mail with two attachments: every byte value, and text that looks like SMTP.
    std::string binary;
    for (int i = 0; i < 70000; ++i)
        binary += static_cast<char>((i * 7 + i / 256) & 0xFF);
    writeFile(sinkPath("every-byte.bin"), binary);
    writeFile(sinkPath("notes.txt"), ".\r\n..leading dots\r\nQUIT\r\n\r\n.");
    TNMSMTP client;
    client.Host = "127.0.0.1";
    client.Port = port;
    client.TimeOut = 10000;
    client.UserID = "desk"; // a real server refuses a HELO without a name
    client.Connect();
    TPostMessage& m = *client.PostMessage;
    m.FromName = "Pelorin";
    m.FromAddress = "watch@example.com";
    m.ToAddress.Add("Ops Desk <ops@example.com>");
    m.ToBlindCarbonCopy.Add("hidden@example.com");
    m.Subject = "Attachments";
    m.Body.Add("See the files.");
    m.Body.Add(".a line with a dot");
    m.Attachments.Add(sinkPath("every-byte.bin"));
    m.Attachments.Add(sinkPath("notes.txt"));
    client.SendMail();
    client.Disconnect();
    ASSERT_TRUE(waitForFile(sinkPath("002.eml")));
}

} // namespace

// Our mails and encodings read back by independent implementations (Python's email and
// base64 modules), on the native side.
#include "mail_support.h"
#include "net/mailassembly.h"
#include "net/nmuue.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/stat.h>

namespace {

std::string runCheck(const std::string& args) {
    const std::string command = "/usr/bin/python3 " VIGREL_MAIL_CHECK_PY " " + args + " 2>&1";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return "cannot start python3";
    std::string output;
    char buf[256];
    while (std::fgets(buf, sizeof buf, pipe))
        output += buf;
    pclose(pipe);
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r'))
        output.pop_back();
    return output;
}

} // namespace

TEST(Interop, MultipartMailParsesWithEveryAttachmentIntact) {
    const std::string dir = TempPath("attachments");
    mkdir(dir.c_str(), 0700);
    const std::string first = dir + "/report.bin", second = TempPath("notes.txt");
    WriteFile(first, RandomBytes(100000, 1));
    WriteFile(second, ".starts with a dot\r\n.\r\nend\r\n");

    TMailAssembly m;
    TPostMessage& p = *m.PostMessage;
    p.FromName = "Pelorin";
    p.FromAddress = "me@example.com";
    p.ToAddress.Add("you@example.com");
    p.Subject = "Pelorin Status";
    p.Date = "Mon, 09 Dec 2024 10:00:00 +0000";
    p.Body.Add("Sites down ....");
    p.Body.Add("http://a.example\r\n.\r\n.b.example");
    p.Attachments.Add(first);
    p.Attachments.Add(second);
    m.AssembleMail();
    const std::string message = TempPath("message.eml");
    WriteFile(message, ReceivedMessage(m));

    EXPECT_EQ(runCheck("mail " + message + " " + first + " " + second), "OK");
    std::remove(first.c_str());
    std::remove(second.c_str());
    std::remove(message.c_str());
    rmdir(dir.c_str());
}

TEST(Interop, TextBeyondAsciiDecodesToTheSameUtf8) {
    TMailAssembly m;
    TPostMessage& p = *m.PostMessage;
    p.FromAddress = "me@example.com";
    p.Subject = "Pelorin Status";
    p.Body.Add("Sites down ....");
    p.Body.Add("http://host/\xD0\xBA\xD0\xBD\xD0\xB8\xD0\xB3\xD0\xB8");
    p.Body.Add("http://b\xC3\xBC"
               "cher.example/" +
               std::string(100, 'x') + "=?\t");
    p.Body.Add(".http://\xE6\x97\xA5\xE6\x9C\xAC.example/ ");
    m.AssembleMail();
    std::string text = "\n"; // the client sends an empty line more after the header
    for (int i = 0; i < p.Body.Count(); ++i)
        text += p.Body[i] + "\n";
    const std::string message = TempPath("utf8.eml"), expected = TempPath("utf8.txt");
    WriteFile(message, ReceivedMessage(m));
    WriteFile(expected, text);
    EXPECT_EQ(runCheck("text " + message + " " + expected), "OK");
    std::remove(message.c_str());
    std::remove(expected.c_str());
}

TEST(Interop, Base64MatchesPythonForEveryTail) {
    const std::string dataPath = TempPath("b64.bin"), encodedPath = TempPath("b64.txt");
    for (size_t n : {size_t{0}, size_t{1}, size_t{2}, size_t{44}, size_t{45}, size_t{46},
                     size_t{47}, size_t{1000}, size_t{65536}}) {
        const std::string data = RandomBytes(n, static_cast<unsigned>(n));
        WriteFile(dataPath, data);
        WriteFile(encodedPath, Coded(data, uuMime, true));
        EXPECT_EQ(runCheck("b64 " + dataPath + " " + encodedPath), "OK") << n << " bytes";
    }
    std::remove(dataPath.c_str());
    std::remove(encodedPath.c_str());
}

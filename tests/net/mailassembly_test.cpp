#include "base/exception.h"
#include "mail_support.h"
#include "net/mailassembly.h"
#include "net/nmuue.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

TStringList lines(std::initializer_list<const char*> items) {
    TStringList list;
    for (const char* item : items)
        list.Add(item);
    return list;
}

} // namespace

TEST(AssembleMail, HeaderLinesInOrder) {
    TMailAssembly m;
    TPostMessage& p = *m.PostMessage;
    p.FromName = "Pelorin";
    p.FromAddress = "me@example.com";
    p.SetLinesTo(lines({"a@example.com", "Bee <b@example.com>"}));
    p.Subject = "Pelorin Status";
    m.AssembleMail();
    EXPECT_EQ(HeaderText(m), "From: Pelorin<me@example.com>\n"
                             "To: a@example.com,Bee <b@example.com>\n"
                             "Subject: Pelorin Status\n"
                             "Mime-Version: 1.0\n"
                             "Content-Type: text/plain; charset=us-ascii\n");

    p.FromName.clear();
    p.Subject.clear();
    p.SetLinesCC(lines({"c@example.com", "d@example.com"}));
    p.SetLinesBCC(lines({"hidden@example.com"}));
    p.LocalProgram = "Vigrel.exe";
    p.ReplyTo = "back@example.com";
    p.Date = "08/12/2024 10:00:00";
    m.Charset = "iso-8859-1";
    m.AssembleMail();
    EXPECT_EQ(HeaderText(m), "From: <me@example.com>\n"
                             "To: a@example.com,Bee <b@example.com>\n"
                             "CC: c@example.com,d@example.com\n"
                             "X-Mailer: Vigrel.exe\n"
                             "Reply-To: back@example.com\n"
                             "Date: 08/12/2024 10:00:00\n"
                             "Mime-Version: 1.0\n"
                             "Content-Type: text/plain; charset=iso-8859-1\n");
}

// UTF-8 beyond ASCII goes quoted-printable, so that a server without 8BITMIME takes it; lines
// stay within 76 characters, a blank at a line's end is kept, and a dot that a soft break puts
// first is stuffed like any other.
TEST(AssembleMail, TextBeyondAsciiIsUtf8QuotedPrintable) {
    TMailAssembly m;
    TPostMessage& p = *m.PostMessage;
    p.FromAddress = "me@example.com";
    p.Body.Add("http://host/\xD0\xBA\xD0\xBD\xD0\xB8\xD0\xB3\xD0\xB8 a=b ");
    p.Body.Add(std::string(75, 'x') + ".y");
    m.AssembleMail();
    EXPECT_EQ(HeaderText(m), "From: <me@example.com>\n"
                             "Mime-Version: 1.0\n"
                             "Content-Type: text/plain; charset=utf-8\n"
                             "Content-Transfer-Encoding: quoted-printable\n");
    EXPECT_EQ(m.BodyStream->DataString(),
              "http://host/=D0=BA=D0=BD=D0=B8=D0=B3=D0=B8 a=3Db=20\r\n" + std::string(75, 'x') +
                  "=\r\n..y\r\n");

    // So does plain ASCII with a line longer than a server must take.
    p.Body.Clear();
    p.Body.Add(std::string(998, 'x') + "\r\n" + std::string(998, 'y'));
    m.AssembleMail();
    EXPECT_EQ(m.BodyStream->DataString().find("=\r\n"), std::string::npos) << "998 is allowed";
    p.Body.Add(std::string(999, 'z'));
    m.AssembleMail();
    EXPECT_NE(HeaderText(m).find("quoted-printable"), std::string::npos);
    EXPECT_EQ(m.BodyStream->DataString().find(std::string(77, 'z')), std::string::npos);
}

TEST(AssembleMail, SubTypeChoosesTheTextContentType) {
    const std::pair<TSubType, const char*> cases[] = {
        {mtPlain, "text/plain"}, {mtEnriched, "text/enriched"},
        {mtSgml, "text/sgml"},   {mtTabSeperated, "text/tab-separated-values"},
        {mtHtml, "text/html"},   {static_cast<TSubType>(9), "text/plain"},
    };
    for (const auto& [subType, type] : cases) {
        TMailAssembly m;
        m.SubType = subType;
        m.AssembleMail();
        EXPECT_EQ((*m.FinalHeader)[m.FinalHeader->Count() - 1],
                  std::string("Content-Type: ") + type + "; charset=us-ascii");
    }
}

TEST(AssembleMail, BodyIsDotStuffedLineByLine) {
    TMailAssembly m;
    m.PostMessage->SetLinesBody(lines({".", ".hidden", "a.b", "", "..", "plain"}));
    m.AssembleMail();
    EXPECT_EQ(m.BodyStream->DataString(), "..\r\n..hidden\r\na.b\r\n\r\n...\r\nplain\r\n");
    m.PostMessage->Body.Clear();
    m.AssembleMail(); // rebuilt from scratch
    EXPECT_EQ(m.BodyStream->Size(), 0);
}

// The alert mail puts every failed URL into one entry, joined by line ends. A line of "."
// inside it must not end the DATA phase, and no bare CR or LF may reach the server.
TEST(AssembleMail, LineEndsInsideAnEntryBreakLinesForDotStuffing) {
    TMailAssembly m;
    m.PostMessage->SetLinesBody(lines({"Sites down ....", "---------------",
                                       "http://a.example\r\n.\r\n.hidden.example\nb\rc\r\n",
                                       "---------------", "Pelorin - 08/12/2024 10:00:00"}));
    m.AssembleMail();
    EXPECT_EQ(m.BodyStream->DataString(), "Sites down ....\r\n"
                                          "---------------\r\n"
                                          "http://a.example\r\n"
                                          "..\r\n"
                                          "..hidden.example\r\n"
                                          "b\r\n"
                                          "c\r\n"
                                          "\r\n"
                                          "---------------\r\n"
                                          "Pelorin - 08/12/2024 10:00:00\r\n");
}

TEST(AssembleMail, MultipartMailWithAttachments) {
    const std::string first = TempPath("first.bin"), second = TempPath("second.txt");
    const std::string data1(1000, '\x01'), data2 = "hello\r\n.\r\n";
    WriteFile(first, data1);
    WriteFile(second, data2);

    TMailAssembly m;
    m.SubType = mtHtml;
    m.PostMessage->SetLinesBody(lines({".text"}));
    m.PostMessage->SetLinesAttachments(lines({first.c_str(), second.c_str()}));
    std::vector<std::string> events;
    m.OnEncodeStart = [&](const std::string& f) { events.push_back("start " + f); };
    m.OnEncodeEnd = [&](const std::string& f) { events.push_back("end " + f); };
    m.AssembleMail();

    ASSERT_EQ(m.Boundary.size(), 35u);
    EXPECT_EQ(m.Boundary.substr(0, 25), "====================54535");
    EXPECT_EQ(m.Boundary.substr(31), "====");
    for (char c : m.Boundary.substr(25, 6))
        EXPECT_TRUE(c >= 'a' && c <= 'y') << c;
    EXPECT_EQ((*m.FinalHeader)[m.FinalHeader->Count() - 1],
              "Content-Type: multipart/mixed; boundary=\"" + m.Boundary + "\"");
    EXPECT_EQ(events, (std::vector<std::string>{"start " + first, "end " + first, "start " + second,
                                                "end " + second}));

    const std::string body = m.BodyStream->DataString();
    const std::string b = "--" + m.Boundary + "\r\n";
    const std::string name1 = first.substr(first.find_last_of("\\/") + 1);
    const std::string part1 = b + "Content-Type: application/octet-stream; name=\"" + name1 +
                              "\"\r\nContent-Transfer-Encoding: base64\r\n" +
                              "Content-Disposition: attachment; filename=\"" + name1 + "\"\r\n\r\n";
    ASSERT_EQ(body.substr(0, b.size()), b);
    EXPECT_EQ(body.substr(b.size(), 49), "Content-Type: text/plain; charset=us-ascii\r\n\r\n..t");
    const size_t at1 = body.find(part1);
    ASSERT_NE(at1, std::string::npos);
    const size_t at2 = body.find(b, at1 + part1.size());
    ASSERT_NE(at2, std::string::npos);
    EXPECT_EQ(Coded(body.substr(at1 + part1.size(), at2 - at1 - part1.size()), uuMime, false),
              data1);
    const size_t data2At = body.find("\r\n\r\n", at2) + 4;
    const size_t closing = body.find("--" + m.Boundary + "--\r\n");
    ASSERT_NE(closing, std::string::npos);
    EXPECT_EQ(closing + m.Boundary.size() + 6, body.size());
    EXPECT_EQ(Coded(body.substr(data2At, closing - data2At), uuMime, false), data2);

    const std::string previous = m.Boundary;
    m.AssembleMail();
    EXPECT_NE(m.Boundary, previous);
    std::remove(first.c_str());
    std::remove(second.c_str());
}

TEST(AssembleMail, AttachmentsAreBase64AsTheirHeaderSaysWhateverEncodeType) {
    const std::string path = TempPath("uu.bin");
    WriteFile(path, "any bytes at all");
    TMailAssembly m;
    m.EncodeType = uuCode;
    m.PostMessage->SetLinesAttachments(lines({path.c_str()}));
    m.AssembleMail();
    const std::string body = m.BodyStream->DataString();
    EXPECT_NE(body.find("\r\n\r\nYW55IGJ5dGVzIGF0IGFsbA==\r\n--"), std::string::npos);
    std::remove(path.c_str());
}

TEST(AssembleMail, MissingAttachmentReportsTheEntryAndFails) {
    TMailAssembly m;
    const std::string missing = TempPath("no-such-dir") + "/none.bin";
    m.PostMessage->SetLinesAttachments(lines({missing.c_str()}));
    std::vector<std::string> events;
    m.OnAttachmentNotFound = [&](const std::string& f) { events.push_back("missing " + f); };
    m.OnEncodeStart = [&](const std::string& f) { events.push_back("start " + f); };
    EXPECT_THROW(m.AssembleMail(), EFOpenError);
    EXPECT_EQ(events, std::vector<std::string>{"missing " + missing});
    TMailAssembly quiet; // without a handler the error still passes on
    quiet.PostMessage->SetLinesAttachments(lines({missing.c_str()}));
    EXPECT_THROW(quiet.AssembleMail(), EFOpenError);
}

TEST(AssembleMail, BareNameDropsFoldersAndDrives) {
    const std::string path = TempPath("named.bin");
    WriteFile(path, "x");
    TMailAssembly m;
    m.PostMessage->SetLinesAttachments(lines({path.c_str()}));
    m.AssembleMail();
    const std::string name = path.substr(path.find_last_of("\\/") + 1);
    EXPECT_NE(m.BodyStream->DataString().find("; name=\"" + name + "\"\r\n"), std::string::npos);
    EXPECT_NE(m.BodyStream->DataString().find("; filename=\"" + name + "\"\r\n"),
              std::string::npos);
    std::remove(path.c_str());
}

TEST(ClearParameters, EmptiesRecipientsAndAttachmentsOnly) {
    TMailAssembly m;
    TPostMessage& p = *m.PostMessage;
    p.SetLinesTo(lines({"a"}));
    p.SetLinesCC(lines({"b"}));
    p.SetLinesBCC(lines({"c"}));
    p.SetLinesAttachments(lines({"d"}));
    p.SetLinesBody(lines({"body"}));
    p.Subject = "s";
    m.ClearParameters();
    EXPECT_EQ(p.ToAddress.Count() + p.ToCarbonCopy.Count() + p.ToBlindCarbonCopy.Count() +
                  p.Attachments.Count(),
              0);
    EXPECT_EQ(p.Body.Count(), 1);
    EXPECT_EQ(p.Subject, "s");

    m.SetFinalHeader(lines({"X-One: 1", "X-Two: 2"}));
    EXPECT_EQ(m.FinalHeader->GetValue("x-two"), "2");
    m.AssembleMail();
    EXPECT_EQ(m.FinalHeader->IndexOfName("X-One"), -1);
}

#include "settings/inidocument.h"

#include <gtest/gtest.h>

namespace {

// The bytes of a Latin-1 code page, enough to stand for the machine's ANSI one.
AnsiCodePage latin1() {
    AnsiCodePage ansi;
    ansi.ToUtf8 = [](std::string_view bytes) -> std::optional<std::string> {
        std::string text;
        for (unsigned char c : bytes) {
            if (c < 0x80) {
                text += static_cast<char>(c);
            } else {
                text += static_cast<char>(0xC0 | c >> 6);
                text += static_cast<char>(0x80 | (c & 0x3F));
            }
        }
        return text;
    };
    ansi.FromUtf8 = [](std::string_view text) -> std::optional<std::string> {
        std::string bytes;
        for (size_t i = 0; i < text.size(); ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            if (c < 0x80)
                bytes += static_cast<char>(c);
            else if ((c == 0xC2 || c == 0xC3) && i + 1 < text.size())
                bytes += static_cast<char>((c & 3) << 6 | (text[++i] & 0x3F));
            else
                return std::nullopt;
        }
        return bytes;
    };
    return ansi;
}

std::string utf16le(const std::string& ascii) {
    std::string bytes = "\xFF\xFE";
    for (char c : ascii)
        bytes += std::string{c, '\0'};
    return bytes;
}

IniDocument parse(const std::string& bytes) {
    std::string error;
    std::optional<IniDocument> doc = IniDocument::FromBytes(bytes, latin1(), error);
    EXPECT_TRUE(doc) << error;
    return doc.value_or(IniDocument());
}

const std::string Text = "; a note\n[General]\nTimeSpan = 5\nOwn=kept\n\n[Other]\nx=1\n";

} // namespace

TEST(IniDocument, EveryEncodingComesBackAsItCameWithOnlyTheSetKeyChanged) {
    const std::string url = "http://host/\xD0\xBA\xD0\xBD\xD0\xB8\xD0\xB3\xD0\xB8"; // /книги
    const std::string utf16Url = std::string("h\0t\0t\0p\0:\0/\0/\0h\0o\0s\0t\0/\0", 24) +
                                 "\x3A\x04\x3D\x04\x38\x04\x33\x04\x38\x04";
    struct Case {
        std::string bytes, expected;
        IniEncoding encoding;
    } cases[] = {
        {Text, "; a note\n[General]\nTimeSpan=7\nOwn=kept\n\n[Other]\nx=1\n", IniEncoding::Utf8},
        {"\xEF\xBB\xBF" + Text,
         "\xEF\xBB\xBF; a note\n[General]\nTimeSpan=7\nOwn=kept\n\n[Other]\nx=1\n",
         IniEncoding::Utf8Bom},
        {"[General]\r\nTimeSpan=5\r\nName=M\xFCller\r\n",
         "[General]\r\nTimeSpan=7\r\nName=M\xFCller\r\n", IniEncoding::Ansi},
        {utf16le("[General]\r\nTimeSpan=5\r\n"), utf16le("[General]\r\nTimeSpan=7\r\n"),
         IniEncoding::Utf16Le},
    };
    for (const Case& c : cases) {
        IniDocument doc = parse(c.bytes);
        EXPECT_EQ(doc.Encoding(), c.encoding);
        EXPECT_EQ(doc.ToBytes(latin1()), c.bytes) << "read and written unchanged";
        EXPECT_EQ(doc.Get("general", "timespan"), "5");
        doc.Set("General", "TimeSpan", "7");
        EXPECT_EQ(doc.ToBytes(latin1()), c.expected);
    }
    EXPECT_EQ(parse("[Log]\nName=M\xFCller\n").Get("Log", "Name"), "M\xC3\xBCller");

    // Non-ASCII text stays whole in every encoding; where the code page lacks it, UTF-8 with
    // a byte-order mark takes over.
    IniDocument ansi = parse("[URLS]\r\nhttp://a/\xFC=\r\n");
    ansi.SetEntries("URLS", {url + "="});
    EXPECT_EQ(ansi.ToBytes(latin1()), "\xEF\xBB\xBF[URLS]\r\n" + url + "=\r\n");
    IniDocument wide = parse(utf16le("[URLS]\r\n"));
    wide.SetEntries("URLS", {url});
    EXPECT_EQ(wide.ToBytes(latin1()),
              utf16le("[URLS]\r\n") + utf16Url + std::string("\r\0\n\0", 4));
    EXPECT_EQ(parse(wide.ToBytes(latin1())).Entries("URLS"), std::vector<std::string>{url});
    EXPECT_EQ(IniDocument().ToBytes(latin1()), "");

    std::string error;
    for (const std::string& bad : {std::string("\xFF\xFE[\0G", 5), std::string("\xFE\xFF\0[", 4),
                                   std::string("\xEF\xBB\xBF[\xC3]")})
        EXPECT_FALSE(IniDocument::FromBytes(bad, latin1(), error)) << bad;
}

TEST(IniDocument, SectionsMergeByNameAndEntriesKeepTheirCaseAndPlace) {
    IniDocument doc = parse("[General]\nA=1\n; mine\n\n[URLS]\n; sites\nhttp://host/ok=\n"
                            "[General]\na=2\nB=3\n[urls]\nHTTP://host/OK=\nhttp://bare\n");
    EXPECT_EQ(doc.Get("General", "a"), "1") << "the first key of that name";
    EXPECT_EQ(doc.Get("General", "b"), "3");
    EXPECT_EQ(doc.Entries("URLS"),
              (std::vector<std::string>{"http://host/ok=", "HTTP://host/OK=", "http://bare"}));
    doc.Set("General", "A", "9");
    doc.Set("General", "C", "new");
    doc.SetEntries("URLS", {"http://x/=", "http://y/="});
    EXPECT_EQ(doc.ToBytes(latin1()), "[General]\nA=9\nC=new\n; mine\n\n[URLS]\n; sites\n"
                                     "http://x/=\nhttp://y/=\n[General]\nB=3\n");
    IniDocument later = parse("[URLS]\n; c\n[General]\nx=1\n[urls]\nhttp://a=\n");
    later.SetEntries("URLS", {"http://b="});
    EXPECT_EQ(later.ToBytes(latin1()), "[URLS]\n; c\nhttp://b=\n[General]\nx=1\n");
    doc.Set("Log", "Days", "90");
    doc.SetEntries("URLS", {});
    EXPECT_EQ(doc.ToBytes(latin1()), "[General]\nA=9\nC=new\n; mine\n\n[URLS]\n; sites\n"
                                     "[General]\nB=3\n\n[Log]\nDays=90\n");
}

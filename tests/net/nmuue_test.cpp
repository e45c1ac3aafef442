#include "base/exception.h"
#include "mail_support.h"
#include "net/nmuue.h"

#include <gtest/gtest.h>

#include <vector>
#include <string>

namespace {

std::string encode(const std::string& data, UUMethods method) {
    return Coded(data, method, true);
}

std::string decode(const std::string& text, UUMethods method) {
    return Coded(text, method, false);
}

} // namespace

TEST(TNMUUProcessorEncode, Base64LinesAndPadding) {
    EXPECT_EQ(encode("", uuMime), "");
    const std::pair<std::string, std::string> vectors[] = {
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {std::string("\xff\xfe\x00", 3), "//4A"},
    };
    for (const auto& [plain, coded] : vectors)
        EXPECT_EQ(encode(plain, uuMime), coded + "\r\n");
    const std::string line45 = encode(std::string(45, 'a'), uuMime);
    EXPECT_EQ(line45.size(), 62u);
    EXPECT_EQ(line45.substr(60), "\r\n");
    const std::string t46 = encode(std::string(46, 'a'), uuMime);
    EXPECT_EQ(t46.substr(62), "YQ==\r\n");
    const std::string t47 = encode(std::string(47, 'a'), uuMime);
    EXPECT_EQ(t47.substr(62), "YWE=\r\n");
}

TEST(TNMUUProcessorEncode, UuencodeLinesAndTheGraveAccentLine) {
    EXPECT_EQ(encode("", uuCode), "`\r\n");
    EXPECT_EQ(encode(std::string(1, '\0'), uuCode), "!``\r\n`\r\n");
    EXPECT_EQ(encode("Cat", uuCode), "#0V%T\r\n`\r\n");
    const std::string t45 = encode(std::string(45, 'a'), uuCode);
    ASSERT_EQ(t45.size(), 63u + 3u);
    EXPECT_EQ(t45[0], 'M');
    EXPECT_EQ(t45.substr(61), "\r\n`\r\n");
    EXPECT_EQ(encode("ab", uuCode), "\"86(\r\n`\r\n"); // two bytes: three characters, no padding
    EXPECT_EQ(TNMUUProcessor::UuDEC('`'), 0);
    EXPECT_EQ(TNMUUProcessor::UuDEC(' '), 0);
    EXPECT_EQ(TNMUUProcessor::UuDEC('M'), 45);
}

TEST(TNMUUProcessorEncode, EndEventFiresAndOutputRewindsEvenWhenTheOutputFails) {
    class Refusing : public TMemoryStream {
    public:
        std::int32_t Write(const void*, std::int32_t) override { return 0; }
    } out;
    TMemoryStream in;
    in.WriteBuffer("abc", 3);
    TNMUUProcessor coder;
    coder.InputStream = &in;
    coder.OutputStream = &out;
    std::string events;
    coder.OnBeginEncode = [&](TNMUUProcessor&) { events += "begin "; };
    coder.OnEndEncode = [&](TNMUUProcessor&) { events += "end"; };
    EXPECT_THROW(coder.Encode(), EStreamError);
    EXPECT_EQ(events, "begin end");
    TNMUUProcessor bare;
    EXPECT_THROW(bare.Encode(), Exception);
    EXPECT_THROW(bare.Decode(), Exception);
}

TEST(TNMUUProcessorRoundTrip, EverySmallLengthAndLargeRandomBuffers) {
    for (UUMethods method : {uuMime, uuCode}) {
        for (size_t n = 0; n <= 200; ++n) {
            const std::string data = RandomBytes(n, static_cast<unsigned>(n));
            ASSERT_EQ(decode(encode(data, method), method), data) << n << " method " << method;
        }
        for (size_t n : {size_t{4096}, size_t{65537}, size_t{1} << 20}) {
            const std::string data = RandomBytes(n, 7);
            ASSERT_EQ(decode(encode(data, method), method), data) << n << " method " << method;
        }
    }
}

TEST(TNMUUProcessorDecode, PassesOverBoundaryLinesAndDropsTheLineAfterTheGraveAccent) {
    const std::string a = RandomBytes(90, 1), b = RandomBytes(50, 2);
    const std::string b64 = encode(a, uuMime);
    EXPECT_EQ(decode(b64.substr(0, 62) + "=================\r\n" + b64.substr(62), uuMime), a);
    EXPECT_EQ(decode(b64 + "=\r\n" + encode(b, uuMime), uuMime), a + b); // too short to count
    EXPECT_EQ(decode(b64 + " =end\r\n" + encode(b, uuMime), uuMime), a);
    EXPECT_EQ(decode(encode(a, uuCode) + "end\r\n", uuCode), a);
    EXPECT_EQ(decode(encode(a, uuCode) + "dropped line\r\n" + encode(b, uuCode), uuCode), a + b);
}

TEST(TNMUUProcessorDecode, DecodesFromTheCurrentPositionOnward) {
    TMemoryStream in, out;
    const std::string text = "skip me\r\n" + encode("hello", uuMime);
    in.WriteBuffer(text.data(), static_cast<std::int32_t>(text.size()));
    in.SetPosition(9);
    out.WriteBuffer(">", 1);
    TNMUUProcessor coder;
    coder.InputStream = &in;
    coder.OutputStream = &out;
    int ends = 0;
    coder.OnEndDecode = [&](TNMUUProcessor&) { ++ends; };
    coder.Decode();
    EXPECT_EQ(out.DataString(), ">hello");
    EXPECT_EQ(ends, 1);
}

// Text not produced by Encode: bare line feeds, a missing last line end, lines longer than
// the read window, groups cut short or running over a line end.
TEST(TNMUUProcessorDecode, ForeignLineShapesDecodeToTheIntendedBytes) {
    EXPECT_EQ(decode("QUJD\nREVG\n", uuMime), "ABCDEF");
    EXPECT_EQ(decode("QUJD\r\nREVG", uuMime), "ABCDEF");
    EXPECT_EQ(decode("QUJDRA", uuMime), "ABCD");
    EXPECT_EQ(decode("QUJDREU", uuMime), "ABCDE");
    EXPECT_EQ(decode("QUJ\r\nDREU=\r\n", uuMime), "ABCDE");
    EXPECT_EQ(decode("QUJD\r\n  REVG\r\n", uuMime), "ABCDEF");
    EXPECT_EQ(decode("QU JD\r\n", uuMime), "ABC"); // a blank inside a group is skipped
    const std::string data = RandomBytes(3000, 3);
    std::string oneLine;
    for (char c : encode(data, uuMime))
        if (c != '\r' && c != '\n')
            oneLine += c;
    EXPECT_EQ(decode(oneLine + "\r\n", uuMime), data);
    EXPECT_EQ(decode(oneLine, uuMime), data);

    std::string uu = encode(data, uuCode);
    std::string bare;
    for (char c : uu)
        if (c != '\r')
            bare += c;
    EXPECT_EQ(decode(bare, uuCode), data);
    // A trimmed line: missing characters count as blanks, that is zeros.
    EXPECT_EQ(decode("#``\r\n", uuCode), std::string(3, '\0'));
}

TEST(ReadLnFromStream, SplitsAtLineFeedsAndNeverRereads) {
    TMemoryStream s;
    const std::string text = "one\r\ntwo\n\n" + std::string(450, 'x') + "\r\nlast";
    s.WriteBuffer(text.data(), static_cast<std::int32_t>(text.size()));
    s.SetPosition(0);
    std::string line;
    std::vector<std::string> lines;
    while (TNMUUProcessor::ReadLnFromStream(s, line))
        lines.push_back(line);
    const std::vector<std::string> expected = {
        "one", "two", "", std::string(200, 'x'), std::string(200, 'x'), std::string(50, 'x'),
        "last"};
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(s.Position(), s.Size());
    EXPECT_EQ(line, "");
}

// Inputs that once hurt the decoders, and malformed shapes of every kind: decoding ends,
// stays inside its buffers (the sanitizers watch) and writes at most what the text allows.
TEST(TNMUUProcessorDecode, MalformedInputEndsSafely) {
    const std::string inputs[] = {
        "",
        "\r\n\r\n\r\n",
        "=",
        "====",
        "QQ==QUJD\r\nQUJD\r\n",
        "Q===\r\n",
        "==QUJD\r\n",
        std::string(1000, '\xff'),
        std::string(1000, '\n'),
        std::string(999, '\r'),
        "z\r\n~~~~~~~~~~~~~~~~~~\r\n",
        "\x7f\x80\x81\r\n",
        std::string(1, '\0') + "QUJD",
        "`\r\n",
        "_\r\n",
        "_!\r\n",
        "M" + std::string(300, 'M') + "\r\n",
    };
    for (const std::string& input : inputs) {
        for (UUMethods method : {uuMime, uuCode}) {
            const std::string out = decode(input, method);
            EXPECT_LE(out.size(), input.size() * 63 + 63) << method;
        }
    }
    EXPECT_EQ(decode("QQ==QUJD\r\nQUJD\r\n", uuMime), "AABC"); // padding ends after its line
    TMemoryStream in, out;
    in.WriteBuffer("QUJD\r\n", 6);
    in.SetPosition(-5); // a stream that yields nothing before its end
    TNMUUProcessor coder;
    coder.InputStream = &in;
    coder.OutputStream = &out;
    coder.Decode();
    coder.Method = uuCode;
    coder.Decode();
    EXPECT_EQ(out.Size(), 0);
}

#include "base/exception.h"
#include "base/tstream.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>

TEST(TMemoryStream, ReadWriteSeekFromEveryOrigin) {
    TMemoryStream s;
    s.WriteBuffer("hello world", 11);
    EXPECT_EQ(s.Size(), 11);
    EXPECT_EQ(s.Seek(-5, soFromEnd), 6);
    char buf[8] = {};
    EXPECT_EQ(s.Read(buf, 8), 5);
    EXPECT_STREQ(buf, "world");
    EXPECT_EQ(s.Read(buf, 8), 0);
    s.Seek(-11, soFromCurrent);
    s.WriteBuffer("J", 1);
    EXPECT_EQ(s.DataString(), "Jello world");
    s.SetPosition(20); // past the end: reads nothing, a write fills the gap with zeros
    EXPECT_EQ(s.Read(buf, 1), 0);
    s.WriteBuffer("!", 1);
    EXPECT_EQ(s.Size(), 21);
    EXPECT_THROW(s.ReadBuffer(buf, 1), EStreamError);
}

TEST(TFileStream, CreatesReadsAndReportsMissingFiles) {
    const std::string path = TempPath("tstream.bin");
    {
        TFileStream out(path, fmCreate);
        out.WriteBuffer("abcdef", 6);
        out.Seek(2, soFromBeginning);
        char c = 0;
        out.ReadBuffer(&c, 1);
        EXPECT_EQ(c, 'c');
        out.WriteBuffer("X", 1);
    }
    TMemoryStream m;
    m.LoadFromFile(path);
    EXPECT_EQ(m.DataString(), "abcXef");
    std::remove(path.c_str());
    EXPECT_THROW(TFileStream(path, fmOpenRead), EFOpenError);
}

TEST(TStream, CopyFromWholeSourceAndCount) {
    TMemoryStream src, dst;
    std::string big(200000, 'x');
    src.WriteBuffer(big.data(), static_cast<std::int32_t>(big.size()));
    EXPECT_EQ(dst.CopyFrom(src, 0), 200000);
    EXPECT_EQ(dst.DataString(), big);
    src.SetPosition(10);
    TMemoryStream part;
    part.CopyFrom(src, 5);
    EXPECT_EQ(part.Size(), 5);
}

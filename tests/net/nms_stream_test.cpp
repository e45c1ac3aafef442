#include "base/exception.h"
#include "net/nms_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// A memory stream that counts the calls reaching it and can refuse writes.
class CountingStream : public TMemoryStream {
public:
    std::int32_t Read(void* buffer, std::int32_t count) override {
        ++reads;
        lastRead = count;
        return TMemoryStream::Read(buffer, count);
    }
    std::int32_t Write(const void* buffer, std::int32_t count) override {
        ++writes;
        if (refuseWrites)
            return 0;
        return TMemoryStream::Write(buffer, count);
    }
    int reads = 0;
    int writes = 0;
    std::int32_t lastRead = 0;
    bool refuseWrites = false;
};

} // namespace

TEST(TS_BufferStream, WriteThenSeekAndReadBack) {
    TMemoryStream inner;
    {
        TS_BufferStream s(inner);
        s.WriteBuffer("0123456789", 10);
        EXPECT_EQ(inner.Size(), 0); // still pending
        EXPECT_EQ(s.Size(), 10);    // before any explicit seek
        EXPECT_EQ(s.Seek(0, soFromBeginning), 0);
        char buf[11] = {};
        EXPECT_EQ(s.Read(buf, 10), 10);
        EXPECT_STREQ(buf, "0123456789");
        EXPECT_EQ(inner.DataString(), "0123456789");
        EXPECT_EQ(s.Read(buf, 10), 0);
        EXPECT_TRUE(s.IsEof());
    }
    EXPECT_EQ(inner.DataString(), "0123456789");
}

TEST(TS_BufferStream, FlushesOnlyWholeBuffersDuringWrites) {
    ASSERT_EQ(BufferSize, 32768);
    std::vector<char> data(32769, 'x');
    CountingStream inner;
    {
        TS_BufferStream s(inner);
        EXPECT_EQ(s.Write(data.data(), 32768), 32768);
        EXPECT_EQ(inner.writes, 1);
        EXPECT_EQ(s.State(), bsUnknown);
        EXPECT_EQ(s.GetBufPosition(), 0);
    }
    EXPECT_EQ(inner.writes, 1); // nothing left for the destructor

    CountingStream inner2;
    {
        TS_BufferStream s(inner2);
        EXPECT_EQ(s.Write(data.data(), 32769), 32769);
        EXPECT_EQ(s.State(), bsWrite);
        EXPECT_EQ(s.GetBufPosition(), 1);
        EXPECT_EQ(inner2.Size(), 32768);
    }
    EXPECT_EQ(inner2.Size(), 32769); // the destructor wrote the pending byte
    EXPECT_EQ(inner2.writes, 2);
}

TEST(TS_BufferStream, ReadsAheadInWholeBuffersAndKeepsThemOnANullSeek) {
    CountingStream inner;
    inner.WriteBuffer(std::string(40000, 'a').data(), 40000);
    inner.SetPosition(0);
    TS_BufferStream s(inner);
    char c = 0;
    EXPECT_EQ(s.Read(&c, 1), 1);
    EXPECT_EQ(inner.reads, 1);
    EXPECT_EQ(inner.lastRead, 32768);
    EXPECT_EQ(s.State(), bsRead);
    EXPECT_EQ(s.GetBufPosition(), -32767);
    EXPECT_EQ(s.Position(), 1);
    EXPECT_EQ(s.Seek(1, soFromBeginning), 1);
    EXPECT_EQ(s.Seek(0, soFromCurrent), 1);
    EXPECT_EQ(s.Read(&c, 1), 1);
    EXPECT_EQ(inner.reads, 1);
    EXPECT_EQ(s.Seek(5, soFromEnd), 39995); // a positive offset counts back from the end
    EXPECT_THROW(s.Seek(0, 3), Exception);
    try {
        s.Seek(0, 7);
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Invalid seek origin = 7");
    }
    EXPECT_EQ(s.Position(), 39995); // unchanged by the refused seek
}

TEST(TS_BufferStream, EmptyStreamReadsNothingAndIsAtEnd) {
    TMemoryStream inner;
    TS_BufferStream s(inner);
    char c = 0;
    EXPECT_EQ(s.Read(&c, 1), 0);
    EXPECT_TRUE(s.IsEof());
    EXPECT_EQ(s.State(), bsUnknown);
}

TEST(TS_BufferStream, PutBackNeedsRoomBeforeTheCursor) {
    TMemoryStream inner;
    inner.WriteBuffer("abc", 3);
    inner.SetPosition(0);
    TS_BufferStream s(inner);
    try {
        s.PutBack('z');
        ADD_FAILURE() << "PutBack after construction";
    } catch (const EStreamError& e) {
        EXPECT_EQ(e.Message(), "PutBack overflow");
    }
    ASSERT_TRUE(s.FillBuffer());
    EXPECT_THROW(s.PutBack('z'), EStreamError);
    char c = 0;
    s.ReadBuffer(&c, 1);
    EXPECT_EQ(c, 'a');
    s.PutBack('z');
    char two[2] = {};
    s.ReadBuffer(two, 2);
    EXPECT_EQ(std::string(two, 2), "zb");
    EXPECT_EQ(inner.DataString(), "abc"); // the wrapped stream is untouched
}

TEST(TS_BufferStream, RefusedFlushStopsWritesAndFailsSeeks) {
    BufferSize = 4;
    CountingStream inner;
    TS_BufferStream s(inner);
    BufferSize = 32768;
    inner.refuseWrites = true;
    EXPECT_EQ(s.Write("abcdefgh", 8), 4); // the chunk that filled the buffer still counts
    EXPECT_EQ(inner.writes, 1);
    EXPECT_EQ(s.Write("ab", 2), 2);
    try {
        s.Seek(0, soFromBeginning);
        ADD_FAILURE() << "seek over a refused flush";
    } catch (const EStreamError& e) {
        EXPECT_EQ(e.Message(), "Seek error");
    }
}

// Found by fuzzing: bytes written before the start were taken, then lost at the flush.
TEST(TS_BufferStream, WriteBeforeTheStartTakesNothing) {
    TMemoryStream inner;
    TS_BufferStream s(inner);
    EXPECT_EQ(s.Seek(2, soFromEnd), -2);
    EXPECT_EQ(s.Write("abc", 3), 0);
    EXPECT_EQ(s.State(), bsUnknown);
    EXPECT_EQ(s.Seek(0, soFromBeginning), 0);
    EXPECT_EQ(s.Write("abc", 3), 3);
    EXPECT_EQ(s.Size(), 3);
}

TEST(TS_BufferStream, CallbacksFollowFillsAndFlushes) {
    BufferSize = 8;
    TMemoryStream inner;
    TS_BufferStream s(inner);
    BufferSize = 32768;
    int fills = 0, flushes = 0;
    s.OnAfterFillBuffer = [&](TS_BufferStream&) { ++fills; };
    s.OnAfterFlushBuffer = [&](TS_BufferStream&) { ++flushes; };
    s.WriteBuffer("0123456789abcdefXY", 18);
    EXPECT_EQ(flushes, 2);
    s.SetPosition(0);
    EXPECT_EQ(flushes, 3);
    char buf[18];
    s.ReadBuffer(buf, 18);
    EXPECT_EQ(fills, 3);
}

// Mixed reads, writes and seeks with odd sizes must leave the same bytes as a plain stream.
TEST(TS_BufferStream, BehavesLikeAPlainStreamUnderRandomUse) {
    for (std::int32_t size : {7, 64, 32768}) {
        std::mt19937 rng(size);
        BufferSize = size;
        TMemoryStream inner, plain;
        {
            TS_BufferStream s(inner);
            std::vector<char> a(1000), b(1000);
            for (int step = 0; step < 3000; ++step) {
                const int op = static_cast<int>(rng() % 4);
                const int n = static_cast<int>(rng() % (op == 3 ? 3 : 300));
                if (op == 0 || op == 1) {
                    for (int i = 0; i < n; ++i)
                        a[static_cast<size_t>(i)] = static_cast<char>(rng());
                    ASSERT_EQ(s.Write(a.data(), n), plain.Write(a.data(), n));
                } else if (op == 2) {
                    const std::int32_t got = s.Read(a.data(), n);
                    ASSERT_EQ(got, plain.Read(b.data(), n)) << "step " << step;
                    ASSERT_EQ(0, std::memcmp(a.data(), b.data(), static_cast<size_t>(got)));
                } else {
                    const std::int64_t size2 = plain.Size();
                    const std::int64_t target =
                        size2 ? static_cast<std::int64_t>(rng() % size2) : 0;
                    const std::int64_t delta = target - plain.Position();
                    if (n == 0)
                        ASSERT_EQ(s.Seek(target, soFromBeginning),
                                  plain.Seek(target, soFromBeginning));
                    else if (n == 1)
                        ASSERT_EQ(s.Seek(delta, soFromCurrent),
                                  plain.Seek(target, soFromBeginning));
                    else
                        ASSERT_EQ(s.Seek(size2 - target, soFromEnd),
                                  plain.Seek(target, soFromBeginning));
                }
                ASSERT_EQ(s.Position(), plain.Position()) << "step " << step;
            }
            ASSERT_EQ(s.Size(), plain.Size());
        }
        EXPECT_EQ(inner.DataString(), plain.DataString()) << "buffer " << size;
    }
    BufferSize = 32768;
}

// A byte stream that puts a fixed-size buffer in front of another stream, so that many small
// reads or writes become few buffer-sized ones on the wrapped stream.
#pragma once

#include "base/tstream.h"

#include <cstdint>
#include <functional>
#include <memory>

// Buffer size of the streams created from now on.
extern std::int32_t BufferSize;

enum TS_BufferState { bsUnknown = 0, bsRead = 1, bsWrite = 2 };

class TS_BufferStream : public TStream {
public:
    // The wrapped stream stays owned by the caller and must outlive this object.
    explicit TS_BufferStream(TStream& stream);
    // Writes what is pending; bytes the wrapped stream refuses are lost.
    ~TS_BufferStream() override;

    std::int32_t Read(void* buffer, std::int32_t count) override;
    std::int32_t Write(const void* buffer, std::int32_t count) override;
    // Origin soFromEnd counts a positive offset back from the end: (5, soFromEnd) on a
    // 20-byte stream gives 15. Any origin but the three raises "Invalid seek origin = %d".
    std::int64_t Seek(std::int64_t offset, int origin) override;
    void SetSize(std::int64_t size) override;

    virtual bool FillBuffer();
    virtual void PutBack(char c);
    virtual void AfterFillBuffer();
    virtual void AfterFlushBuffer();
    virtual bool FlushBuffer();

    // Logical position minus the wrapped stream's position.
    std::int32_t GetBufPosition() const;
    bool IsEof();
    TS_BufferState State() const { return state_; }

    std::function<void(TS_BufferStream&)> OnAfterFillBuffer;
    std::function<void(TS_BufferStream&)> OnAfterFlushBuffer;

private:
    static constexpr std::int32_t kNone = -1;

    TStream& stream_;
    std::int32_t bufferSize_;
    std::unique_ptr<char[]> buffer_;
    // Offsets into buffer_; cursor_ is kNone after construction and after a moving Seek.
    std::int32_t cursor_ = kNone;
    std::int32_t dataEnd_;
    TS_BufferState state_ = bsUnknown;
};

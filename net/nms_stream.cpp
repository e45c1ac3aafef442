#include "net/nms_stream.h"

#include "base/exception.h"

#include <algorithm>
#include <cstring>

std::int32_t BufferSize = 32768;

TS_BufferStream::TS_BufferStream(TStream& stream)
    : stream_(stream), bufferSize_(std::max<std::int32_t>(BufferSize, 1)),
      buffer_(new char[static_cast<size_t>(bufferSize_)]), dataEnd_(bufferSize_) {}

TS_BufferStream::~TS_BufferStream() {
    if (state_ != bsWrite)
        return;
    try {
        FlushBuffer();
    } catch (...) {
        // A destructor cannot report; the pending bytes are lost, as with a refused flush.
    }
}

bool TS_BufferStream::FillBuffer() {
    const std::int32_t n = std::max<std::int32_t>(stream_.Read(buffer_.get(), bufferSize_), 0);
    cursor_ = 0;
    dataEnd_ = n;
    state_ = n > 0 ? bsRead : bsUnknown;
    AfterFillBuffer();
    return n > 0;
}

bool TS_BufferStream::FlushBuffer() {
    const std::int32_t n = std::max<std::int32_t>(cursor_, 0);
    const std::int32_t written = n > 0 ? stream_.Write(buffer_.get(), n) : 0;
    cursor_ = 0;
    state_ = bsUnknown;
    AfterFlushBuffer();
    return written == n;
}

void TS_BufferStream::AfterFillBuffer() {
    if (OnAfterFillBuffer)
        OnAfterFillBuffer(*this);
}

void TS_BufferStream::AfterFlushBuffer() {
    if (OnAfterFlushBuffer)
        OnAfterFlushBuffer(*this);
}

std::int32_t TS_BufferStream::Read(void* buffer, std::int32_t count) {
    if (state_ == bsWrite)
        FlushBuffer();
    // Outside bsRead the buffer holds nothing readable, whatever the cursor says.
    if (state_ != bsRead)
        cursor_ = dataEnd_ = 0;
    char* out = static_cast<char*>(buffer);
    std::int32_t total = 0;
    while (count > 0) {
        if (cursor_ == dataEnd_ && !FillBuffer())
            break;
        const std::int32_t k = std::min(count, dataEnd_ - cursor_);
        std::memcpy(out, buffer_.get() + cursor_, static_cast<size_t>(k));
        cursor_ += k;
        out += k;
        total += k;
        count -= k;
    }
    return total;
}

std::int32_t TS_BufferStream::Write(const void* buffer, std::int32_t count) {
    if (state_ == bsRead) {
        stream_.Seek(-static_cast<std::int64_t>(dataEnd_ - cursor_), soFromCurrent);
        state_ = bsUnknown;
    }
    if (state_ != bsWrite) {
        // Before the start of the stream no byte can land: refuse now rather than accept
        // bytes that the flush would then drop.
        if (count > 0 && stream_.Position() < 0)
            return 0;
        cursor_ = 0;
        dataEnd_ = bufferSize_;
    }
    const char* in = static_cast<const char*>(buffer);
    std::int32_t total = 0;
    while (count > 0) {
        const std::int32_t k = std::min(count, dataEnd_ - cursor_);
        std::memcpy(buffer_.get() + cursor_, in, static_cast<size_t>(k));
        cursor_ += k;
        in += k;
        total += k;
        count -= k;
        if (cursor_ == dataEnd_ && !FlushBuffer())
            break;
    }
    if (cursor_ > 0)
        state_ = bsWrite;
    return total;
}

std::int32_t TS_BufferStream::GetBufPosition() const {
    switch (state_) {
    case bsRead:
        return cursor_ - dataEnd_;
    case bsWrite:
        return cursor_;
    default:
        return 0;
    }
}

std::int64_t TS_BufferStream::Seek(std::int64_t offset, int origin) {
    const std::int64_t current = stream_.Position() + GetBufPosition();
    std::int64_t target = 0;
    switch (origin) {
    case soFromBeginning:
        target = offset;
        break;
    case soFromCurrent:
        target = current + offset;
        break;
    case soFromEnd: {
        std::int64_t size = stream_.Size();
        if (state_ == bsWrite)
            size = std::max(size, current);
        target = size - offset;
        break;
    }
    default:
        throw Exception("Invalid seek origin = " + std::to_string(origin));
    }
    if (target == current)
        return current;
    if (state_ == bsWrite && !FlushBuffer())
        throw EStreamError("Seek error");
    stream_.Seek(target, soFromBeginning);
    cursor_ = kNone;
    state_ = bsUnknown;
    return target;
}

void TS_BufferStream::SetSize(std::int64_t size) {
    const std::int64_t position = Seek(0, soFromCurrent);
    if (state_ == bsWrite && !FlushBuffer())
        throw EStreamError("Seek error");
    stream_.SetSize(size);
    stream_.Seek(std::min(position, size), soFromBeginning);
    cursor_ = kNone;
    state_ = bsUnknown;
}

void TS_BufferStream::PutBack(char c) {
    if (cursor_ == kNone || cursor_ == 0)
        throw EStreamError("PutBack overflow");
    buffer_[static_cast<size_t>(--cursor_)] = c;
}

bool TS_BufferStream::IsEof() {
    return cursor_ == dataEnd_ && stream_.Position() == stream_.Size();
}

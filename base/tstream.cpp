#include "tstream.h"

#include "base/paths.h"
#include "exception.h"

#include <algorithm>
#include <cstring>

std::int64_t TStream::Size() {
    const std::int64_t position = Seek(0, soFromCurrent);
    const std::int64_t size = Seek(0, soFromEnd);
    Seek(position, soFromBeginning);
    return size;
}

void TStream::ReadBuffer(void* buffer, std::int32_t count) {
    if (count != 0 && Read(buffer, count) != count)
        throw EStreamError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, std::int32_t count) {
    if (count != 0 && Write(buffer, count) != count)
        throw EStreamError("Stream write error");
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    std::vector<char> buffer(static_cast<size_t>(std::min<std::int64_t>(count, 61440)));
    std::int64_t left = count;
    while (left > 0) {
        const auto chunk = static_cast<std::int32_t>(std::min<std::int64_t>(left, 61440));
        source.ReadBuffer(buffer.data(), chunk);
        WriteBuffer(buffer.data(), chunk);
        left -= chunk;
    }
    return count;
}

std::int32_t TMemoryStream::Read(void* buffer, std::int32_t count) {
    const auto size = static_cast<std::int64_t>(data_.size());
    if (count <= 0 || position_ < 0 || position_ >= size)
        return 0;
    const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count, size - position_));
    std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
    position_ += n;
    return n;
}

std::int32_t TMemoryStream::Write(const void* buffer, std::int32_t count) {
    if (count <= 0 || position_ < 0)
        return 0;
    const std::int64_t end = position_ + count;
    const auto size = static_cast<std::int64_t>(data_.size());
    const char* bytes = static_cast<const char*>(buffer);
    if (end <= size) {
        std::memcpy(data_.data() + position_, bytes, static_cast<size_t>(count));
    } else if (position_ <= size) {
        // Appending: no zero-fill of bytes about to be overwritten.
        const std::int64_t overlap = size - position_;
        if (overlap > 0)
            std::memcpy(data_.data() + position_, bytes, static_cast<size_t>(overlap));
        data_.insert(data_.end(), bytes + overlap, bytes + count);
    } else {
        data_.resize(static_cast<size_t>(end));
        std::memcpy(data_.data() + position_, bytes, static_cast<size_t>(count));
    }
    position_ = end;
    return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, int origin) {
    switch (origin) {
    case soFromBeginning:
        position_ = offset;
        break;
    case soFromCurrent:
        position_ += offset;
        break;
    case soFromEnd:
        position_ = static_cast<std::int64_t>(data_.size()) + offset;
        break;
    default:
        break;
    }
    return position_;
}

void TMemoryStream::SetSize(std::int64_t size) {
    data_.resize(static_cast<size_t>(std::max<std::int64_t>(size, 0)));
    position_ = std::min(position_, size);
}

void TMemoryStream::SetCapacity(std::int64_t capacity) {
    if (capacity > static_cast<std::int64_t>(data_.capacity()))
        data_.reserve(static_cast<size_t>(capacity));
}

void TMemoryStream::Clear() {
    data_.clear();
    position_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
    TFileStream file(fileName, fmOpenRead | fmShareDenyNone);
    Clear();
    CopyFrom(file, 0);
    position_ = 0;
}

void TMemoryStream::SaveToFile(const std::string& fileName) {
    TFileStream file(fileName, fmCreate);
    file.WriteBuffer(data_.data(), static_cast<std::int32_t>(data_.size()));
}

TFileStream::TFileStream(const std::string& fileName, unsigned mode) : fileName_(fileName) {
    if (mode == fmCreate) {
        file_ = OpenFileUtf8(fileName, "w+b");
        if (!file_)
            throw EFCreateError("Cannot create file " + fileName);
        return;
    }
    const char* how = (mode & 3) == fmOpenRead ? "rb" : "r+b";
    file_ = OpenFileUtf8(fileName, how);
    if (!file_)
        throw EFOpenError("Cannot open file " + fileName);
}

TFileStream::~TFileStream() {
    if (file_)
        std::fclose(file_);
}

std::int32_t TFileStream::Read(void* buffer, std::int32_t count) {
    if (count <= 0)
        return 0;
    if (lastWasWrite_)
        std::fflush(file_);
    lastWasWrite_ = false;
    return static_cast<std::int32_t>(std::fread(buffer, 1, static_cast<size_t>(count), file_));
}

std::int32_t TFileStream::Write(const void* buffer, std::int32_t count) {
    if (count <= 0)
        return 0;
    if (!lastWasWrite_)
        std::fseek(file_, 0, SEEK_CUR); // C requires a positioning call between read and write
    lastWasWrite_ = true;
    return static_cast<std::int32_t>(std::fwrite(buffer, 1, static_cast<size_t>(count), file_));
}

std::int64_t TFileStream::Seek(std::int64_t offset, int origin) {
    static const int whence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    if (origin >= soFromBeginning && origin <= soFromEnd) {
#ifdef _WIN32
        _fseeki64(file_, offset, whence[origin]);
#else
        fseeko(file_, static_cast<off_t>(offset), whence[origin]);
#endif
    }
#ifdef _WIN32
    return _ftelli64(file_);
#else
    return static_cast<std::int64_t>(ftello(file_));
#endif
}

void TFileStream::SetSize(std::int64_t size) {
    // Only growing is portable through stdio; shrinking is not needed by the program.
    const std::int64_t position = Position();
    if (size > Size()) {
        Seek(size - 1, soFromBeginning);
        const char zero = 0;
        Write(&zero, 1);
    }
    Seek(std::min(position, size), soFromBeginning);
}

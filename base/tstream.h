// Byte streams of the framework: an abstract stream, one in memory and one over a file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

enum : int { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

class TStream {
public:
    virtual ~TStream() = default;
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;

    // Reads or writes up to count bytes and returns how many were moved (0 at the end).
    virtual std::int32_t Read(void* buffer, std::int32_t count) = 0;
    virtual std::int32_t Write(const void* buffer, std::int32_t count) = 0;
    // Moves the position and returns the new one; origin is one of soFrom...
    virtual std::int64_t Seek(std::int64_t offset, int origin) = 0;
    virtual void SetSize(std::int64_t size) = 0;

    std::int64_t Position() { return Seek(0, soFromCurrent); }
    void SetPosition(std::int64_t position) { Seek(position, soFromBeginning); }
    virtual std::int64_t Size();

    // Move exactly count bytes or raise EStreamError.
    void ReadBuffer(void* buffer, std::int32_t count);
    void WriteBuffer(const void* buffer, std::int32_t count);
    // Copies count bytes from source's position; count 0 copies the whole source from its start.
    std::int64_t CopyFrom(TStream& source, std::int64_t count);
};

class TMemoryStream : public TStream {
public:
    std::int32_t Read(void* buffer, std::int32_t count) override;
    std::int32_t Write(const void* buffer, std::int32_t count) override;
    std::int64_t Seek(std::int64_t offset, int origin) override;
    void SetSize(std::int64_t size) override;
    std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }

    void Clear();
    // Reserves room for capacity bytes, so that a stream of known final size grows only once.
    void SetCapacity(std::int64_t capacity);
    const char* Memory() const { return data_.data(); }
    std::string DataString() const { return std::string(data_.begin(), data_.end()); }
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName);

private:
    std::vector<char> data_;
    std::int64_t position_ = 0;
};

// File open modes, as the framework numbers them.
enum : unsigned {
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmShareDenyNone = 0x0040,
    fmCreate = 0xFFFF,
};

class TFileStream : public TStream {
public:
    // Raises EFCreateError or EFOpenError when the file cannot be created or opened.
    TFileStream(const std::string& fileName, unsigned mode);
    ~TFileStream() override;

    std::int32_t Read(void* buffer, std::int32_t count) override;
    std::int32_t Write(const void* buffer, std::int32_t count) override;
    std::int64_t Seek(std::int64_t offset, int origin) override;
    void SetSize(std::int64_t size) override;
    const std::string& FileName() const { return fileName_; }

private:
    std::string fileName_;
    std::FILE* file_ = nullptr;
    bool lastWasWrite_ = false;
};

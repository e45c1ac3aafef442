#include "monitor/history_win.h"

#include "base/thread_win.h"
#include "base/utf_win.h"

#include <windows.h>

#include <algorithm>
#include <utility>

namespace {

int dayNumber(const SYSTEMTIME& t) {
    return t.wYear * 10000 + t.wMonth * 100 + t.wDay;
}

std::string errorText(const std::string& what, const std::string& path) {
    return what + " " + path + ": error " + std::to_string(::GetLastError());
}

} // namespace

CivilSeconds HistoryNow() {
    SYSTEMTIME t;
    ::GetLocalTime(&t);
    return ToCivilSeconds(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
}

long long LoadHistoryFile(const std::string& path, HistoryIndex& index, unsigned long long limit) {
    ScopedFileHandle file(::CreateFileW(
        Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER size{};
    if (!file || !::GetFileSizeEx(file.Get(), &size))
        return -1;
    unsigned long long left = std::min<unsigned long long>(size.QuadPart, limit);
    HistoryTextReader reader([&index](HistoryRecord&& r) { index.Add(r); });
    std::string piece(1 << 20, '\0');
    while (left > 0) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<unsigned long long>(left, piece.size()));
        if (!::ReadFile(file.Get(), piece.data(), want, &got, nullptr) || got == 0)
            break;
        reader.Feed(std::string_view(piece.data(), got));
        left -= got;
    }
    return static_cast<long long>(reader.Finish());
}

HistoryStore::HistoryStore(std::string folder, Log log)
    : folder_(std::move(folder)), log_(std::move(log)) {}

HistoryStore::~HistoryStore() {
    // The reading back holds nothing but this store; it ends within one file's parse.
    leaving_ = true;
    if (loader_)
        ::WaitForSingleObject(loader_.Get(), INFINITE);
}

void HistoryStore::SetDays(int days) {
    std::lock_guard<std::mutex> guard(lock_);
    days_ = days;
    index_.SetDays(days);
}

int HistoryStore::Days() const {
    std::lock_guard<std::mutex> guard(lock_);
    return days_;
}

void HistoryStore::removeOld(int year, int month, int day) {
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW(Widen(folder_ + "\\history-*.csv").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::string name = Narrow(found.cFileName);
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            IsOldHistoryName(name, year, month, day, days_))
            ::DeleteFileW(Widen(folder_ + "\\" + name).c_str());
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

void HistoryStore::Start(const std::vector<std::string>& sites, bool noteSkipped) {
    std::lock_guard<std::mutex> guard(lock_);
    if (days_ <= 0 || loader_)
        return;
    noteSkipped_ = noteSkipped; // read by the loader, which starts below
    SYSTEMTIME today;
    ::GetLocalTime(&today);
    removeOld(today.wYear, today.wMonth, today.wDay);
    // What is there now is read back; what the cycles add meanwhile waits in pending_.
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW(Widen(folder_ + "\\history-*.csv").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = Narrow(found.cFileName);
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                IsReadableHistoryName(name, today.wYear, today.wMonth, today.wDay))
                names.push_back(name);
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }
    // The names sort by date (the case of the letters aside), so the buckets fill in time order.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return *HistoryNameDay(a) < *HistoryNameDay(b);
    });
    const std::string todayName = HistoryFileName(today.wYear, today.wMonth, today.wDay);
    unsigned long long todayBytes = MaxHistoryFileBytes;
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (::GetFileAttributesExW(Widen(folder_ + "\\" + todayName).c_str(), GetFileExInfoStandard,
                               &attributes))
        todayBytes = std::min<unsigned long long>(
            (static_cast<unsigned long long>(attributes.nFileSizeHigh) << 32) |
                attributes.nFileSizeLow,
            MaxHistoryFileBytes);
    loading_ = true;
    index_.SetSites(sites);
    loader_ = StartThread([this, names = std::move(names), sites, todayName, todayBytes]() mutable {
        return load(std::move(names), std::move(sites), todayName, todayBytes);
    });
    if (!loader_)
        loading_ = false;
}

DWORD HistoryStore::load(std::vector<std::string> names, std::vector<std::string> sites,
                         std::string today, unsigned long long todayBytes) {
    HistoryIndex loaded;
    loaded.SetDays(Days());
    loaded.SetSites(sites);
    loaded.SetNow(HistoryNow());
    for (const std::string& name : names) {
        if (leaving_)
            return 0;
        const std::string path = folder_ + "\\" + name;
        const unsigned long long limit = name == today ? todayBytes : MaxHistoryFileBytes;
        const long long damaged = LoadHistoryFile(path, loaded, limit);
        if (damaged < 0)
            log_(errorText("History not read from", path));
        else if (damaged > 0)
            log_("History file " + name + ": " + std::to_string(damaged) +
                 " damaged lines skipped");
    }
    const std::size_t skipped = loaded.TakeSkipped();
    if (skipped && noteSkipped_)
        log_("History: " + std::to_string(skipped) +
             " lines of addresses that are not in the list skipped");
    std::lock_guard<std::mutex> guard(lock_);
    // The list as the last cycle had it.
    loaded.SetSites(pendingSites_.empty() ? sites : pendingSites_);
    loaded.SetNow(HistoryNow());
    for (const HistoryRecord& record : pending_)
        loaded.Add(record);
    loaded.TakeSkipped();
    pending_.clear();
    loaded.SetDays(days_);
    loaded.Trim(HistoryNow());
    index_ = std::move(loaded);
    loading_ = false;
    return 0;
}

void HistoryStore::Record(const CycleResults& cycle, const std::string& benchmark,
                          const std::function<bool(const std::string& url)>& inMaintenance) {
    std::lock_guard<std::mutex> guard(lock_);
    if (days_ <= 0)
        return;
    SYSTEMTIME t;
    ::GetLocalTime(&t);
    const CivilSeconds now =
        ToCivilSeconds(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    if (std::exchange(lastDay_, dayNumber(t)) != dayNumber(t))
        removeOld(t.wYear, t.wMonth, t.wDay);
    const std::string lines = HistoryLines(now, cycle, benchmark, inMaintenance);
    if (lines.empty())
        return;
    // A cycle whose benchmark was down names no site: the list stays as it was.
    if (!cycle.Urls.empty()) {
        if (loading_)
            pendingSites_ = cycle.Urls;
        else
            index_.SetSites(cycle.Urls);
    }

    const std::string path = folder_ + "\\" + HistoryFileName(t.wYear, t.wMonth, t.wDay);
    // Append-only access: every write lands at the end, whatever else has the file open.
    ScopedFileHandle file(::CreateFileW(Widen(path).c_str(), FILE_APPEND_DATA | FILE_READ_DATA,
                                        FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    bool written = false;
    if (file) {
        LARGE_INTEGER size{};
        std::string block;
        if (::GetFileSizeEx(file.Get(), &size) && size.QuadPart == 0)
            block = HistoryHeader;
        else {
            // A line that a power cut left unended is ended first, so that it costs only itself.
            char last = '\n';
            DWORD got = 0;
            LARGE_INTEGER back{};
            back.QuadPart = -1;
            if (::SetFilePointerEx(file.Get(), back, nullptr, FILE_END) &&
                ::ReadFile(file.Get(), &last, 1, &got, nullptr) && got == 1 && last != '\n')
                block = "\r\n";
        }
        block += lines;
        DWORD put = 0;
        written = ::WriteFile(file.Get(), block.data(), static_cast<DWORD>(block.size()), &put,
                              nullptr) &&
                  put == block.size() && ::FlushFileBuffers(file.Get());
    }
    if (!written && !failing_)
        log_(errorText("History not written to", path));
    failing_ = !written;

    index_.SetNow(now);
    ParseHistoryText(lines, [this](HistoryRecord&& r) {
        if (loading_)
            pending_.push_back(std::move(r));
        else
            index_.Add(r);
    });
    if (!loading_) {
        index_.TakeSkipped();
        index_.Trim(now);
    }
}

void HistoryStore::Read(const std::function<void(const HistoryIndex&, bool)>& read) {
    std::lock_guard<std::mutex> guard(lock_);
    read(index_, loading_);
}

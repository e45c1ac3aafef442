// The history as the running service keeps it: today's file beside the program appended once per
// cycle, old files removed as new days begin, and the buckets the History window reads, rebuilt
// from the files on a thread of their own at start so that a month of files never holds up the
// service's start or its first cycle.
#pragma once

#include "monitor/history.h"

#include "base/handle_win.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// A file larger than this is not read back (the line saying so is logged); a day of 1,000 sites
// checked every minute is about 80 MB.
constexpr unsigned long long MaxHistoryFileBytes = 256ull * 1024 * 1024;

// The local clock now, in civil seconds.
CivilSeconds HistoryNow();

// Reads one file into index, a piece at a time; returns the damaged lines, or -1 when it cannot
// be read. limit bounds the bytes read (a file being appended to is read up to what it held when
// asked).
long long LoadHistoryFile(const std::string& path, HistoryIndex& index,
                          unsigned long long limit = MaxHistoryFileBytes);

class HistoryStore {
public:
    using Log = std::function<void(const std::string&)>;
    // folder: where the daily files are; log: a line for the daily log, from any thread.
    HistoryStore(std::string folder, Log log);
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // [History] Days: files older are removed; 0 turns the history off (nothing is written).
    void SetDays(int days);
    int Days() const;
    // Removes the old files and reads the others back into the buckets on a thread of its own,
    // for the sites of the list only (the lines of other addresses are skipped, and counted in
    // one log line when noteSkipped: a note, not a failure, for the log levels that want one); a
    // store destroyed meanwhile waits for the file being read, not for the
    // rest. Files dated after today and names that are no date are neither read nor removed.
    void Start(const std::vector<std::string>& sites, bool noteSkipped = true);
    // Appends the cycle's lines to today's file in one write and flushes it, so that a power cut
    // loses at most this cycle; then adds them to the buckets. The cycle's addresses are the list
    // from then on.
    void Record(const CycleResults& cycle, const std::string& benchmark,
                const std::function<bool(const std::string& url)>& inMaintenance = {});
    // Runs read with the buckets under the store's lock; loading is true while the files are
    // still being read back (the buckets then hold only what came since).
    void Read(const std::function<void(const HistoryIndex& index, bool loading)>& read);

private:
    void removeOld(int year, int month, int day);
    DWORD load(std::vector<std::string> names, std::vector<std::string> sites, std::string today,
               unsigned long long todayBytes);

    const std::string folder_;
    const Log log_;
    bool noteSkipped_ = true;
    mutable std::mutex lock_;
    int days_ = 30;
    int lastDay_ = 0;      // yyyymmdd of the last cycle written
    bool failing_ = false; // the last write failed: logged once until one succeeds
    bool loading_ = false;
    HistoryIndex index_;
    std::vector<HistoryRecord> pending_;    // recorded while the files were being read back
    std::vector<std::string> pendingSites_; // the list of the last cycle meanwhile
    // Set when the store goes: the reading back stops after the file it is in.
    std::atomic<bool> leaving_{false};
    ScopedKernelHandle loader_;
};

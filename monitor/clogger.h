// The daily event log: one text file per day beside the program, one line per event.
// Write-only and stateless: every line opens, appends to and closes the day's file.
#pragma once

#include "base/civil.h"

#include <string>
#include <string_view>

// The day's file for a program path: its folder, then "\log", yyyymmdd and ".log".
std::string LogFilePath(const std::string& programPath, int year, int month, int day);

// The time prefix on the 12-hour clock, "hh:nn a" or "hh:nn p", with the given separator in
// place of ":", followed by " -> ". Hours outside 0..23 and minutes outside 0..59 are taken
// modulo their range, so a broken clock still yields a well-formed line.
std::string LogTimePrefix(int hour, int minute, const std::string& separator);

// True when name is one of the program's daily files, "logYYYYMMDD.log" in any case, dated
// days or more days before the given day: with days = 90 the files of that day and the 89 before
// it stay. The date in the name decides, never the file's times; a name with a date that does
// not exist, or any other name, is never old. days <= 0 keeps every file.
bool IsOldLogName(std::string_view name, int year, int month, int day, int days);

// Appends prefix, text and CR LF to the file (a UTF-8 path), creating it when missing; no folder
// is created.
// Returns false when the file cannot be opened (the line is lost).
bool AppendLogLine(const std::string& path, const std::string& prefix, const std::string& text);

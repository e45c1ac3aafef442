// The daily event log: one text file per day beside the program, one line per event.
// Write-only and stateless: every line opens, appends to and closes the day's file.
#pragma once

#include <string>

// The day's file for a program path: its folder, then "\log", yyyymmdd and ".log".
std::string LogFilePath(const std::string& programPath, int year, int month, int day);

// The time prefix on the 12-hour clock, "hh:nn a" or "hh:nn p", with the given separator in
// place of ":", followed by " -> ". Hours outside 0..23 and minutes outside 0..59 are taken
// modulo their range, so a broken clock still yields a well-formed line.
std::string LogTimePrefix(int hour, int minute, const std::string& separator);

// Appends prefix, text and CR LF to the file, creating it when missing; no folder is created.
// Returns false when the file cannot be opened (the line is lost).
bool AppendLogLine(const std::string& path, const std::string& prefix, const std::string& text);

// The daily event log as the running program writes it: today's file beside the program,
// named and stamped by the platform's clock and locale.
#pragma once

#include "monitor/clogger.h"

#include <string>

// Writes "hh:nn a/p -> text" and CR LF to today's file. Never fails towards its caller: a line
// that cannot be written is lost. Callers make their own log level test. The first line of each
// day (and the first after start) removes the daily files that have grown too old.
void WriteLog(const std::string& text);

// How many days of daily files stay ([Log] Days); 0 or less keeps them all. Until it is set,
// 90 days stay.
void SetLogDays(int days);

// Deletes the daily files beside the program that IsOldLogName finds too old for today and the
// last SetLogDays. Files that cannot be deleted stay without a message.
void RemoveOldLogs();

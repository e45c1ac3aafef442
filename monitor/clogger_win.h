// The daily event log as the running program writes it: today's file beside the program,
// named and stamped by the platform's clock and locale.
#pragma once

#include "monitor/clogger.h"

#include <string>

// Writes "hh:nn a/p -> text" and CR LF to today's file. Never fails towards its caller: a line
// that cannot be written is lost. Callers make their own log level test.
void WriteLog(const std::string& text);

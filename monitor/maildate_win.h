// The current Date and a fresh Message-ID for an outgoing mail, from the Windows clock, time
// zone and computer name.
#pragma once

#include <string>

// The local time now with its offset from UTC, daylight saving included.
std::string CurrentMailDate();

// Unique per call within this process, and across processes and computers by the time, the
// process id and the computer's name.
std::string NewMessageId();

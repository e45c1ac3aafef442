// The metrics file written so that a reader never sees half of it: the text goes to a temporary
// file in the same folder, which then replaces the file in one move.
#pragma once

#include <string>

// Writes text as folder\name; empty when done, else why not. The temporary file is name plus
// ".tmp" (which a textfile collector, reading "*.prom" only, passes over) and is removed when
// the write fails. A relative folder is taken from the program's folder.
std::string WriteFileReplacing(const std::string& folder, const std::string& name,
                               const std::string& text);

// Removes folder\name, as WriteFileReplacing names it; false when it is still there.
bool RemoveWrittenFile(const std::string& folder, const std::string& name);

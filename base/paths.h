// Paths formed from the program's own file name. Portable: only string rules live here.
#pragma once

#include <string>

// The folder of a path: everything before its last backslash; a path without one is used whole.
std::string FolderOf(const std::string& path);

// The path with its extension (after the last dot of the file name) replaced by newExtension,
// which includes its dot; a name without an extension gets it appended.
std::string ChangeFileExt(const std::string& path, const std::string& newExtension);

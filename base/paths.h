// Paths formed from the program's own file name. Portable: only string rules live here.
#pragma once

#include <cstdio>
#include <string>

// The folder of a path: everything before its last backslash; a path without one is used whole.
std::string FolderOf(const std::string& path);

// The path with its extension (after the last dot of the file name) replaced by newExtension,
// which includes its dot; a name without an extension gets it appended.
std::string ChangeFileExt(const std::string& path, const std::string& newExtension);

// fopen for a path in UTF-8: the platform's wide open on Windows, where the 8-bit one would read
// the path in the ANSI code page. Null when the file cannot be opened or the path is not UTF-8,
// on every platform alike.
std::FILE* OpenFileUtf8(const std::string& path, const char* mode);

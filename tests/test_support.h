// Small helpers shared by the test executables of both presets.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

// A path in the system's temporary folder, unique to this test process.
inline std::string TempPath(const std::string& name) {
#ifdef _WIN32
    const char* dir = std::getenv("TEMP");
    const std::string sep = "\\";
    const int pid = static_cast<int>(_getpid());
#else
    const char* dir = std::getenv("TMPDIR");
    const std::string sep = "/";
    const int pid = static_cast<int>(getpid());
#endif
    std::string base = dir && *dir ? dir : (sep == "/" ? "/tmp" : ".");
    return base + sep + "vigrel-" + std::to_string(pid) + "-" + name;
}

// The bytes of a file as they are on disk; empty when it cannot be read.
inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The program's own path, as the platform reports it.
#pragma once

#include "base/paths.h"

#include <string>

// The full path of the running program's file.
std::string ProgramPath();

// What follows the program's own name on its command line, as given (leading blanks included).
const wchar_t* CommandLineArguments();

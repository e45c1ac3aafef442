// The program's own path, as the platform reports it.
#pragma once

#include "base/paths.h"

#include <string>

// The full path of the running program's file.
std::string ProgramPath();

// The program's UTF-8 text at the platform's wide interfaces. Every call of a ...W function
// takes its text through Widen and gives its result back through Narrow.
#pragma once

#include "base/utf.h"

#include <string>

// UTF-16 for the platform. Text that is not well-formed UTF-8 (it cannot come from the
// program's own sources) is taken byte for byte as Latin-1, so that nothing is dropped.
std::wstring Widen(std::string_view text);

// UTF-8 of the platform's text; an unpaired surrogate becomes U+FFFD.
std::string Narrow(std::wstring_view text);

// A window's text (a field's, a label's) whatever its length.
std::string WindowText(void* window);

// The system's text for an error code, without its line end; empty when it has none.
std::string SystemErrorText(unsigned long code);

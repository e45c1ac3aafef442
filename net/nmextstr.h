// A string list of mail-header lines ("Name: value"), looked up by name.
#pragma once

#include "base/tstringlist.h"

#include <string>

class TExStringList : public TStringList {
public:
    // Index of the line whose text before its first colon equals name (letter case ignored,
    // no trimming), or -1. A sorted list is searched by bisection.
    int IndexOfName(const std::string& name) const;
    // The text after "name:" with at most one leading blank removed; empty when absent.
    std::string GetValue(const std::string& name) const;
    // Sets the line to "name: value", appending it when absent; an empty value removes it.
    void SetValue(const std::string& name, const std::string& value);
};

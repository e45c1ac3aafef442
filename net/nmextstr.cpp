#include "net/nmextstr.h"

namespace {

// The name part of a header line; a line without a colon has none.
bool nameOf(const std::string& line, std::string& name) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos)
        return false;
    name = line.substr(0, colon);
    return true;
}

} // namespace

int TExStringList::IndexOfName(const std::string& name) const {
    std::string lineName;
    if (!Sorted()) {
        for (int i = 0; i < Count(); ++i)
            if (nameOf(Get(i), lineName) && CompareText(lineName, name) == 0)
                return i;
        return -1;
    }
    int low = 0;
    int high = Count() - 1;
    while (low <= high) {
        const int middle = low + (high - low) / 2;
        if (!nameOf(Get(middle), lineName))
            lineName.clear();
        const int c = CompareText(lineName, name);
        if (c == 0)
            return middle;
        if (c < 0)
            low = middle + 1;
        else
            high = middle - 1;
    }
    return -1;
}

std::string TExStringList::GetValue(const std::string& name) const {
    const int index = IndexOfName(name);
    if (index < 0)
        return std::string();
    const std::string& line = Get(index);
    std::string value =
        line.size() > name.size() + 1 ? line.substr(name.size() + 1) : std::string();
    if (!value.empty() && value[0] == ' ')
        value.erase(0, 1);
    return value;
}

void TExStringList::SetValue(const std::string& name, const std::string& value) {
    const int index = IndexOfName(name);
    if (value.empty()) {
        if (index >= 0)
            Delete(index);
        return;
    }
    const std::string line = name + ": " + value;
    if (index < 0) {
        Add(line);
    } else if (Sorted()) {
        // A sorted list keeps its order only through Add.
        Delete(index);
        Add(line);
    } else {
        Put(index, line);
    }
}

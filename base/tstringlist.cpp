#include "tstringlist.h"

#include "exception.h"
#include "text.h"

#include <algorithm>
#include <cctype>

int TStringList::CompareText(const std::string& a, const std::string& b) {
    return ::CompareText(a, b);
}

void TStringList::checkIndex(int index) const {
    if (index < 0 || index >= Count())
        throw Exception("List index out of bounds (" + std::to_string(index) + ")");
}

int TStringList::sortedPosition(const std::string& s) const {
    auto it =
        std::upper_bound(items_.begin(), items_.end(), s, [](const std::string& v, const Item& e) {
            return CompareText(v, e.text) < 0;
        });
    return static_cast<int>(it - items_.begin());
}

int TStringList::AddObject(const std::string& s, std::intptr_t object) {
    const int index = sorted_ ? sortedPosition(s) : Count();
    items_.insert(items_.begin() + index, Item{s, object});
    return index;
}

void TStringList::InsertObject(int index, const std::string& s, std::intptr_t object) {
    if (sorted_)
        throw Exception("Operation not allowed on sorted list");
    if (index < 0 || index > Count())
        throw Exception("List index out of bounds (" + std::to_string(index) + ")");
    items_.insert(items_.begin() + index, Item{s, object});
}

void TStringList::Delete(int index) {
    checkIndex(index);
    items_.erase(items_.begin() + index);
}

const std::string& TStringList::Get(int index) const {
    checkIndex(index);
    return items_[static_cast<size_t>(index)].text;
}

void TStringList::Put(int index, const std::string& s) {
    if (sorted_)
        throw Exception("Operation not allowed on sorted list");
    checkIndex(index);
    items_[static_cast<size_t>(index)].text = s;
}

std::intptr_t TStringList::Objects(int index) const {
    checkIndex(index);
    return items_[static_cast<size_t>(index)].object;
}

void TStringList::PutObject(int index, std::intptr_t object) {
    checkIndex(index);
    items_[static_cast<size_t>(index)].object = object;
}

int TStringList::IndexOf(const std::string& s) const {
    for (int i = 0; i < Count(); ++i)
        if (CompareText(items_[static_cast<size_t>(i)].text, s) == 0)
            return i;
    return -1;
}

void TStringList::SetSorted(bool sorted) {
    if (sorted && !sorted_)
        std::stable_sort(items_.begin(), items_.end(), [](const Item& a, const Item& b) {
            return CompareText(a.text, b.text) < 0;
        });
    sorted_ = sorted;
}

std::string TStringList::Text() const {
    std::string text;
    for (const Item& item : items_)
        text += item.text + "\r\n";
    return text;
}

void TStringList::SetText(const std::string& text) {
    items_.clear();
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            AddObject(text.substr(start), 0);
            break;
        }
        AddObject(text.substr(start, end - start), 0);
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
}

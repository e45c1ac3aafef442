// Ordered list of text lines, each with an attached integer or object pointer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TStringList {
public:
    TStringList() = default;
    virtual ~TStringList() = default;
    TStringList(const TStringList&) = default;
    TStringList& operator=(const TStringList&) = default;

    int Count() const { return static_cast<int>(items_.size()); }

    // Appends (or, when sorted, inserts at its place) and returns the index of the new line.
    int Add(const std::string& s) { return AddObject(s, 0); }
    int AddObject(const std::string& s, std::intptr_t object);
    void Insert(int index, const std::string& s) { InsertObject(index, s, 0); }
    void InsertObject(int index, const std::string& s, std::intptr_t object);
    void Delete(int index);
    void Clear() { items_.clear(); }

    const std::string& Get(int index) const;
    const std::string& operator[](int index) const { return Get(index); }
    void Put(int index, const std::string& s);
    std::intptr_t Objects(int index) const;
    void PutObject(int index, std::intptr_t object);

    // Index of the first line equal to s (letter case ignored), or -1.
    int IndexOf(const std::string& s) const;

    bool Sorted() const { return sorted_; }
    void SetSorted(bool sorted);

    // The lines joined, each followed by CR LF; setting it splits at CR LF, LF or CR.
    std::string Text() const;
    void SetText(const std::string& text);

    // Letter-case-insensitive comparison in the C locale, the list's notion of order.
    static int CompareText(const std::string& a, const std::string& b);

private:
    struct Item {
        std::string text;
        std::intptr_t object;
    };
    void checkIndex(int index) const;
    int sortedPosition(const std::string& s) const;

    std::vector<Item> items_;
    bool sorted_ = false;
};

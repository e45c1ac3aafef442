// An INI store in memory with the platform's rules that matter to the settings record:
// names match without regard to case, a key name ends at its first "=", blanks around keys
// and values are dropped, sections and keys keep their order.
#pragma once

#include "base/exception.h"
#include "base/tstringlist.h"
#include "settings/inistore.h"

#include <string>
#include <vector>

class FakeIniStore : public IniStore {
public:
    struct Section {
        std::string name;
        std::vector<Key> keys;
    };
    std::vector<Section> sections;
    int writesBeforeRefusal = -1; // refuse every write after this many; -1 never

    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) override {
        const Key* k = find(section, key);
        return k ? k->value.substr(0, 2047) : defaultValue;
    }

    std::vector<Key> ReadSection(const std::string& section) override {
        for (const Section& s : sections)
            if (same(s.name, section))
                return s.keys;
        return {};
    }

    void WriteString(const std::string& section, const std::string& keyText,
                     const std::string& value) override {
        if (writesBeforeRefusal == 0)
            throw Exception("Unable to write to fake.INI");
        if (writesBeforeRefusal > 0)
            --writesBeforeRefusal;
        // What the platform does with a line "key=value": the key ends at the first "=".
        const std::string line = keyText + "=" + value;
        const size_t equals = line.find('=');
        const std::string key = trim(line.substr(0, equals));
        const std::string val = trim(line.substr(equals + 1));
        if (Key* k = find(section, key)) {
            k->value = val;
            return;
        }
        sectionNamed(section).keys.push_back({key, val});
    }

    void EraseSection(const std::string& section) override {
        for (size_t i = 0; i < sections.size(); ++i)
            if (same(sections[i].name, section)) {
                sections.erase(sections.begin() + static_cast<long>(i));
                return;
            }
    }

    std::vector<std::string> SectionNames() const {
        std::vector<std::string> names;
        for (const Section& s : sections)
            names.push_back(s.name);
        return names;
    }

private:
    static bool same(const std::string& a, const std::string& b) {
        return TStringList::CompareText(a, b) == 0;
    }
    static std::string trim(const std::string& s) {
        const size_t b = s.find_first_not_of(" \t");
        if (b == std::string::npos)
            return "";
        return s.substr(b, s.find_last_not_of(" \t") - b + 1);
    }
    Section& sectionNamed(const std::string& name) {
        for (Section& s : sections)
            if (same(s.name, name))
                return s;
        sections.push_back({name, {}});
        return sections.back();
    }
    Key* find(const std::string& section, const std::string& key) {
        for (Section& s : sections)
            if (same(s.name, section))
                for (Key& k : s.keys)
                    if (same(k.name, key))
                        return &k;
        return nullptr;
    }
};

// Access to one INI file, one key at a time, as the private-profile functions give it.
// The settings record speaks only to this interface, so its rules run anywhere; the Windows
// build backs it with the platform's profile functions.
#pragma once

#include <string>
#include <vector>

class IniStore {
public:
    virtual ~IniStore() = default;

    // The value of section/key, cut to 2047 characters, or defaultValue when the key is missing.
    virtual std::string ReadString(const std::string& section, const std::string& key,
                                   const std::string& defaultValue) = 0;
    // The key names of a section in file order, all of them however long the section, each
    // with its value.
    struct Key {
        std::string name;
        std::string value;
    };
    virtual std::vector<Key> ReadSection(const std::string& section) = 0;
    // Writes one key at once; raises Exception "Unable to write to <path>" when refused.
    virtual void WriteString(const std::string& section, const std::string& key,
                             const std::string& value) = 0;
    // Removes a section with all its keys.
    virtual void EraseSection(const std::string& section) = 0;
};

// The settings file through the platform's private-profile functions.
#pragma once

#include "inistore.h"

class ProfileStore : public IniStore {
public:
    explicit ProfileStore(std::string path) : path_(std::move(path)) {}

    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) override;
    std::vector<Key> ReadSection(const std::string& section) override;
    void WriteString(const std::string& section, const std::string& key,
                     const std::string& value) override;
    void EraseSection(const std::string& section) override;

    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

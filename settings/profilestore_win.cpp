#include "profilestore_win.h"

#include "base/exception.h"
#include "base/paths.h"
#include "cusersettings.h"

#include <windows.h>

#include <vector>

namespace {

constexpr DWORD ValueBufferSize = 2048; // 2047 characters and the terminating zero
constexpr DWORD KeyNamesBufferSize = 16384;

} // namespace

std::string ProfileStore::ReadString(const std::string& section, const std::string& key,
                                     const std::string& defaultValue) {
    char buffer[ValueBufferSize];
    const DWORD length = ::GetPrivateProfileStringA(
        section.c_str(), key.c_str(), defaultValue.c_str(), buffer, ValueBufferSize, path_.c_str());
    return std::string(buffer, length);
}

std::vector<IniStore::Key> ProfileStore::ReadSection(const std::string& section) {
    // All key names at once: each ends with a zero, the list with one more. When the list
    // does not fit, the platform cuts the last name and still terminates the buffer.
    std::vector<char> names(KeyNamesBufferSize, '\0');
    const DWORD length = ::GetPrivateProfileStringA(section.c_str(), nullptr, "", names.data(),
                                                    KeyNamesBufferSize, path_.c_str());
    std::vector<Key> keys;
    size_t pos = 0;
    while (pos < length && pos < names.size() && names[pos] != '\0') {
        size_t end = pos;
        while (end < length && names[end] != '\0')
            ++end;
        std::string name(names.data() + pos, end - pos);
        keys.push_back({name, ReadString(section, name, "")});
        pos = end + 1;
    }
    return keys;
}

void ProfileStore::WriteString(const std::string& section, const std::string& key,
                               const std::string& value) {
    if (!::WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), path_.c_str()))
        throw Exception("Unable to write to " + path_);
}

void ProfileStore::EraseSection(const std::string& section) {
    if (!::WritePrivateProfileStringA(section.c_str(), nullptr, nullptr, path_.c_str()) &&
        ::GetFileAttributesA(path_.c_str()) != INVALID_FILE_ATTRIBUTES)
        throw Exception("Unable to write to " + path_);
}

bool CUserSettings::Load() {
    ProfileStore ini(IniPathFor(ProgramPath()));
    return Load(ini);
}

bool CUserSettings::Save() {
    ProfileStore ini(IniPathFor(ProgramPath()));
    return Save(ini);
}

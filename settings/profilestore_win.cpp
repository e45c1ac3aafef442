#include "profilestore_win.h"

#include "base/exception.h"
#include "base/paths_win.h"
#include "cusersettings.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace {

constexpr DWORD ValueBufferSize = 2048; // 2047 characters and the terminating zero
constexpr DWORD KeyNamesFirstSize = 16384;
// A section's key names beyond this are a damaged or hostile file, not a user's list.
constexpr DWORD KeyNamesMaxSize = 64u << 20;

// All key names of a section at once: each ends with a zero, the list with one more. When the
// list does not fit, the platform cuts the last name, terminates the buffer and returns its
// size less two; then the whole section is asked for again with a larger buffer, since a cut
// list would be saved back as the user's whole list.
std::vector<char> sectionKeyNames(const std::string& section, const std::string& path) {
    std::vector<char> names;
    for (DWORD size = KeyNamesFirstSize;; size *= 2) {
        names.assign(size, '\0');
        const DWORD length = ::GetPrivateProfileStringA(section.c_str(), nullptr, "", names.data(),
                                                        size, path.c_str());
        if (length + 2 < size || size >= KeyNamesMaxSize) {
            names.resize(std::min<DWORD>(length, size));
            return names;
        }
    }
}

} // namespace

std::string ProfileStore::ReadString(const std::string& section, const std::string& key,
                                     const std::string& defaultValue) {
    char buffer[ValueBufferSize];
    const DWORD length = ::GetPrivateProfileStringA(
        section.c_str(), key.c_str(), defaultValue.c_str(), buffer, ValueBufferSize, path_.c_str());
    return std::string(buffer, length);
}

std::vector<IniStore::Key> ProfileStore::ReadSection(const std::string& section) {
    const std::vector<char> names = sectionKeyNames(section, path_);
    std::vector<Key> keys;
    size_t pos = 0;
    while (pos < names.size() && names[pos] != '\0') {
        size_t end = pos;
        while (end < names.size() && names[end] != '\0')
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

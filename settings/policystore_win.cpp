#include "settings/policystore_win.h"

#include "base/handle_win.h"
#include "base/product.h"
#include "base/utf_win.h"
#include "settings/settingsrules.h"

#include <windows.h>

namespace {

using ScopedKey = ScopedHandle<NullHandleTraits<HKEY, ::RegCloseKey>>;

// Enough for MaxSettingText characters and the terminating null of a REG_SZ.
constexpr DWORD MaxDataBytes = (MaxSettingText + 1) * sizeof(wchar_t);

ScopedKey openKey(HKEY parent, const std::wstring& path) {
    HKEY key = nullptr;
    // The 64-bit view: where the policy's ADMX has the tools write, whoever reads.
    if (::RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return ScopedKey();
    return ScopedKey(key);
}

std::string typeName(DWORD type) {
    switch (type) {
    case REG_BINARY:
        return "REG_BINARY";
    case REG_MULTI_SZ:
        return "REG_MULTI_SZ";
    case REG_QWORD:
        return "REG_QWORD";
    default:
        return "type " + std::to_string(type);
    }
}

// The text of a REG_SZ's data: up to its first null, which the writer may have left out.
std::wstring wideText(const BYTE* data, DWORD size) {
    std::wstring text(reinterpret_cast<const wchar_t*>(data), size / sizeof(wchar_t));
    const std::size_t end = text.find(L'\0');
    return end == std::wstring::npos ? text : text.substr(0, end);
}

SettingsPolicy::Pairs readValues(HKEY key, const std::string& where, unsigned most,
                                 std::vector<std::string>& notes) {
    SettingsPolicy::Pairs values;
    std::wstring name(MaxSettingText + 1, L'\0');
    std::vector<BYTE> data(MaxDataBytes);
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        const LONG result = ::RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type,
                                            data.data(), &dataSize);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (values.size() >= most) {
            notes.push_back(where + " holds more than " + std::to_string(most) +
                            " values: the rest are ignored.");
            break;
        }
        if (result == ERROR_MORE_DATA) {
            // Which of the two did not fit is not said; the name may be too long to name.
            notes.push_back("A value of " + where + " is longer than " +
                            std::to_string(MaxSettingText) + " characters: it is ignored.");
            continue;
        }
        if (result != ERROR_SUCCESS) {
            notes.push_back(where + " could not be read to its end (error " +
                            std::to_string(result) + ").");
            break;
        }
        const std::string valueName = Narrow(std::wstring_view(name.data(), nameLength));
        if (type == REG_DWORD && dataSize == sizeof(DWORD)) {
            DWORD number = 0;
            memcpy(&number, data.data(), sizeof number);
            // Above the whole numbers the settings hold, a value is as large as they go.
            values.emplace_back(valueName, std::to_string(std::min<DWORD>(number, 0x7FFFFFFF)));
        } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
            values.emplace_back(valueName, Narrow(wideText(data.data(), dataSize)));
        } else {
            notes.push_back("The value " + valueName + " of " + where + " is " + typeName(type) +
                            ", which is not read: it is ignored.");
        }
    }
    return values;
}

std::optional<SettingsPolicy::Pairs> readList(HKEY key, const wchar_t* subkey, unsigned most,
                                              std::vector<std::string>& notes) {
    const ScopedKey list = openKey(key, subkey);
    if (!list)
        return std::nullopt;
    return readValues(list.Get(), "The policy's " + Narrow(subkey) + " key", most, notes);
}

} // namespace

std::wstring SettingsPolicyKey() {
    return L"SOFTWARE\\Policies\\" + Widen(ProductName);
}

SettingsPolicy ReadSettingsPolicy(std::vector<std::string>& notes) {
    SettingsPolicy policy;
    const ScopedKey key = openKey(HKEY_LOCAL_MACHINE, SettingsPolicyKey());
    if (!key)
        return policy;
    policy.Values = readValues(key.Get(), "The policy key", MaxPolicyValues, notes);
    policy.Urls = readList(key.Get(), L"URLS", MaxPolicyUrls, notes);
    policy.Webhooks = readList(key.Get(), L"Webhooks", MaxPolicyValues, notes);
    return policy;
}

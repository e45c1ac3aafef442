#include "profilestore_win.h"

#include "base/exception.h"
#include "base/handle_win.h"
#include "base/paths_win.h"
#include "base/product.h"
#include "base/utf_win.h"
#include "settings/policystore_win.h"

#include <sddl.h>
#include <wincrypt.h>

#include <algorithm>

namespace {

using ScopedFile = ScopedHandle<FileHandleTraits>;

std::string errorText(DWORD error) {
    return "error " + std::to_string(error);
}

bool writeAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 20));
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr) || written != chunk)
            return false;
        bytes.remove_prefix(chunk);
    }
    return true;
}

std::optional<std::string> fromBlob(const DATA_BLOB& blob) {
    std::string bytes(reinterpret_cast<const char*>(blob.pbData), blob.cbData);
    ::SecureZeroMemory(blob.pbData, blob.cbData);
    ::LocalFree(blob.pbData);
    return bytes;
}

using ScopedSecurityDescriptor = ScopedHandle<NullHandleTraits<PSECURITY_DESCRIPTOR, ::LocalFree>>;

ScopedSecurityDescriptor secretsDescriptor() {
    PSECURITY_DESCRIPTOR sd = nullptr;
    ::ConvertStringSecurityDescriptorToSecurityDescriptorW(FileOfSecretsSddl, SDDL_REVISION_1, &sd,
                                                           nullptr);
    return ScopedSecurityDescriptor(sd);
}

// A value of any key that the password's protection wrote.
bool holdsSecret(const IniDocument& doc) {
    const std::string_view marker = ProtectedPasswordMarker;
    for (const std::string& line : doc.Lines()) {
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const std::size_t value = line.find_first_not_of(" \t", equals + 1);
        if (value != std::string::npos && line.compare(value, marker.size(), marker) == 0)
            return true;
    }
    return false;
}

// The local clock as the maintenance windows read it: seconds since 1970-01-01 00:00 of that
// clock. A local time taken as a file time counts from 1601 without any zone.
std::int64_t localSeconds() {
    SYSTEMTIME local;
    ::GetLocalTime(&local);
    FILETIME asFileTime;
    if (!::SystemTimeToFileTime(&local, &asFileTime))
        return 0;
    const std::int64_t ticks = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(asFileTime.dwHighDateTime) << 32) | asFileTime.dwLowDateTime);
    return (ticks - 116444736000000000LL) / 10000000;
}

} // namespace

DWORD LimitToAdministrators(const std::string& path) {
    // Measured on Wine 8: SetFileSecurityW takes a protected list away from everyone else (as far
    // as its file modes can say it), where SetNamedSecurityInfoW changes nothing.
    const ScopedSecurityDescriptor sd = secretsDescriptor();
    if (!sd || !::SetFileSecurityW(Widen(path).c_str(),
                                   DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                   sd.Get()))
        return ::GetLastError();
    return 0;
}

PasswordCodec MachinePasswordCodec() {
    PasswordCodec codec;
    // Machine scope: the service's account writes the file, an administrator's session reads it.
    codec.Protect = [](const std::string& password) -> std::optional<std::string> {
        DATA_BLOB in{static_cast<DWORD>(password.size()),
                     reinterpret_cast<BYTE*>(const_cast<char*>(password.data()))};
        DATA_BLOB out{};
        if (!::CryptProtectData(&in, Widen(ProductName).c_str(), nullptr, nullptr, nullptr,
                                CRYPTPROTECT_LOCAL_MACHINE | CRYPTPROTECT_UI_FORBIDDEN, &out))
            return std::nullopt;
        return fromBlob(out);
    };
    codec.Unprotect = [](const std::string& blob) -> std::optional<std::string> {
        DATA_BLOB in{static_cast<DWORD>(blob.size()),
                     reinterpret_cast<BYTE*>(const_cast<char*>(blob.data()))};
        DATA_BLOB out{};
        if (!::CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr,
                                  CRYPTPROTECT_UI_FORBIDDEN, &out))
            return std::nullopt;
        return fromBlob(out);
    };
    return codec;
}

AnsiCodePage MachineAnsiCodePage() {
    AnsiCodePage ansi;
    ansi.ToUtf8 = [](std::string_view bytes) -> std::optional<std::string> {
        if (bytes.empty())
            return std::string();
        const int size = static_cast<int>(bytes.size());
        const int length =
            ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
        if (length <= 0)
            return std::nullopt;
        std::wstring wide(static_cast<size_t>(length), L'\0');
        ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(), size, wide.data(),
                              length);
        return Narrow(wide);
    };
    ansi.FromUtf8 = [](std::string_view text) -> std::optional<std::string> {
        if (text.empty())
            return std::string();
        const std::wstring wide = Widen(text);
        const int size = static_cast<int>(wide.size());
        BOOL lossy = FALSE;
        const int length = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size,
                                                 nullptr, 0, nullptr, &lossy);
        if (length <= 0 || lossy)
            return std::nullopt;
        std::string bytes(static_cast<size_t>(length), '\0');
        ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, bytes.data(), length,
                              nullptr, nullptr);
        return bytes;
    };
    return ansi;
}

SettingsFile::ReadResult SettingsFile::read(IniDocument& doc, std::string& error) const {
    // Shared for reading and writing: an editor that has the file open does not stop the read.
    ScopedFile file(::CreateFileW(Widen(path_).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
            doc = IniDocument();
            return ReadResult::Missing;
        }
        error = "it cannot be opened (" + errorText(code) + ")";
        return ReadResult::Unreadable;
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.Get(), &size) ||
        static_cast<unsigned long long>(size.QuadPart) > MaxIniFileSize) {
        error = "it is larger than " + std::to_string(MaxIniFileSize >> 20) + " MiB";
        return ReadResult::Unreadable;
    }
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!bytes.empty() &&
        (!::ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) ||
         got != bytes.size())) {
        error = "it cannot be read (" + errorText(::GetLastError()) + ")";
        return ReadResult::Unreadable;
    }
    std::optional<IniDocument> parsed = IniDocument::FromBytes(bytes, MachineAnsiCodePage(), error);
    if (!parsed)
        return ReadResult::Unreadable;
    doc = std::move(*parsed);
    return ReadResult::Read;
}

bool SettingsFile::PolicyChanged() const {
    std::vector<std::string> ignored;
    return ReadSettingsPolicy(ignored) != policy_;
}

bool SettingsFile::Load(CUserSettings& settings) {
    IniDocument doc;
    std::string error;
    // Read afresh with every load: group policy may have changed it since.
    std::vector<std::string> policyNotes;
    policy_ = ReadSettingsPolicy(policyNotes);
    if (read(doc, error) == ReadResult::Unreadable) {
        unread_ = true;
        problem_ = "The settings file " + path_ + " exists but cannot be read: " + error +
                   ". It is not written over until it has been read.";
        // Running on nothing at all would switch the schedule off, and with it the next try.
        if (!loaded_) {
            std::vector<std::string> ignored;
            settings.Load(IniDocument(), MachinePasswordCodec(), ignored, policy_);
        }
        return false;
    }
    notes_ = std::move(policyNotes);
    settings.Load(doc, MachinePasswordCodec(), notes_, policy_);
    // A file written before its rights were narrowed, or by hand, is narrowed at start.
    if (holdsSecret(doc)) {
        if (const DWORD code = LimitToAdministrators(path_))
            notes_.push_back("The settings file " + path_ +
                             " holds a protected password but could not be limited to SYSTEM and "
                             "Administrators (" +
                             errorText(code) + ")");
    }
    loaded_ = true;
    unread_ = false;
    problem_.clear();
    return true;
}

void SettingsFile::Save(const CUserSettings& settings) const {
    if (unread_)
        throw Exception("Unable to write to " + path_ +
                        ": it could not be read, and is not written over until it has been.");
    const Exception failure("Unable to write to " + path_);
    IniDocument doc;
    std::string error;
    if (read(doc, error) == ReadResult::Unreadable)
        throw failure;
    settings.Save(doc, MachinePasswordCodec(), localSeconds());
    const std::string bytes = doc.ToBytes(MachineAnsiCodePage());

    const std::wstring target = Widen(path_);
    const std::wstring temporary = Widen(path_ + ".new");
    // The password is never readable by everyone, not even for the moment between the write
    // and the narrowing: the temporary file is born with the narrow rights.
    const bool secret = holdsSecret(doc);
    const ScopedSecurityDescriptor narrow =
        secret ? secretsDescriptor() : ScopedSecurityDescriptor();
    SECURITY_ATTRIBUTES sa = {sizeof sa, narrow.Get(), FALSE};
    bool written = !secret || narrow;
    if (written) {
        ScopedFile file(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, secret ? &sa : nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        written = file &&
                  (WriteBytes ? WriteBytes(file.Get(), bytes) : writeAll(file.Get(), bytes)) &&
                  ::FlushFileBuffers(file.Get());
    }
    // The old file goes only in the step that puts the new one in its place. Replacing keeps
    // the old file's access list, which may have been narrowed for the password's sake.
    if (written)
        written = ::GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES
                      ? ::ReplaceFileW(target.c_str(), temporary.c_str(), nullptr,
                                       REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0
                      : ::MoveFileExW(temporary.c_str(), target.c_str(),
                                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!written) {
        ::DeleteFileW(temporary.c_str());
        throw failure;
    }
    // Replacing keeps the old file's list; one that was never narrowed is narrowed now.
    if (secret && LimitToAdministrators(path_) != 0)
        throw Exception("Unable to write to " + path_ +
                        ": its rights could not be limited to SYSTEM and Administrators.");
}

SettingsFile& ProgramSettingsFile() {
    static SettingsFile file(IniPathFor(ProgramPath()));
    return file;
}

bool CUserSettings::Load() {
    return ProgramSettingsFile().Load(*this);
}

bool CUserSettings::Save() const {
    ProgramSettingsFile().Save(*this);
    return true;
}

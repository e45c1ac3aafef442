// The settings file on disk: read whole, written whole once, never left half written and never
// written over when it could not be read.
#pragma once

#include "settings/cusersettings.h"
#include "settings/inidocument.h"
#include "settings/policy.h"

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The password protected for this machine (any account on it can unprotect it, so that the
// service and an administrator's dialog read what the other wrote). Machine scope holds against
// nobody who may read the file, so a file that holds such a value is given to SYSTEM and
// Administrators only: FileOfSecretsSddl, a protected list that inherits nothing from the folder.
PasswordCodec MachinePasswordCodec();
AnsiCodePage MachineAnsiCodePage();

inline constexpr const wchar_t* FileOfSecretsSddl = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)";
// Puts FileOfSecretsSddl on the file; 0 or the error.
DWORD LimitToAdministrators(const std::string& path);

class SettingsFile {
public:
    explicit SettingsFile(std::string path) : path_(std::move(path)) {}

    // The record from the file; defaults when the file is missing. False when it exists but
    // cannot be read: the record is left as it was (defaults if it was never loaded), Problem()
    // says why, and Save refuses until a Load reads it.
    bool Load(CUserSettings& settings);
    // Reads the file afresh (what a person added by hand stays), sets the record's keys, writes
    // the whole text to a temporary file beside it, flushes it and puts it in place in one step.
    // Raises Exception "Unable to write to <path>" when anything fails; the old file stays.
    // A file that holds a protected value is born with FileOfSecretsSddl and keeps it; Load
    // puts it on such a file too (a note says when it cannot).
    void Save(const CUserSettings& settings) const;

    // Whether the policy key holds other values now than at the last Load: reads the key only,
    // so that it may be asked before every check.
    bool PolicyChanged() const;

    bool Unread() const { return unread_; }
    const std::string& Problem() const { return problem_; }
    // A line per value of the last Load that had to change.
    const std::vector<std::string>& Notes() const { return notes_; }
    const std::string& Path() const { return path_; }

    // Writes the bytes to the temporary file; a test puts a failing stand-in here.
    std::function<bool(HANDLE file, std::string_view bytes)> WriteBytes;

private:
    enum class ReadResult { Read, Missing, Unreadable };
    ReadResult read(IniDocument& doc, std::string& error) const;

    std::string path_;
    bool loaded_ = false;
    bool unread_ = false;
    std::string problem_;
    std::vector<std::string> notes_;
    SettingsPolicy policy_;
};

// The file beside the program, which CUserSettings::Load() and Save() use.
SettingsFile& ProgramSettingsFile();

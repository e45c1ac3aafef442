// Vigrel.exe: the monitor, always a service program with a hidden main form.
#include "app/mainserv_win.h"
#include "base/exception.h"
#include "base/handle_win.h"
#include "base/paths_win.h"
#include "base/utf_win.h"
#include "settings/cusersettings.h"
#include "settings/inidocument.h"
#include "settings/inivalues.h"
#include "settings/profilestore_win.h"

#include <windows.h>

#include <cwchar>
#include <map>

namespace {

// A list of sites larger than this is no list a person keeps.
constexpr DWORD MaxSitesFileSize = 1u << 20;

// "NAME=value" after "/seed-ini", separated by blanks; one in double quotes runs to the next
// quote, nothing escaped, as the package writes them: a folder's trailing backslash before the
// closing quote stays a backslash. None of the values (names, addresses, paths) holds a quote.
std::map<std::string, std::string> seedValues(const wchar_t* rest) {
    std::map<std::string, std::string> values;
    while (*rest) {
        if (*rest == L' ' || *rest == L'\t') {
            ++rest;
            continue;
        }
        const bool quoted = *rest == L'"';
        rest += quoted;
        const wchar_t* end = rest;
        while (*end && (quoted ? *end != L'"' : *end != L' ' && *end != L'\t'))
            ++end;
        if (quoted && !*end)
            throw Exception("A value of /seed-ini has no closing quote.");
        const std::string item = Narrow(std::wstring_view(rest, end - rest));
        rest = end + quoted;
        const size_t equals = item.find('=');
        if (equals == std::string::npos)
            throw Exception("/seed-ini takes NAME=value, not " + item + ".");
        values[item.substr(0, equals)] = item.substr(equals + 1);
    }
    return values;
}

void addSites(CUserSettings& settings, const std::string& path) {
    const auto fail = [&](const std::string& why) {
        throw Exception("The list of sites " + path + " " + why + ".");
    };
    ScopedKernelHandle file(::CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (file.Get() == INVALID_HANDLE_VALUE || !::GetFileSizeEx(file.Get(), &size))
        fail("cannot be read: " + SysErrorMessage(::GetLastError()));
    if (size.QuadPart > MaxSitesFileSize)
        fail("is larger than 1 MiB");
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() &&
        (!::ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
         read != bytes.size()))
        fail("cannot be read: " + SysErrorMessage(::GetLastError()));
    // Decoded as the settings file is: UTF-8 or UTF-16 by their marks, else the ANSI code page.
    std::string error;
    const std::optional<IniDocument> text =
        IniDocument::FromBytes(bytes, MachineAnsiCodePage(), error);
    if (!text)
        fail("cannot be decoded: " + error);
    for (const std::string& line : text->Lines()) {
        const std::string entry = TrimUrl(line);
        if (entry.empty() || entry[0] == ';' || entry[0] == '#')
            continue;
        const UrlEntry site = ReadUrlEntry(entry);
        settings.AddUrl(site.Url);
        settings.SetChecks(site.Url, site.Checks);
    }
}

// Vigrel.exe /seed-ini "BENCHMARK=..." "SITESFILE=..." ...: the package's first settings, put
// into the settings file it has just laid beside the program (the package runs this only when
// there was no settings file before). An empty value leaves its key as the sample has it; mail
// goes out once a server and a recipient are given. 0 when done; otherwise 1,
// and the reason in the Application log, so that the installation fails where it can be read.
int seedIni(const wchar_t* rest) {
    try {
        const std::map<std::string, std::string> given = seedValues(rest);
        CUserSettings settings;
        if (!settings.Load())
            throw Exception(ProgramSettingsFile().Problem());
        for (const auto& [name, value] : given) {
            if (value.empty())
                continue;
            if (name == "BENCHMARK")
                settings.Benchmark = value;
            else if (name == "TEXTFILEDIR")
                settings.TextfileDir = value;
            else if (name == "SITESFILE")
                addSites(settings, value);
            else if (name == "MAILSERVER")
                settings.Server = value;
            else if (name == "MAILPORT" && !SettingsNumber(value))
                throw Exception("MAILPORT=" + value + " is no number.");
            else if (name == "MAILPORT")
                settings.Port = *SettingsNumber(value);
            else if (name == "MAILFROM")
                settings.From = value;
            else if (name == "MAILTO")
                settings.To = value;
            else
                throw Exception("/seed-ini does not take " + name + "=" + value + ".");
        }
        settings.Active = !settings.Server.empty() && !settings.To.empty();
        settings.Save();
        return 0;
    } catch (const std::exception& e) {
        ProgramEvents().LogMessage(std::string("The first settings were not written: ") + e.what());
        return 1;
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const wchar_t* rest = CommandLineArguments();
    while (*rest == L' ' || *rest == L'\t')
        ++rest;
    // Written with "/" or "-", in any case, as the other switches.
    constexpr wchar_t seed[] = L"seed-ini";
    constexpr size_t seedLength = sizeof seed / sizeof *seed - 1;
    if ((*rest == L'/' || *rest == L'-') && _wcsnicmp(rest + 1, seed, seedLength) == 0) {
        const wchar_t* after = rest + 1 + seedLength;
        if (*after == 0 || *after == L' ' || *after == L'\t')
            return seedIni(after);
    }
    return VigrelMain();
}

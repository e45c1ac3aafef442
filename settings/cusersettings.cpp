#include "cusersettings.h"

#include "base/paths.h"
#include "inistore.h"
#include "inivalues.h"

CUserSettings UserSettings;

const char* const DefaultBenchmark = "www.wikipedia.org";

namespace {

const char* const General = "General";
const char* const Log = "Log";
const char* const Smtp = "SMTP";
const char* const Urls = "URLS";

std::int32_t readInt(IniStore& ini, const char* section, const char* key, std::int32_t def) {
    return IniToInt(ini.ReadString(section, key, ""), def);
}

bool readBool(IniStore& ini, const char* section, const char* key, bool def) {
    return IniToBool(ini.ReadString(section, key, ""), def);
}

} // namespace

std::string IniPathFor(const std::string& programPath) {
    return ChangeFileExt(programPath, ".INI");
}

bool CUserSettings::Load(IniStore& ini) {
    Benchmark = ini.ReadString(General, "Benchmark", DefaultBenchmark);
    StartOnStartup = readBool(ini, General, "StartOnStartup", true);
    TimeSpan = readInt(ini, General, "TimeSpan", 15);
    TimeOut = readInt(ini, General, "TimeOut", 500);
    Filter = readInt(ini, Log, "Filter", 0);
    LogDays = readInt(ini, Log, "Days", 90);
    To = ini.ReadString(Smtp, "To", "");
    From = ini.ReadString(Smtp, "From", "");
    Active = readBool(ini, Smtp, "Active", false);
    Server = ini.ReadString(Smtp, "Server", "");
    Port = readInt(ini, Smtp, "Port", 25);
    UserID = ini.ReadString(Smtp, "UserID", "");
    Pass = ini.ReadString(Smtp, "Pass", "");
    Security = readInt(ini, Smtp, "Security", SecurityNone);
    Notify = readInt(ini, Smtp, "Notify", NotifyEveryCycle);

    URLList.Clear();
    for (const IniStore::Key& key : ini.ReadSection(Urls))
        AddUrl(UrlFromKeyLine(key.name, key.value));
    return true;
}

bool CUserSettings::Save(IniStore& ini) {
    ini.WriteString(General, "Benchmark", Benchmark);
    ini.WriteString(General, "StartOnStartup", BoolToIni(StartOnStartup));
    ini.WriteString(General, "TimeSpan", IntToIni(TimeSpan));
    ini.WriteString(General, "TimeOut", IntToIni(TimeOut));
    ini.WriteString(Log, "Filter", IntToIni(Filter));
    ini.WriteString(Log, "Days", IntToIni(LogDays));
    ini.WriteString(Smtp, "To", To);
    ini.WriteString(Smtp, "From", From);
    ini.WriteString(Smtp, "Active", BoolToIni(Active));
    ini.WriteString(Smtp, "Server", Server);
    ini.WriteString(Smtp, "Port", IntToIni(Port));
    ini.WriteString(Smtp, "UserID", UserID);
    ini.WriteString(Smtp, "Pass", Pass);
    ini.WriteString(Smtp, "Security", IntToIni(Security));
    ini.WriteString(Smtp, "Notify", IntToIni(Notify));

    ini.EraseSection(Urls);
    for (int i = 0; i < URLList.Count(); ++i) {
        const UrlKeyLine line = UrlToKeyLine(TrimUrl(URLList[i]));
        if (!line.key.empty()) // an empty key cannot stand in the file
            ini.WriteString(Urls, line.key, line.value);
    }
    return true;
}

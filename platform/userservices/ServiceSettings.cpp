// The table of the services' keys and the parsers its rows name.
#include "platform/userservices/ServiceSettings.h"

#include "framework/OvString.h"
#include "platform/directory/Names.h"
#include "services/OvCommFramework.h"

namespace ovdir {
namespace {

// One key of the services' sections: its section and name, and what takes
// its value (parses it and puts it where it goes; warns about it with the
// parameter file named as given in the directory's settings).
struct SettingRow {
    const char* section;
    const char* key;
    void (*take)(const SettingRow& row, const std::string& value, ServiceConfiguration& into);
};

template <std::string DirectorySettings::*Member>
void Text(const SettingRow&, const std::string& value, ServiceConfiguration& into)
{
    into.directory.*Member = value;
}

void SessionsFile(const SettingRow&, const std::string& value, ServiceConfiguration& into)
{
    into.sessionsFile = value;
}

// yes, true or 1 (ignoring case); anything else is no.
template <bool DirectorySettings::*Member>
void Flag(const SettingRow&, const std::string& value, ServiceConfiguration& into)
{
    into.directory.*Member =
        EqualsIgnoringCase(value, "yes") || EqualsIgnoringCase(value, "true") || value == "1";
}

// A limit: its value when it is one, else the default with a warning record
// naming what was given.
template <std::size_t DirectorySettings::*Member>
void Limit(const SettingRow& row, const std::string& value, ServiceConfiguration& into)
{
    std::size_t& limit = into.directory.*Member;
    if (ParseLimit(value, limit)) return;
    // The value as given, kept to one short line.
    std::string shown = value.substr(0, 40);
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) c = '?';
    ReportServiceFault(kWarningBadLimit, into.directory.source, 0,
                       std::string(row.key) + "=" + shown +
                           " is not a number from 1 to 999999999999; the default " +
                           std::to_string(limit) + " holds");
}

// The service account's password as given in the parameter file; one that
// other users may read is taken, with a warning record.
void Password(const SettingRow&, const std::string& value, ServiceConfiguration& into)
{
    if (value.empty()) return;
    into.directory.bindPassword = value;
    if (ReadableByOthers(into.directory.source))
        ReportServiceFault(kWarningPasswordReadable, into.directory.source, 0,
                           "BindPassword is in a file that other users can read; "
                           "BindPasswordFile can name a file of its own");
}

// The file of the service account's password, which wins over BindPassword;
// one that other users may read or put another file in the place of is
// taken, with a warning record.
void PasswordFile(const SettingRow&, const std::string& value, ServiceConfiguration& into)
{
    if (value.empty()) return;
    DirectorySettings& settings = into.directory;
    std::string reason;
    if (!ReadSecretFile(value, settings.bindPassword, reason)) {
        settings.bindPassword.clear();
        settings.passwordUnreadable = true;
        ReportServiceFault(kStatusPasswordFileUnreadable, value, 0, reason);
    } else if (ReadableByOthers(value)) {
        ReportServiceFault(kWarningPasswordFileExposed, value, 0,
                           "BindPasswordFile is a file that other users can read");
    } else if (ReplaceableByOthers(value)) {
        ReportServiceFault(kWarningPasswordFileExposed, value, 0,
                           "BindPasswordFile is in a folder where other users can put "
                           "a file of theirs in its place");
    }
}

// Every key the services read, in the order they are taken: BindPasswordFile
// after BindPassword, so that the file wins. Adding a setting is adding a row
// (and its item in the manual page's CONFIGURATION).
const SettingRow kServiceKeys[] = {
    {"UserService", "Directory", Text<&DirectorySettings::directory>},
    {"UserService", "Replicas", Text<&DirectorySettings::replicas>},
    {"UserService", "BindDN", Text<&DirectorySettings::bindDn>},
    {"UserService", "BindPassword", Password},
    {"UserService", "BindPasswordFile", PasswordFile},
    {"UserService", "StartTLS", Flag<&DirectorySettings::startTls>},
    {"UserService", "TLSCACertFile", Text<&DirectorySettings::caCertFile>},
    {"UserService", "MaxEntries", Limit<&DirectorySettings::maxEntries>},
    {"UserService", "MaxGroupSearches", Limit<&DirectorySettings::maxGroupSearches>},
    {"TransIdService", "Sessions", SessionsFile},
};

// Warnings about the parameter file itself: one that other users may write
// can send the service account to a server of theirs, and one that was there
// but not read leaves every setting at its default.
void CheckParameterFile(const OvServiceSettings& ini)
{
    if (!ini.unreadReason.empty())
        ReportServiceFault(
            kWarningParameterFileUnread, ini.Source(), 0,
            "the file was not read: " + ini.unreadReason + "; the services use their defaults");
    else if (!ini.Source().empty() && WritableByOthers(ini.Source()))
        ReportServiceFault(kWarningParameterFileWritable, ini.Source(), 0,
                           "other users can write the file, and so choose the servers that "
                           "receive the service account");
}

}  // namespace

bool ParseLimit(const std::string& text, std::size_t& limit)
{
    if (text.empty() || text.size() > 12 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long long value = std::stoull(text);
    if (value == 0) return false;
    limit = static_cast<std::size_t>(value);
    return true;
}

ServiceConfiguration ReadServiceConfiguration(const OvServiceSettings& ini)
{
    CheckParameterFile(ini);
    ServiceConfiguration configuration;
    configuration.directory.source = ini.Source();
    std::string value;
    for (std::size_t i = 0; i < sizeof kServiceKeys / sizeof kServiceKeys[0]; ++i) {
        if (ini.FindSetting(kServiceKeys[i].section, kServiceKeys[i].key, value))
            kServiceKeys[i].take(kServiceKeys[i], value, configuration);
        OvWipe(value);
    }
    return configuration;
}

}  // namespace ovdir

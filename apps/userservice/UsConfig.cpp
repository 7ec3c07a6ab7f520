// userservice config (UsCheck.h).
#include <string_view>

#include "apps/userservice/UsCheck.h"
#include "apps/userservice/UsOutput.h"
#include "config/OvServiceSettingsFile.h"
#include "platform/directory/Names.h"
#include "services/OvCommFramework.h"

namespace {

// Keys whose value is a secret: a password, never a password file's name.
bool IsSecretKey(std::string_view key)
{
    const std::string folded = ovdir::FoldCase(key);
    const bool password = folded.find("password") != std::string::npos;
    const bool file = folded.size() >= 4 && folded.compare(folded.size() - 4, 4, "file") == 0;
    return password && !file;
}

}  // namespace

int UsPrintConfig(const std::string& file, std::ostream& out)
{
    out << "file\t"
        << (file.empty() ? std::string("(none: the built-in sample directory)") : OvPrintable(file))
        << '\n';
    // The network time-outs userservice runs with (the communication
    // framework's defaults).
    const OvCommParameters comm;
    out << "timeouts\tconnect " << comm.connectionTimeout << " ms, answer " << comm.methodTimeout
        << " s\n";
    if (file.empty()) return kUsSuccess;
    const OvServiceSettings settings = ReadServiceSettings(file);
    if (!settings.unreadReason.empty())
        out << "unread\t" << OvPrintable(settings.unreadReason) << '\n';
    for (const auto& [section, key] : settings.Keys()) {
        std::string value;
        settings.FindSetting(section, key, value);
        const std::string shown = IsSecretKey(key) ? std::string("(set)") : OvPrintable(value);
        out << '[' << OvPrintable(section) << "] " << OvPrintable(key) << " = " << shown << '\n';
        OvWipe(value);
    }
    return kUsSuccess;
}

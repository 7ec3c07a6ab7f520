// userservice check (UsCheck.h).
#include "apps/userservice/UsCheck.h"

#include <vector>

#include "apps/userservice/UsOutput.h"
#include "apps/userservice/UsSession.h"
#include "config/OvServiceSettingsFile.h"
#include "platform/ldapclient/LdapCheck.h"
#include "platform/userservices/ServiceSettings.h"

namespace {

int Worse(int a, int b)
{
    if (a == kUsSuccess) return b;
    if (b == kUsSuccess) return a;
    return a > b ? a : b;
}

// The directory as the services see it: its domains listed.
int CheckThroughService(UsSession& session, const std::string& what, std::ostream& out)
{
    std::vector<OvWString> domains;
    const unsigned status = session.UserService()->GetDomains(makeWideString("LDAP"), domains);
    if (status != 0) {
        out << "fail\t" << OvPrintable(what) << ": " << UsStatusText(status) << '\n';
        return UsExitForStatus(status);
    }
    out << "ok\t" << OvPrintable(what) << ": loaded, " << domains.size() << " domain"
        << (domains.size() == 1 ? "" : "s") << '\n';
    return kUsSuccess;
}

}  // namespace

int UsCheck(UsSession& session, std::ostream& out)
{
    const std::string file = session.ConfigFile();
    out << "ok\tsettings: "
        << (file.empty() ? std::string("none, the built-in sample directory") : OvPrintable(file))
        << '\n';
    const OvServiceSettings settings =
        file.empty() ? OvServiceSettings() : ReadServiceSettings(file);
    if (!settings.unreadReason.empty()) {
        out << "fail\tsettings: not read: " << OvPrintable(settings.unreadReason) << '\n';
        return kUsUsage;
    }
    std::string directory;
    settings.FindSetting("UserService", "Directory", directory);
    if (directory.find("://") == std::string::npos) {
        return CheckThroughService(
            session, directory.empty() ? "built-in sample directory" : "LDIF file " + directory,
            out);
    }
    // Read as the services read them, warnings and the password file included.
    const ovdir::ServiceConfiguration configuration = ovdir::ReadServiceConfiguration(settings);
    std::vector<ovdir::ldap::CheckVerdict> verdicts =
        ovdir::ldap::CheckServers(configuration.directory);
    int rc = kUsSuccess;
    for (const ovdir::ldap::CheckVerdict& verdict : verdicts) {
        out << (verdict.status == 0 ? "ok\t" : "fail\t") << OvPrintable(verdict.text) << '\n';
        rc = Worse(rc, verdict.status == 0 ? kUsSuccess : UsExitForStatus(verdict.status));
    }
    return rc;
}

// The whole entry of a user or group, as an administrator inspects it: every
// attribute the directory gives, secrets left out.
#include <algorithm>
#include <array>
#include <memory>
#include <string_view>

#include "framework/OvString.h"
#include "platform/userservices/UserService.h"

namespace ovdir {
namespace {

// Attributes that hold a password, a hash of one or a key made from one.
// The directory may let the service account read them; no caller gets them.
constexpr std::array<std::string_view, 14> kSecretAttributes = {
    "userpassword",         "unicodepwd",         "dbcspwd",
    "ntpwdhistory",         "lmpwdhistory",       "supplementalcredentials",
    "authpassword",         "sambantpassword",    "sambalmpassword",
    "sambapasswordhistory", "krbprincipalkey",    "msds-managedpassword",
    "initialauthincoming",  "initialauthoutgoing"};

bool IsSecret(std::string_view name)
{
    return std::find(kSecretAttributes.begin(), kSecretAttributes.end(), name) !=
           kSecretAttributes.end();
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view start)
{
    return text.size() >= start.size() && EqualsIgnoringCase(text.substr(0, start.size()), start);
}

}  // namespace

unsigned UserService::GetEntry(const OvWString& name, OvWString& dn,
                               std::vector<OvEntryAttribute>& attributes)
{
    dn.clear();
    attributes.clear();
    const std::string& text = name.utf8();
    Entry entry;
    unsigned status = 0;
    bool whole = false;
    if (StartsWithIgnoringCase(text, "default://")) {
        status = UserFromDomainLogin(name, entry);
    } else if (text.find("://") != std::string::npos) {
        // Any entry an FQDN or context names: a container is shown as well.
        Context where;
        status = Resolve(name, Kind::Any, {"*"}, entry, where);
        whole = true;
    } else {
        Login login;
        status = ParsePlainLogin(text, login);
        std::vector<Dn> domains(1);
        if (status == 0 && login.domain.empty()) status = Domains(domains);
        if (status == 0 && !login.domain.empty())
            status = DomainByShortName(login.domain, domains[0]);
        if (status == 0) status = FindUser(domains, LoginFilter(login.login), login.login, entry);
    }
    if (status != 0) return status;
    if (!whole) {
        // Found by login, with the few attributes a login is read with: the
        // entry again, whole.
        SearchRequest request;
        request.base = entry.dn;
        request.scope = Scope::Base;
        request.attributes = {"*"};
        std::vector<Entry> found;
        if ((status = directory_.Search(request, found)) != 0) return status;
        if (found.size() != 1) return kStatusNoSuchEntry;
        entry = std::move(found.front());
    }
    dn = OvWString::FromUtf8(std::string(entry.dn));
    for (auto& [attribute, values] : entry.attributes) {
        if (IsSecret(attribute)) {
            // Read along with "*": wiped here, never handed on.
            for (std::string& value : values) OvWipe(value);
            continue;
        }
        attributes.push_back({attribute, std::move(values)});
    }
    return 0;
}

}  // namespace ovdir

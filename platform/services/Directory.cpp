// The directory contract's helpers, the settings that choose a backend, and
// the process's one directory.
#include "platform/services/Directory.h"

#include "framework/OvApplication.h"
#include "platform/services/EmbeddedDirectory.h"
#include "platform/services/IniSettings.h"
#include "platform/services/Names.h"
#include "platform/services/SampleData.h"
#include "services/OvCommFramework.h"

namespace ovdir {

Directory::~Directory() = default;

void ReportServiceFault(unsigned status, const std::string& location, int line,
                        const std::string& message)
{
    if (!OvApplication::Exists()) return;
    OvApplication::Itself().GetErrorStream(status, kServicesModuleId, location.c_str(), line, -1)
        << message << ::ends;
}

const std::vector<std::string>* Entry::Find(std::string_view name) const
{
    for (const auto& attribute : attributes)
        if (attribute.first == name) return &attribute.second;
    return nullptr;
}

std::string Entry::First(std::string_view name) const
{
    const std::vector<std::string>* values = Find(name);
    return values == nullptr || values->empty() ? std::string() : values->front();
}

bool Entry::HasValue(std::string_view name, std::string_view value) const
{
    if (const std::vector<std::string>* values = Find(name))
        for (const std::string& stored : *values)
            if (EqualsIgnoringCase(stored, value)) return true;
    return false;
}

bool Entry::IsA(std::string_view objectClass) const
{
    if (const std::vector<std::string>* values = Find("objectclass"))
        for (const std::string& stored : *values)
            if (ClassIsA(stored, objectClass)) return true;
    return false;
}

bool ClassIsA(std::string_view stored, std::string_view wanted)
{
    // Each class with its superior; only the chains that the services ask about.
    static const std::pair<std::string_view, std::string_view> kSuperiors[] = {
        {"organizationalPerson", "person"}, {"residentialPerson", "person"},
        {"inetOrgPerson", "organizationalPerson"}, {"user", "organizationalPerson"},
        {"computer", "device"},
    };
    for (int depth = 0; depth < 8; ++depth) {
        if (EqualsIgnoringCase(stored, wanted)) return true;
        std::string_view superior;
        for (const auto& [cls, sup] : kSuperiors)
            if (EqualsIgnoringCase(stored, cls)) superior = sup;
        if (superior.empty()) return false;
        stored = superior;
    }
    return false;
}

Filter Filter::And(std::vector<Filter> children)
{
    Filter filter;
    filter.kind = Kind::And;
    filter.children = std::move(children);
    return filter;
}

Filter Filter::Or(std::vector<Filter> children)
{
    Filter filter;
    filter.kind = Kind::Or;
    filter.children = std::move(children);
    return filter;
}

Filter Filter::Not(Filter child)
{
    Filter filter;
    filter.kind = Kind::Not;
    filter.children.push_back(std::move(child));
    return filter;
}

Filter Filter::Equals(std::string attribute, std::string value)
{
    Filter filter;
    filter.kind = Kind::Equals;
    filter.attribute = std::move(attribute);
    filter.value = std::move(value);
    return filter;
}

Filter Filter::Contains(std::string attribute, std::string value)
{
    Filter filter;
    filter.kind = Kind::Contains;
    filter.attribute = std::move(attribute);
    filter.value = std::move(value);
    return filter;
}

Filter Filter::Present(std::string attribute)
{
    Filter filter;
    filter.kind = Kind::Present;
    filter.attribute = std::move(attribute);
    return filter;
}

Filter DomainFilter()
{
    return Filter::Or(
        {Filter::Equals("objectclass", "domain"), Filter::Equals("objectclass", "dcObject")});
}

std::size_t ParseEntryLimit(const std::string& text)
{
    // Digits only, at least 1; anything else keeps the default.
    if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos)
        return kDefaultMaxEntries;
    const unsigned long long limit = std::stoull(text);
    return limit == 0 ? kDefaultMaxEntries : static_cast<std::size_t>(limit);
}

DirectorySettings ReadDirectorySettings()
{
    DirectorySettings settings;
    std::string value;
    if (ReadIniSetting(kParameterFile, "UserService", "Directory", value))
        settings.directory = value;
    if (ReadIniSetting(kParameterFile, "UserService", "BindDN", value)) settings.bindDn = value;
    if (ReadIniSetting(kParameterFile, "UserService", "BindPassword", value))
        settings.bindPassword = value;
    if (ReadIniSetting(kParameterFile, "UserService", "StartTLS", value))
        settings.startTls =
            EqualsIgnoringCase(value, "yes") || EqualsIgnoringCase(value, "true") || value == "1";
    if (ReadIniSetting(kParameterFile, "UserService", "TLSCACertFile", value))
        settings.caCertFile = value;
    if (ReadIniSetting(kParameterFile, "UserService", "MaxEntries", value))
        settings.maxEntries = ParseEntryLimit(value);
    OvWipe(value);
    return settings;
}

namespace {

std::unique_ptr<Directory> OpenDirectory(const DirectorySettings& settings)
{
    const std::string& where = settings.directory;
    if (where.empty())
        return EmbeddedDirectory::FromText(SampleDirectoryLdif(), "sample directory");
    const std::string scheme = FoldCase(where.substr(0, where.find("://") + 3));
    if (scheme == "ldap://" || scheme == "ldaps://") return MakeLdapDirectory(settings);
    return EmbeddedDirectory::FromFile(where);
}

}  // namespace

Directory& ConfiguredDirectory()
{
    // Opened once and kept to process exit: services answer calls made from
    // static destructors too.
    static Directory* directory = [] {
        DirectorySettings settings = ReadDirectorySettings();
        Directory* opened = OpenDirectory(settings).release();
        OvWipe(settings.bindPassword);
        return opened;
    }();
    return *directory;
}

}  // namespace ovdir

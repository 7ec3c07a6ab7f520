// The directory contract's helpers, and the directory its settings choose.
#include "platform/directory/Directory.h"

#include "framework/OvApplication.h"
#include "platform/directory/Names.h"
#include "platform/embedded/EmbeddedDirectory.h"
#include "platform/embedded/SampleData.h"
#include "services/OvCommFramework.h"

namespace ovdir {

Directory::~Directory() = default;

ExplicitDomainSource::~ExplicitDomainSource() = default;

EntryVisitor::~EntryVisitor() = default;

unsigned Directory::SearchEach(const SearchRequest& request, EntryVisitor& visitor)
{
    std::vector<Entry> found;
    const unsigned status = Search(request, found);
    if (status != 0) return status;
    for (Entry& entry : found) visitor.Visit(entry);
    return 0;
}

namespace {

// Gathers a streamed answer; a restart drops what came before it.
class Gatherer final : public EntryVisitor {
public:
    explicit Gatherer(std::vector<Entry>& out) : out_(out) {}
    void Visit(Entry& entry) override { out_.push_back(std::move(entry)); }
    void Restart() override { out_.clear(); }

private:
    std::vector<Entry>& out_;
};

}  // namespace

unsigned Directory::GatherEach(const SearchRequest& request, std::vector<Entry>& out)
{
    out.clear();
    Gatherer gatherer(out);
    const unsigned status = SearchEach(request, gatherer);
    // Nothing of a failed answer stays behind, and its memory goes back.
    if (status != 0) std::vector<Entry>().swap(out);
    return status;
}

std::shared_ptr<const ClassChains> Directory::Classes(const std::string& /*server*/)
{
    return ClassChains::Standard();
}

unsigned Directory::QuickNamingContexts(std::vector<std::string>& out, unsigned /*timeLimitMs*/)
{
    return NamingContexts(out);
}

void ReportServiceFault(unsigned status, const std::string& location, int line,
                        const std::string& message)
{
    if (!OvApplication::Exists()) return;
    OvApplication::Itself().GetErrorStream(status, kServicesModuleId, location.c_str(), line, -1)
        << message << ::ends;
}

std::string RecordText(std::string_view text)
{
    std::string line(text.substr(0, 1024));
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    return line;
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

namespace {

// A filter that compares the attribute's values with one value.
Filter Compare(Filter::Kind kind, std::string attribute, std::string value)
{
    Filter filter;
    filter.kind = kind;
    filter.attribute = std::move(attribute);
    filter.value = std::move(value);
    return filter;
}

}  // namespace

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
    return Compare(Kind::Equals, std::move(attribute), std::move(value));
}

Filter Filter::Contains(std::string attribute, std::string value)
{
    return Compare(Kind::Contains, std::move(attribute), std::move(value));
}

Filter Filter::Initial(std::string attribute, std::string value)
{
    return Compare(Kind::Initial, std::move(attribute), std::move(value));
}

Filter Filter::Present(std::string attribute)
{
    Filter filter;
    filter.kind = Kind::Present;
    filter.attribute = std::move(attribute);
    return filter;
}

bool ValidAttributeName(std::string_view name)
{
    const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (name.empty()) return false;
    if (letter(name.front())) {
        for (char c : name)
            if (!letter(c) && !digit(c) && c != '-') return false;
        return true;
    }
    bool lastDot = true;
    for (char c : name) {
        if (c == '.') {
            if (lastDot) return false;
            lastDot = true;
        } else if (digit(c)) {
            lastDot = false;
        } else {
            return false;
        }
    }
    return !lastDot;
}

bool MatchesEverything(const Filter& filter)
{
    return filter.kind == Filter::Kind::Present && filter.attribute.empty();
}

bool WellFormed(const Filter& filter)
{
    switch (filter.kind) {
        case Filter::Kind::And:
        case Filter::Kind::Or:
            for (const Filter& child : filter.children)
                if (!WellFormed(child)) return false;
            return true;
        case Filter::Kind::Not:
            return filter.children.size() == 1 && WellFormed(filter.children.front());
        case Filter::Kind::Present:
            return filter.attribute.empty() || ValidAttributeName(filter.attribute);
        case Filter::Kind::Equals:
        case Filter::Kind::Contains:
        case Filter::Kind::Initial:
            return ValidAttributeName(filter.attribute);
    }
    return false;
}

namespace {

// Whether a Directory= value names ldap servers rather than an LDIF file.
bool NamesServers(const std::string& where)
{
    const std::string scheme = FoldCase(where.substr(0, where.find("://") + 3));
    return scheme == "ldap://" || scheme == "ldaps://";
}

// The explicit listing of a directory that keeps it itself, used through a
// source of its own.
class OwnDomains final : public ExplicitDomainSource {
public:
    explicit OwnDomains(ExplicitDomainSource& directory) : directory_(directory) {}
    unsigned ExplicitDomains(const std::string& server, const std::string& dn,
                             const std::string& password, bool ssl, int limit,
                             std::vector<std::string>& domains, int& searchStatus) override
    {
        return directory_.ExplicitDomains(server, dn, password, ssl, limit, domains, searchStatus);
    }

private:
    ExplicitDomainSource& directory_;
};

}  // namespace

std::unique_ptr<Directory> OpenDirectory(DirectorySettings settings)
{
    const std::string& where = settings.directory;
    if (where.empty())
        return EmbeddedDirectory::FromText(SampleDirectoryLdif(), "sample directory");
    if (NamesServers(where)) return MakeLdapDirectory(std::move(settings));
    return EmbeddedDirectory::FromFile(where);
}

std::unique_ptr<ExplicitDomainSource> OpenDomainSource(const DirectorySettings& settings,
                                                       Directory& directory)
{
    if (NamesServers(settings.directory)) return MakeLdapDomainSource(settings, directory);
    if (auto* own = dynamic_cast<ExplicitDomainSource*>(&directory))
        return std::make_unique<OwnDomains>(*own);
    return nullptr;
}

}  // namespace ovdir

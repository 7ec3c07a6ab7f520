// The embedded directory: loads LDIF once, indexes entries by DN and parent,
// and evaluates search filters in memory.
#include "platform/services/EmbeddedDirectory.h"

#include "framework/OvBoundedFile.h"
#include "platform/services/Ldif.h"
#include "platform/services/Names.h"
#include "platform/services/Passwords.h"
#include "services/OvUserServiceBase.h"

namespace ovdir {

namespace {

bool IsDnValued(const std::string& attribute)
{
    return attribute == "member" || attribute == "uniquemember";
}

// The filter with its values in the form they are compared in, made once per
// search rather than once per entry.
Filter Prepare(const Filter& filter)
{
    Filter prepared = filter;
    if (filter.kind == Filter::Kind::And || filter.kind == Filter::Kind::Or ||
        filter.kind == Filter::Kind::Not) {
        for (Filter& child : prepared.children) child = Prepare(child);
    } else if (filter.kind != Filter::Kind::Present) {
        prepared.value =
            IsDnValued(filter.attribute) ? NormalizeDn(filter.value) : PrepareValue(filter.value);
    }
    return prepared;
}

bool ValueMatches(const std::string& attribute, const std::string& stored, const Filter& filter)
{
    if (IsDnValued(attribute)) {
        const std::string dn = NormalizeDn(StripUniqueId(stored));
        if (filter.kind == Filter::Kind::Equals) return dn == filter.value;
        if (filter.kind == Filter::Kind::Initial)
            return dn.compare(0, filter.value.size(), filter.value) == 0;
        return dn.find(filter.value) != std::string::npos;
    }
    if (filter.kind == Filter::Kind::Equals && attribute == "objectclass")
        return ClassIsA(stored, filter.value);
    const std::string value = PrepareValue(stored);
    if (filter.kind == Filter::Kind::Equals) return value == filter.value;
    if (filter.kind == Filter::Kind::Initial)
        return value.compare(0, filter.value.size(), filter.value) == 0;
    return value.find(filter.value) != std::string::npos;
}

void ReportLoadFault(const std::string& location, int line, const std::string& message)
{
    ReportServiceFault(kStatusLoadFailed, location, line, message);
}

bool IsDomainEntry(const Entry& entry) { return entry.IsA("domain") || entry.IsA("dcObject"); }

}  // namespace

std::unique_ptr<EmbeddedDirectory> EmbeddedDirectory::FromFile(const std::string& path)
{
    return std::unique_ptr<EmbeddedDirectory>(new EmbeddedDirectory(path, std::string(), true));
}

std::unique_ptr<EmbeddedDirectory> EmbeddedDirectory::FromText(std::string text,
                                                               std::string location)
{
    return std::unique_ptr<EmbeddedDirectory>(
        new EmbeddedDirectory(std::move(location), std::move(text), false));
}

EmbeddedDirectory::EmbeddedDirectory(std::string location, std::string text, bool fromFile)
    : location_(std::move(location)), text_(std::move(text)), fromFile_(fromFile)
{
}

unsigned EmbeddedDirectory::Load()
{
    std::call_once(loaded_, [this] {
        if (fromFile_) {
            // A folder, FIFO or device is never taken for an empty directory.
            const int error = OvReadBoundedFile(location_, kOvDirectoryFileLimit, text_);
            if (error != 0) {
                ReportLoadFault(location_, 0,
                                "the directory file cannot be read: " +
                                    OvFileErrorText(error, kOvDirectoryFileLimit));
                return;
            }
        }
        LdifError error;
        std::vector<int> dnLines;
        std::vector<std::string> keys;
        std::vector<Entry> entries;
        if (!ReadLdif(text_, entries, error, &dnLines, &keys)) {
            ReportLoadFault(location_, error.line, error.message);
            return;
        }
        std::string().swap(text_);
        std::unordered_map<std::string_view, std::size_t> byDn;
        byDn.reserve(entries.size());
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (!byDn.emplace(keys[i], i).second) {
                ReportLoadFault(location_, dnLines[i],
                                "an entry with this DN stands earlier in the file");
                return;
            }
        }
        children_.assign(entries.size(), {});
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const std::string_view parentKey = NormalizedParent(keys[i]);
            const auto parent = parentKey.empty() ? byDn.end() : byDn.find(parentKey);
            if (parent == byDn.end())
                roots_.push_back(i);
            else
                children_[parent->second].push_back(i);
        }
        keys_ = std::move(keys);  // the map's views stay valid: the strings do not move
        entries_ = std::move(entries);
        byDn_ = std::move(byDn);
        loadStatus_ = 0;
    });
    return loadStatus_;
}

const Entry* EmbeddedDirectory::FindEntry(const std::string& dn) const
{
    const std::string key = NormalizeDn(dn);
    const auto found = byDn_.find(key);
    return found == byDn_.end() ? nullptr : &entries_[found->second];
}

bool EmbeddedDirectory::Matches(const Entry& entry, const Filter& filter) const
{
    switch (filter.kind) {
        case Filter::Kind::And:
            for (const Filter& child : filter.children)
                if (!Matches(entry, child)) return false;
            return true;
        case Filter::Kind::Or:
            for (const Filter& child : filter.children)
                if (Matches(entry, child)) return true;
            return false;
        case Filter::Kind::Not:
            return !Matches(entry, filter.children.front());
        case Filter::Kind::Present:
            // A filter left as made by default asks for every entry.
            return filter.attribute.empty() || entry.Find(filter.attribute) != nullptr;
        case Filter::Kind::Equals:
        case Filter::Kind::Contains:
        case Filter::Kind::Initial: {
            const std::vector<std::string>* values = entry.Find(filter.attribute);
            if (values == nullptr) return false;
            for (const std::string& value : *values)
                if (ValueMatches(filter.attribute, value, filter)) return true;
            return false;
        }
    }
    return false;
}

void EmbeddedDirectory::Collect(std::size_t index, const SearchRequest& request,
                                EntryVisitor& visitor, std::size_t& handed) const
{
    const Entry& entry = entries_[index];
    if (request.sizeLimit != 0 && handed >= request.sizeLimit) return;
    if (!Matches(entry, request.filter)) return;
    Entry copy;
    copy.dn = entry.dn;
    for (const std::string& name : request.attributes) {
        const std::vector<std::string>* values = entry.Find(name);
        if (values != nullptr) copy.attributes.emplace_back(name, *values);
    }
    ++handed;
    visitor.Visit(copy);
}

unsigned EmbeddedDirectory::Search(const SearchRequest& request, std::vector<Entry>& out)
{
    return GatherEach(request, out);
}

unsigned EmbeddedDirectory::SearchEach(const SearchRequest& request, EntryVisitor& visitor)
{
    Dn baseDn;
    if (!Dn::Parse(request.base, baseDn) || !WellFormed(request.filter))
        return kStatusMalformedName;
    if (const unsigned status = Load()) return status;
    const std::string baseKey = baseDn.Normalized();
    const auto base = byDn_.find(baseKey);
    if (base == byDn_.end()) return kStatusNoSuchEntry;
    SearchRequest prepared;
    prepared.filter = Prepare(request.filter);
    prepared.attributes = request.attributes;
    prepared.sizeLimit = request.sizeLimit;
    std::size_t handed = 0;
    switch (request.scope) {
        case Scope::Base:
            Collect(base->second, prepared, visitor, handed);
            break;
        case Scope::OneLevel:
            for (std::size_t child : children_[base->second])
                Collect(child, prepared, visitor, handed);
            break;
        case Scope::Subtree: {
            std::vector<std::size_t> pending{base->second};
            while (!pending.empty() && (request.sizeLimit == 0 || handed < request.sizeLimit)) {
                const std::size_t index = pending.back();
                pending.pop_back();
                Collect(index, prepared, visitor, handed);
                const auto& below = children_[index];
                pending.insert(pending.end(), below.rbegin(), below.rend());
            }
            break;
        }
    }
    return 0;
}

unsigned EmbeddedDirectory::NamingContexts(std::vector<std::string>& out)
{
    out.clear();
    if (const unsigned status = Load()) return status;
    for (std::size_t index : roots_) out.push_back(entries_[index].dn);
    return 0;
}

unsigned EmbeddedDirectory::CheckPassword(const std::string& dn, const std::string& password,
                                          bool& accepted)
{
    accepted = false;
    if (const unsigned status = Load()) return status;
    if (password.empty()) return 0;
    const Entry* entry = FindEntry(dn);
    if (entry == nullptr) return 0;
    if (const std::vector<std::string>* stored = entry->Find("userpassword"))
        for (const std::string& value : *stored)
            if (PasswordMatches(value, password)) accepted = true;
    return 0;
}

unsigned EmbeddedDirectory::ExplicitDomains(const std::string& /*server*/, const std::string& dn,
                                            const std::string& password, bool /*ssl*/, int limit,
                                            std::vector<std::string>& domains, int& searchStatus)
{
    domains.clear();
    searchStatus = kDomainSearchUnknownFailure;
    bool accepted = false;
    if (const unsigned status = CheckPassword(dn, password, accepted)) return status;
    if (!accepted) {
        searchStatus = kDomainSearchInvalidCredentials;
        return 0;
    }
    for (std::size_t index : roots_) {
        // At most limit; 0 or below sets no cap, as an LDAP size limit of 0.
        if (limit > 0 && domains.size() >= static_cast<std::size_t>(limit)) break;
        if (IsDomainEntry(entries_[index])) domains.push_back(entries_[index].dn);
    }
    searchStatus = kDomainSearchSuccess;
    return 0;
}

std::string EmbeddedDirectory::DefaultServer() const { return "localhost"; }

}  // namespace ovdir

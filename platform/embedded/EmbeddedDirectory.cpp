// The embedded directory: loads LDIF once, indexes entries by DN and parent,
// and evaluates search filters in memory.
#include "platform/embedded/EmbeddedDirectory.h"

#include "framework/OvBoundedFile.h"
#include "platform/directory/Names.h"
#include "platform/embedded/Ldif.h"
#include "platform/embedded/Passwords.h"
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

// A prepared value against the filter's: equal, beginning with it, or holding it.
bool TextMatches(const std::string& text, const Filter& filter)
{
    if (filter.kind == Filter::Kind::Equals) return text == filter.value;
    if (filter.kind == Filter::Kind::Initial)
        return text.compare(0, filter.value.size(), filter.value) == 0;
    return text.find(filter.value) != std::string::npos;
}

bool ValueMatches(const std::string& attribute, std::string_view stored, const Filter& filter,
                  const ClassChains& chains)
{
    if (IsDnValued(attribute)) return TextMatches(NormalizeDn(StripUniqueId(stored)), filter);
    if (filter.kind == Filter::Kind::Equals && attribute == "objectclass")
        return chains.IsA(stored, filter.value);
    return TextMatches(PrepareValue(stored), filter);
}

void ReportLoadFault(const std::string& location, int line, const std::string& message)
{
    ReportServiceFault(kStatusLoadFailed, location, line, message);
}

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
    : location_(std::move(location)),
      text_(std::move(text)),
      fromFile_(fromFile),
      chains_(ClassChains::Standard())
{
}

EmbeddedDirectory::Span EmbeddedDirectory::Store(std::string_view text)
{
    Span span;
    span.offset = static_cast<std::uint32_t>(arena_.size());
    span.length = static_cast<std::uint32_t>(text.size());
    arena_.append(text);
    return span;
}

std::uint32_t EmbeddedDirectory::NameIndex(const std::string& name)
{
    const auto found = nameIndex_.emplace(name, static_cast<std::uint32_t>(names_.size()));
    if (found.second) names_.push_back(name);
    return found.first->second;
}

void EmbeddedDirectory::Add(const Entry& entry, std::string&& key)
{
    StoredEntry stored;
    stored.dn = Store(entry.dn);
    stored.key = Store(key);
    stored.firstAttribute = static_cast<std::uint32_t>(attributes_.size());
    stored.attributeCount = static_cast<std::uint32_t>(entry.attributes.size());
    for (const auto& attribute : entry.attributes) {
        StoredAttribute compact;
        compact.name = NameIndex(attribute.first);
        compact.firstValue = static_cast<std::uint32_t>(values_.size());
        compact.valueCount = static_cast<std::uint32_t>(attribute.second.size());
        for (const std::string& value : attribute.second) values_.push_back(Store(value));
        attributes_.push_back(compact);
    }
    entries_.push_back(stored);
}

bool EmbeddedDirectory::Index(const std::vector<int>& dnLines)
{
    const std::size_t count = entries_.size();
    byDn_.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (!byDn_.emplace(View(entries_[i].key), static_cast<std::uint32_t>(i)).second) {
            ReportLoadFault(location_, dnLines[i],
                            "an entry with this DN stands earlier in the file");
            return false;
        }
    }
    // Each entry's parent, then the children of each parent in file order.
    constexpr std::uint32_t kNone = UINT32_MAX;
    std::vector<std::uint32_t> parents(count, kNone);
    firstChild_.assign(count + 1, 0);
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view parentKey = NormalizedParent(View(entries_[i].key));
        const auto parent = parentKey.empty() ? byDn_.end() : byDn_.find(parentKey);
        if (parent == byDn_.end()) {
            roots_.push_back(static_cast<std::uint32_t>(i));
        } else {
            parents[i] = parent->second;
            ++firstChild_[parent->second + 1];
        }
    }
    for (std::size_t i = 0; i < count; ++i) firstChild_[i + 1] += firstChild_[i];
    children_.resize(firstChild_[count]);
    std::vector<std::uint32_t> filled(firstChild_.begin(), firstChild_.end() - 1);
    for (std::size_t i = 0; i < count; ++i)
        if (parents[i] != kNone) children_[filled[parents[i]]++] = static_cast<std::uint32_t>(i);
    return true;
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
        // Each record goes into the arena as it is read: no entry is kept in
        // its own strings. The values are never longer than the file's text.
        arena_.reserve(text_.size());
        LdifError error;
        std::vector<int> dnLines;
        bool tooLarge = false;
        const auto take = [&](Entry& entry, int dnLine, std::string&& key) {
            if (tooLarge) return;
            std::size_t size = entry.dn.size() + key.size();
            for (const auto& attribute : entry.attributes)
                for (const std::string& value : attribute.second) size += value.size();
            if (arena_.size() + size > UINT32_MAX || values_.size() >= UINT32_MAX / 2) {
                tooLarge = true;
                return;
            }
            Add(entry, std::move(key));
            dnLines.push_back(dnLine);
        };
        const bool read = ReadLdifEach(text_, take, error);
        std::string().swap(text_);
        if (!read || tooLarge) {
            if (!read)
                ReportLoadFault(location_, error.line, error.message);
            else
                ReportLoadFault(location_, 0, "the directory file holds too many values");
            Clear();
            return;
        }
        arena_.shrink_to_fit();
        values_.shrink_to_fit();
        attributes_.shrink_to_fit();
        entries_.shrink_to_fit();
        if (!Index(dnLines)) {
            Clear();
            return;
        }
        LearnClasses();
        loadStatus_ = 0;
    });
    return loadStatus_;
}

void EmbeddedDirectory::Clear()
{
    std::unordered_map<std::string_view, std::uint32_t>().swap(byDn_);
    std::string().swap(arena_);
    std::vector<Span>().swap(values_);
    std::vector<StoredAttribute>().swap(attributes_);
    std::vector<StoredEntry>().swap(entries_);
    std::vector<std::uint32_t>().swap(firstChild_);
    std::vector<std::uint32_t>().swap(children_);
    std::vector<std::uint32_t>().swap(roots_);
}

EmbeddedDirectory::Values EmbeddedDirectory::Find(std::size_t index, std::string_view name) const
{
    const StoredEntry& entry = entries_[index];
    for (std::uint32_t k = 0; k < entry.attributeCount; ++k) {
        const StoredAttribute& attribute = attributes_[entry.firstAttribute + k];
        if (names_[attribute.name] == name) return Values(this, &attribute);
    }
    return Values(this, nullptr);
}

bool EmbeddedDirectory::IsKind(std::size_t index, EntryKind kind) const
{
    Entry entry;
    const Values classes = Find(index, "objectclass");
    std::vector<std::string> values;
    for (std::size_t k = 0; k < classes.Size(); ++k) values.emplace_back(classes[k]);
    entry.attributes.emplace_back("objectclass", std::move(values));
    return ovdir::IsKind(entry, kind, *chains_);
}

void EmbeddedDirectory::LearnClasses()
{
    auto chains = std::make_shared<ClassChains>(*ClassChains::Standard());
    std::vector<std::uint32_t> roots;
    for (std::uint32_t index : roots_) {
        const Values classes = Find(index, "objectclass");
        bool subschema = false;
        for (std::size_t k = 0; k < classes.Size(); ++k)
            subschema = subschema || EqualsIgnoringCase(classes[k], "subschema");
        if (!subschema) {
            roots.push_back(index);
            continue;
        }
        const Values declared = Find(index, "objectclasses");
        std::vector<std::string> descriptions;
        for (std::size_t k = 0; k < declared.Size(); ++k) descriptions.emplace_back(declared[k]);
        chains->Learn(descriptions);
    }
    // The subschema entry describes the directory; it is none of its naming
    // contexts, as a server's is not.
    roots_ = std::move(roots);
    chains_ = std::move(chains);
}

std::shared_ptr<const ClassChains> EmbeddedDirectory::Classes(const std::string& /*server*/)
{
    if (Load() != 0) return ClassChains::Standard();
    return chains_;
}

std::size_t EmbeddedDirectory::FindEntry(const std::string& dn) const
{
    const std::string key = NormalizeDn(dn);
    const auto found = byDn_.find(key);
    return found == byDn_.end() ? std::string::npos : found->second;
}

bool EmbeddedDirectory::Matches(std::size_t index, const Filter& filter) const
{
    switch (filter.kind) {
        case Filter::Kind::And:
            for (const Filter& child : filter.children)
                if (!Matches(index, child)) return false;
            return true;
        case Filter::Kind::Or:
            for (const Filter& child : filter.children)
                if (Matches(index, child)) return true;
            return false;
        case Filter::Kind::Not:
            return !Matches(index, filter.children.front());
        case Filter::Kind::Present:
            // A filter left as made by default asks for every entry.
            return filter.attribute.empty() || !Find(index, filter.attribute).Empty();
        case Filter::Kind::Equals:
        case Filter::Kind::Contains:
        case Filter::Kind::Initial: {
            const Values values = Find(index, filter.attribute);
            for (std::size_t k = 0; k < values.Size(); ++k)
                if (ValueMatches(filter.attribute, values[k], filter, *chains_)) return true;
            return false;
        }
    }
    return false;
}

void EmbeddedDirectory::CollectAll(std::size_t index, Entry& copy) const
{
    const StoredEntry& entry = entries_[index];
    for (std::uint32_t k = 0; k < entry.attributeCount; ++k) {
        const StoredAttribute& attribute = attributes_[entry.firstAttribute + k];
        const Values values(this, &attribute);
        std::vector<std::string> texts;
        texts.reserve(values.Size());
        for (std::size_t v = 0; v < values.Size(); ++v) texts.emplace_back(values[v]);
        copy.attributes.emplace_back(names_[attribute.name], std::move(texts));
    }
}

void EmbeddedDirectory::Collect(std::size_t index, const SearchRequest& request,
                                EntryVisitor& visitor, std::size_t& handed) const
{
    if (request.sizeLimit != 0 && handed >= request.sizeLimit) return;
    if (!Matches(index, request.filter)) return;
    Entry copy;
    copy.dn = DnOf(index);
    for (const std::string& name : request.attributes) {
        if (name == "*") {
            CollectAll(index, copy);
            continue;
        }
        const Values values = Find(index, name);
        if (values.Empty()) continue;
        std::vector<std::string> texts;
        texts.reserve(values.Size());
        for (std::size_t k = 0; k < values.Size(); ++k) texts.emplace_back(values[k]);
        copy.attributes.emplace_back(name, std::move(texts));
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
    if (base == byDn_.end()) {
        if (request.matchedDn != nullptr) {
            request.matchedDn->clear();
            for (Dn above = baseDn.Parent(); !above.Empty(); above = above.Parent()) {
                const auto found = byDn_.find(above.Normalized());
                if (found == byDn_.end()) continue;
                *request.matchedDn = DnOf(found->second);
                break;
            }
        }
        return kStatusNoSuchEntry;
    }
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
            for (std::uint32_t k = firstChild_[base->second]; k < firstChild_[base->second + 1];
                 ++k)
                Collect(children_[k], prepared, visitor, handed);
            break;
        case Scope::Subtree: {
            std::vector<std::size_t> pending{base->second};
            while (!pending.empty() && (request.sizeLimit == 0 || handed < request.sizeLimit)) {
                const std::size_t index = pending.back();
                pending.pop_back();
                Collect(index, prepared, visitor, handed);
                for (std::uint32_t k = firstChild_[index + 1]; k > firstChild_[index]; --k)
                    pending.push_back(children_[k - 1]);
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
    for (std::size_t index : roots_) out.push_back(DnOf(index));
    return 0;
}

unsigned EmbeddedDirectory::CheckPassword(const std::string& dn, const std::string& password,
                                          bool& accepted)
{
    accepted = false;
    if (const unsigned status = Load()) return status;
    if (password.empty()) return 0;
    const std::size_t index = FindEntry(dn);
    if (index == std::string::npos) return 0;
    const Values stored = Find(index, "userpassword");
    for (std::size_t k = 0; k < stored.Size(); ++k)
        if (PasswordMatches(stored[k], password)) accepted = true;
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
        if (IsKind(index, EntryKind::Domain)) domains.push_back(DnOf(index));
    }
    searchStatus = kDomainSearchSuccess;
    return 0;
}

std::string EmbeddedDirectory::DefaultServer() const { return "localhost"; }

}  // namespace ovdir

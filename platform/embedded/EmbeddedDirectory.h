// The embedded directory: an LDIF file (or the sample compiled into the
// program) held in memory and searched there.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/directory/Directory.h"

namespace ovdir {

class EmbeddedDirectory : public Directory, public ExplicitDomainSource {
public:
    // Reads the file on first use; a fault is reported once as an error record
    // naming the file and line, and every call then answers kStatusLoadFailed.
    static std::unique_ptr<EmbeddedDirectory> FromFile(const std::string& path);
    // LDIF text held in memory; location names it in error records.
    static std::unique_ptr<EmbeddedDirectory> FromText(std::string text, std::string location);

    unsigned Search(const SearchRequest& request, std::vector<Entry>& out) override;
    unsigned SearchEach(const SearchRequest& request, EntryVisitor& visitor) override;
    unsigned NamingContexts(std::vector<std::string>& out) override;
    unsigned CheckPassword(const std::string& dn, const std::string& password,
                           bool& accepted) override;
    unsigned ExplicitDomains(const std::string& server, const std::string& dn,
                             const std::string& password, bool ssl, int limit,
                             std::vector<std::string>& domains, int& searchStatus) override;
    std::string DefaultServer() const override;
    // The standard chains and those the file's subschema entry declares.
    std::shared_ptr<const ClassChains> Classes(const std::string& server) override;

private:
    EmbeddedDirectory(std::string location, std::string text, bool fromFile);
    // 0 once the entries are in memory, kStatusLoadFailed otherwise.
    unsigned Load();
    // The directory in compact form: every text of the file (DNs, their
    // normalised keys, values) lies in one arena; entries, attributes and
    // values are spans into it, attribute names indices into names_.
    struct Span {
        std::uint32_t offset = 0;
        std::uint32_t length = 0;
    };
    struct StoredAttribute {
        std::uint32_t name = 0;        // into names_
        std::uint32_t firstValue = 0;  // into values_
        std::uint32_t valueCount = 0;
    };
    struct StoredEntry {
        Span dn;
        Span key;                          // normalised DN
        std::uint32_t firstAttribute = 0;  // into attributes_
        std::uint32_t attributeCount = 0;
    };
    // Values of one attribute of an entry, as views into the arena.
    class Values {
    public:
        Values(const EmbeddedDirectory* directory, const StoredAttribute* attribute)
            : directory_(directory), attribute_(attribute)
        {
        }
        bool Empty() const { return attribute_ == nullptr; }
        std::size_t Size() const { return attribute_ == nullptr ? 0 : attribute_->valueCount; }
        std::string_view operator[](std::size_t k) const
        {
            return directory_->View(directory_->values_[attribute_->firstValue + k]);
        }

    private:
        const EmbeddedDirectory* directory_;
        const StoredAttribute* attribute_;
    };

    Span Store(std::string_view text);
    std::string_view View(Span span) const { return {arena_.data() + span.offset, span.length}; }
    std::uint32_t NameIndex(const std::string& name);
    void Add(const Entry& entry, std::string&& key);
    // Indexes the entries by DN and by parent; false (and a fault reported)
    // when a DN stands twice.
    bool Index(const std::vector<int>& dnLines);
    void Clear();
    Values Find(std::size_t index, std::string_view name) const;
    bool IsKind(std::size_t index, EntryKind kind) const;
    // Takes the class chains that subschema entries among the top entries
    // declare, and takes those entries out of the naming contexts.
    void LearnClasses();
    std::string DnOf(std::size_t index) const { return std::string(View(entries_[index].dn)); }
    bool Matches(std::size_t index, const Filter& filter) const;
    // Hands the entry to the visitor when it matches; counts it in handed.
    // Every attribute of the entry into copy: what "*" asks for.
    void CollectAll(std::size_t index, Entry& copy) const;
    void Collect(std::size_t index, const SearchRequest& request, EntryVisitor& visitor,
                 std::size_t& handed) const;
    // The entry of the DN, or npos.
    std::size_t FindEntry(const std::string& dn) const;

    std::string location_;
    std::string text_;
    bool fromFile_;
    std::once_flag loaded_;
    unsigned loadStatus_ = kStatusLoadFailed;
    std::string arena_;
    std::vector<std::string> names_;  // distinct attribute names
    std::unordered_map<std::string, std::uint32_t> nameIndex_;
    std::vector<Span> values_;
    std::vector<StoredAttribute> attributes_;
    std::vector<StoredEntry> entries_;
    std::unordered_map<std::string_view, std::uint32_t> byDn_;  // into the arena
    // The children of entry i are children_[firstChild_[i] .. firstChild_[i + 1]).
    std::vector<std::uint32_t> firstChild_;
    std::vector<std::uint32_t> children_;
    std::vector<std::uint32_t> roots_;  // entries whose parent is not in the file
    std::shared_ptr<const ClassChains> chains_;
};

}  // namespace ovdir

// The embedded directory: an LDIF file (or the sample compiled into the
// program) held in memory and searched there.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/services/Directory.h"

namespace ovdir {

class EmbeddedDirectory : public Directory {
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

private:
    EmbeddedDirectory(std::string location, std::string text, bool fromFile);
    // 0 once the entries are in memory, kStatusLoadFailed otherwise.
    unsigned Load();
    bool Matches(const Entry& entry, const Filter& filter) const;
    // Hands the entry to the visitor when it matches; counts it in handed.
    void Collect(std::size_t index, const SearchRequest& request, EntryVisitor& visitor,
                 std::size_t& handed) const;
    const Entry* FindEntry(const std::string& dn) const;

    std::string location_;
    std::string text_;
    bool fromFile_;
    std::once_flag loaded_;
    unsigned loadStatus_ = kStatusLoadFailed;
    std::vector<Entry> entries_;
    std::vector<std::string> keys_;                           // normalised DN of each entry
    std::unordered_map<std::string_view, std::size_t> byDn_;  // into keys_
    std::vector<std::vector<std::size_t>> children_;
    std::vector<std::size_t> roots_;  // entries whose parent is not in the file
};

}  // namespace ovdir

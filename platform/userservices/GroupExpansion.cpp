// Group expansion: members read together where they share a container, every
// group read once, and every search and entry counted against the limits.
#include "platform/userservices/GroupExpansion.h"

#include <deque>
#include <map>
#include <set>
#include <unordered_map>
#include <utility>

#include "platform/userservices/UserService.h"

namespace ovdir {
namespace {

// Members of one container are read with one search of the container, not
// one by one, from this many on.
constexpr std::size_t kMembersReadTogether = 64;

// Entries of any class at or below base in scope, with kGroupAttributes.
SearchRequest MemberRequest(const std::string& server, const Dn& base, Scope scope)
{
    SearchRequest request;
    request.server = server;
    request.base = base.Format();
    request.scope = scope;
    request.filter = Filter::Present("objectclass");
    request.attributes = kGroupAttributes;
    return request;
}

// The entries of the members (their DNs parsed and not empty) that exist, with
// kGroupAttributes. Where many members share a container, the container's
// entries are read in one search, at most a few times as many as the members
// there; a member that search does not show (a larger container, a server's
// size limit) is looked up on its own, so the answer is the same as with a
// lookup for each. A failed read fails the listing, as a failed lookup does,
// and so does a read past the budget's limits.
unsigned ReadMembers(Directory& directory, const std::string& server,
                     const std::vector<Dn>& members, ExpansionBudget& budget,
                     std::vector<Entry>& found)
{
    std::map<std::string, std::vector<std::size_t>> byParent;
    for (std::size_t i = 0; i < members.size(); ++i)
        byParent[members[i].Parent().Normalized()].push_back(i);
    std::vector<bool> done(members.size(), false);
    for (const auto& [parent, indices] : byParent) {
        if (indices.size() < kMembersReadTogether) continue;
        std::unordered_map<std::string, std::size_t> wanted;
        for (std::size_t index : indices) wanted.emplace(members[index].Normalized(), index);
        SearchRequest request =
            MemberRequest(server, members[indices.front()].Parent(), Scope::OneLevel);
        request.sizeLimit = indices.size() * 4 + 16;
        std::vector<Entry> listed;
        if (!budget.Search()) return kStatusExpansionTooLarge;
        const unsigned status = directory.Search(request, listed);
        if (status == kStatusNoSuchEntry) continue;
        if (status != 0) return status;
        for (Entry& entry : listed) {
            const auto member = wanted.find(NormalizeDn(entry.dn));
            if (member == wanted.end() || done[member->second]) continue;
            done[member->second] = true;
            if (!budget.Take(entry)) return kStatusExpansionTooLarge;
            found.push_back(std::move(entry));
        }
    }
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (done[i]) continue;
        std::vector<Entry> entry;
        if (!budget.Search()) return kStatusExpansionTooLarge;
        const unsigned status =
            directory.Search(MemberRequest(server, members[i], Scope::Base), entry);
        // A member since deleted, or one that lives on a server that is
        // never asked (the referral has its record).
        if (status == kStatusNoSuchEntry || status == kStatusReferral) continue;
        if (status != 0) return status;
        for (Entry& one : entry) {
            if (!budget.Take(one)) return kStatusExpansionTooLarge;
            found.push_back(std::move(one));
        }
    }
    return 0;
}

}  // namespace

// The users among the nested members of top, whose naming context is base,
// as printed names on server: each group is read once, whatever cycles the
// groups make, and within the budget.
unsigned ExpandGroup(Directory& directory, const Dn& base, Entry top, const std::string& server,
                     const ClassChains& classes, ExpansionBudget& budget,
                     std::vector<std::string>& printed)
{
    EntryNameFormatter formatter(server);
    std::string name;
    std::set<std::string> seen{NormalizeDn(top.dn)};  // every DN looked at once
    std::deque<Entry> pending;
    if (!budget.Take(top)) return kStatusExpansionTooLarge;
    pending.push_back(std::move(top));
    while (!pending.empty()) {
        const Entry current = std::move(pending.front());
        pending.pop_front();
        std::vector<std::string> members;
        for (const char* attribute : {"member", "uniquemember"})
            if (const auto* values = current.Find(attribute))
                for (const std::string& value : *values) members.emplace_back(StripUniqueId(value));
        std::vector<Dn> unseen;
        for (const std::string& member : members) {
            Dn memberDn;
            if (!Dn::Parse(member, memberDn) || memberDn.Empty()) continue;
            if (seen.insert(memberDn.Normalized()).second) unseen.push_back(std::move(memberDn));
        }
        std::vector<Entry> memberEntries;
        if (const unsigned status = ReadMembers(directory, server, unseen, budget, memberEntries))
            return status;
        for (Entry& entry : memberEntries) {
            Dn dn;
            if (!Dn::Parse(entry.dn, dn) || dn.Empty()) continue;
            if (IsKind(entry, EntryKind::User, classes))
                printed.push_back(FormatEntryName(server, dn));
            else if (IsKind(entry, EntryKind::Group, classes))
                pending.push_back(std::move(entry));
        }
        if (const auto* logins = current.Find("memberuid")) {
            for (const std::string& login : *logins) {
                SearchRequest request;
                request.server = server;
                request.base = base.Format();
                request.filter = Filter::And({KindFilter(EntryKind::User), LoginFilter(login)});
                request.attributes = kLoginAttributes;
                std::vector<Entry> found;
                if (!budget.Search()) return kStatusExpansionTooLarge;
                const unsigned status = directory.Search(request, found);
                if (status == kStatusNoSuchEntry) continue;
                if (status != 0) return status;
                for (const Entry& entry : found) {
                    if (!budget.Take(entry)) return kStatusExpansionTooLarge;
                    if (HasLogin(entry, login) && formatter.Format(entry.dn, name))
                        printed.push_back(std::move(name));
                }
            }
        }
    }
    return 0;
}

}  // namespace ovdir

// Domain controllers: the computer or device entries under
// ou=Domain Controllers of the domain.
#include "platform/userservices/DirectoryService.h"

#include <algorithm>
#include <utility>

#include "framework/OvInetAddress.h"
#include "platform/directory/Names.h"

namespace ovdir {
namespace {

// The address of a host name; the empty text when it does not resolve.
std::string Resolve(const std::string& host)
{
    try {
        OvInetAddress address(host, 0, false);
        return address.ToString();
    } catch (const OvNetworkException&) {
        return std::string();
    }
}

}  // namespace

unsigned DirectoryService::GetServersForDomain(const OvWString& domain,
                                               std::vector<DomainServer>& servers)
{
    Context context;
    if (const unsigned status = ParseContext(makeString(domain), context)) return status;
    SearchRequest request;
    request.server = context.server;
    request.base = context.dn.Format();
    request.scope = Scope::Base;
    request.filter = KindFilter(EntryKind::Domain);
    std::vector<Entry> found;
    if (const unsigned status = directory_.Search(request, found)) return status;
    if (found.empty()) return kStatusNoSuchEntry;

    request.base = "ou=Domain Controllers," + context.dn.Format();
    request.scope = Scope::Subtree;
    request.filter = KindFilter(EntryKind::Workstation);
    request.attributes = {"dnshostname", "cn", "iphostnumber"};
    found.clear();
    const unsigned status = directory_.Search(request, found);
    if (status != 0 && status != kStatusNoSuchEntry) return status;

    std::vector<std::pair<std::string, std::pair<std::string, std::string>>> sorted;
    for (const Entry& entry : found) {
        const std::string host = entry.First("dnshostname");
        std::string name = host.empty() ? entry.First("cn") : host;
        if (name.empty()) continue;
        std::string ip = entry.First("iphostnumber");
        if (ip.empty() && !host.empty()) ip = Resolve(host);
        sorted.push_back({FoldCase(name), {std::move(name), std::move(ip)}});
    }
    std::sort(sorted.begin(), sorted.end());
    servers.clear();
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        if (i > 0 && sorted[i].first == sorted[i - 1].first) continue;
        DomainServer server;
        server.name = makeWideString(sorted[i].second.first);
        server.ip = OvString(sorted[i].second.second);
        servers.push_back(std::move(server));
    }
    return 0;
}

}  // namespace ovdir

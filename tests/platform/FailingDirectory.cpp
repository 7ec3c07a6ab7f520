// The failing directory: counts calls and breaks the one it was told to.
#include "tests/platform/FailingDirectory.h"

#include <algorithm>
#include <utility>

#include "services/OvUserServiceBase.h"

namespace ovtest {

void FailingDirectory::FailAt(int call, unsigned status, std::size_t partial, bool sticky)
{
    failAt_ = call;
    status_ = status;
    partial_ = partial;
    sticky_ = sticky;
}

void FailingDirectory::Reset()
{
    calls_ = 0;
    failAt_ = -1;
}

bool FailingDirectory::Fails()
{
    const int call = calls_++;
    return failAt_ >= 0 && (call == failAt_ || (sticky_ && call > failAt_));
}

template <class T>
unsigned FailingDirectory::Cut(std::vector<T>& found, std::vector<T>& out) const
{
    found.resize(std::min(found.size(), partial_));
    out = std::move(found);
    return status_;
}

unsigned FailingDirectory::Search(const ovdir::SearchRequest& request,
                                  std::vector<ovdir::Entry>& out)
{
    if (!Fails()) return inner_.Search(request, out);
    std::vector<ovdir::Entry> found;
    inner_.Search(request, found);
    return Cut(found, out);
}

unsigned FailingDirectory::NamingContexts(std::vector<std::string>& out)
{
    if (!Fails()) return inner_.NamingContexts(out);
    std::vector<std::string> found;
    inner_.NamingContexts(found);
    return Cut(found, out);
}

unsigned FailingDirectory::CheckPassword(const std::string& dn, const std::string& password,
                                         bool& accepted)
{
    if (!Fails()) return inner_.CheckPassword(dn, password, accepted);
    // Half an answer: what the directory had decided before it failed.
    inner_.CheckPassword(dn, password, accepted);
    accepted = accepted && partial_ > 0;
    return status_;
}

unsigned FailingDirectory::ExplicitDomains(const std::string& server, const std::string& dn,
                                           const std::string& password, bool ssl, int limit,
                                           std::vector<std::string>& domains, int& searchStatus)
{
    if (!Fails())
        return inner_.ExplicitDomains(server, dn, password, ssl, limit, domains, searchStatus);
    std::vector<std::string> found;
    inner_.ExplicitDomains(server, dn, password, ssl, limit, found, searchStatus);
    if (partial_ > 0) searchStatus = kDomainSearchSuccess;
    return Cut(found, domains);
}

}  // namespace ovtest

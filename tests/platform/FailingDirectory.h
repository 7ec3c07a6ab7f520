// A directory for the services' tests that answers from another one until it
// is told to fail: any call (counted across every kind of call), with any
// status, after handing over part of what it found, as a server that breaks
// off in the middle of an answer does.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "platform/directory/Directory.h"

namespace ovtest {

class FailingDirectory : public ovdir::Directory, public ovdir::ExplicitDomainSource {
public:
    explicit FailingDirectory(ovdir::Directory& inner) : inner_(inner) {}

    // The call numbered call (from 0, counted since the last FailAt) answers
    // status after handing over at most partial entries, contexts or domains
    // (and a password it accepted when partial is not 0). A call of -1: none.
    void FailAt(int call, unsigned status = 0, std::size_t partial = 0)
    {
        calls_ = 0;
        failedTentative_ = false;
        failAt_ = call;
        status_ = status;
        partial_ = partial;
    }
    int Calls() const { return calls_; }

    unsigned Search(const ovdir::SearchRequest& request, std::vector<ovdir::Entry>& out) override
    {
        const unsigned status = inner_.Search(request, out);
        if (calls_ == failAt_) failedTentative_ = request.tentative;
        return Fails() ? Cut(out) : status;
    }
    // Whether the call that failed was one reading of a name among others.
    bool FailedTentative() const { return failedTentative_; }
    unsigned NamingContexts(std::vector<std::string>& out) override
    {
        const unsigned status = inner_.NamingContexts(out);
        return Fails() ? Cut(out) : status;
    }
    unsigned CheckPassword(const std::string& dn, const std::string& password,
                           bool& accepted) override
    {
        const unsigned status = inner_.CheckPassword(dn, password, accepted);
        if (!Fails()) return status;
        accepted = accepted && partial_ > 0;
        return status_;
    }
    unsigned ExplicitDomains(const std::string& server, const std::string& dn,
                             const std::string& password, bool ssl, int limit,
                             std::vector<std::string>& domains, int& searchStatus) override
    {
        const unsigned status = dynamic_cast<ovdir::ExplicitDomainSource&>(inner_).ExplicitDomains(
            server, dn, password, ssl, limit, domains, searchStatus);
        return Fails() ? Cut(domains) : status;
    }
    std::string DefaultServer() const override { return inner_.DefaultServer(); }

private:
    bool Fails() { return calls_++ == failAt_; }
    template <class T>
    unsigned Cut(std::vector<T>& answer) const
    {
        answer.resize(std::min(answer.size(), partial_));
        return status_;
    }

    ovdir::Directory& inner_;
    int calls_ = 0;
    int failAt_ = -1;
    bool failedTentative_ = false;
    unsigned status_ = 0;
    std::size_t partial_ = 0;
};

}  // namespace ovtest

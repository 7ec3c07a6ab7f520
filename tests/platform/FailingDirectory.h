// A directory for the services' tests that answers from another one until it
// is told to fail: any call (counted across every kind of call), with any
// status, after handing over part of what it found, as a server that breaks
// off in the middle of an answer does.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/services/Directory.h"

namespace ovtest {

class FailingDirectory : public ovdir::Directory {
public:
    explicit FailingDirectory(ovdir::Directory& inner) : inner_(inner) {}

    // The call numbered call (from 0, since the last Reset) answers status
    // after handing over at most partial entries, contexts or domains; with
    // sticky every later call fails the same way, as a server that is gone.
    void FailAt(int call, unsigned status, std::size_t partial = 0, bool sticky = false);
    // Forgets the failure and starts counting calls afresh.
    void Reset();
    int Calls() const { return calls_; }

    unsigned Search(const ovdir::SearchRequest& request, std::vector<ovdir::Entry>& out) override;
    unsigned NamingContexts(std::vector<std::string>& out) override;
    unsigned CheckPassword(const std::string& dn, const std::string& password,
                           bool& accepted) override;
    unsigned ExplicitDomains(const std::string& server, const std::string& dn,
                             const std::string& password, bool ssl, int limit,
                             std::vector<std::string>& domains, int& searchStatus) override;
    std::string DefaultServer() const override { return inner_.DefaultServer(); }

private:
    // Counts the call; true when it is to fail.
    bool Fails();
    template <class T>
    unsigned Cut(std::vector<T>& found, std::vector<T>& out) const;

    ovdir::Directory& inner_;
    int calls_ = 0;
    int failAt_ = -1;
    unsigned status_ = 0;
    std::size_t partial_ = 0;
    bool sticky_ = false;
};

}  // namespace ovtest

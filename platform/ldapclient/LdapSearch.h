// A search on an open connection: page by page, with the values a server
// answers in parts put together, and never more entries than the limit.
#pragma once

#include "platform/directory/Directory.h"

#include <ldap.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace ovdir::ldap {

// What a search on a connection came to: a status of the services (0: it was
// answered), or one of the backend's own outcomes about the connection, which
// the backend settles itself and never hands on as a status.
class Outcome {
public:
    enum class Kind {
        Status,
        // The connection broke under the request; the caller re-opens it
        // once and asks again.
        Lost,
        // An answer did not decode; the connection's stream cannot be
        // trusted with another request, and the request counts as refused.
        Undecodable,
        // A quick request has all the entries it asked for and stopped
        // reading; the server may still be sending, so the connection goes.
        StoppedAtLimit,
    };
    Outcome(unsigned status = 0) : status_(status) {}  // NOLINT(google-explicit-constructor)
    static Outcome Of(Kind kind)
    {
        Outcome outcome;
        outcome.kind_ = kind;
        return outcome;
    }
    bool Is(Kind kind) const { return kind_ == kind; }
    bool Is(unsigned status) const { return kind_ == Kind::Status && status_ == status; }
    // The status to hand on: a broken connection is unreachable, an answer
    // that did not decode refused, a request stopped at its limit answered.
    unsigned AsStatus() const
    {
        switch (kind_) {
            case Kind::Lost:
                return kStatusUnreachable;
            case Kind::Undecodable:
                return kStatusRefused;
            case Kind::StoppedAtLimit:
                return 0;
            case Kind::Status:
                break;
        }
        return status_;
    }
    // Whether the search failed, or ended short of its answer.
    explicit operator bool() const { return kind_ != Kind::Status || status_ != 0; }

private:
    Kind kind_ = Kind::Status;
    unsigned status_ = 0;
};

struct Query {
    std::string base;
    int scope = LDAP_SCOPE_SUBTREE;
    std::string filter;
    std::vector<std::string> attributes;  // empty: the DN alone
    // The filter as a tree, when its text may have to be made again for the
    // connection's schema.
    const Filter* tree = nullptr;
    int sizeLimit = 0;           // 0: every entry, page by page
    unsigned timeLimitMs = 0;    // 0: the configured time-outs
    OvServiceTimeouts timeouts;  // the configured time-outs
    // Receives the server's matched DN when the base does not exist.
    std::string* matchedDn = nullptr;
    bool tentative = false;  // as SearchRequest::tentative
    // With a time limit: when the whole request, schema and answer, must be
    // done.
    std::chrono::steady_clock::time_point deadline{};
};

// A quick request's limit in time, from now on.
void StartClock(Query& query, unsigned timeLimitMs);

// The attributes of the one entry base names (the root DSE when empty).
Query EntryQuery(std::string base, std::vector<std::string> attributes);

// The root DSE's list of naming contexts.
Query NamingContextsQuery();

// Gathers an answer into a vector; a restart drops what came before it.
class Collector final : public EntryVisitor {
public:
    explicit Collector(std::vector<Entry>& out) : out_(out) {}
    void Visit(Entry& entry) override { out_.push_back(std::move(entry)); }
    void Restart() override { std::vector<Entry>().swap(out_); }

private:
    std::vector<Entry>& out_;
};

// Runs query on ld, page by page, its entries handed to visitor as they
// arrive; pageSize is the connection's, kept at the size that last worked. An
// answer of more than maxEntries entries is abandoned: kStatusTooManyEntries.
Outcome RunSearch(LDAP* ld, const Query& query, EntryVisitor& visitor, int& pageSize,
                  std::size_t maxEntries);
// The same, the answer gathered into out.
Outcome RunSearch(LDAP* ld, const Query& query, std::vector<Entry>& out, int& pageSize,
                  std::size_t maxEntries);

// Puts together the values that the server answered in parts (LdapRanges.h):
// each part after the first is asked for on the entry itself, within the
// time-outs, until a part ends in "*". The values are kept under the
// attribute's plain name.
Outcome ReadRangedValues(LDAP* ld, std::vector<Entry>& entries, int& pageSize,
                         std::size_t maxEntries, const OvServiceTimeouts& timeouts);

// Passes entries on as they come, except those with an attribute whose
// values came in parts (LdapRanges.h): they are held until the rest of their
// values has been read.
class RangeHolder final : public EntryVisitor {
public:
    explicit RangeHolder(EntryVisitor& next) : next_(next) {}
    void Visit(Entry& entry) override;
    void Restart() override
    {
        std::vector<Entry>().swap(held);
        next_.Restart();
    }
    std::vector<Entry> held;

private:
    EntryVisitor& next_;
};

}  // namespace ovdir::ldap

// The paged search, its answers read message by message, and the values that
// come in parts.
#include "platform/ldapclient/LdapSearch.h"

#include "framework/OvString.h"
#include "platform/ldapclient/LdapConnection.h"
#include "platform/ldapclient/LdapRanges.h"
#include "platform/ldapclient/LdapSeam.h"

#include <lber.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <utility>

namespace ovdir::ldap {

namespace {

Outcome SearchFailure(int rc)
{
    switch (rc) {
        case LDAP_NO_SUCH_OBJECT:
            return kStatusNoSuchEntry;
        case LDAP_REFERRAL:  // the base lives on another server, which is never asked
            return kStatusReferral;
        case LDAP_INVALID_DN_SYNTAX:
            return kStatusMalformedName;
        case LDAP_TIMEOUT:
        case LDAP_TIMELIMIT_EXCEEDED:
            return kStatusTimeout;
        case LDAP_SERVER_DOWN:
        case LDAP_CONNECT_ERROR:
            return Outcome::Of(Outcome::Kind::Lost);
        default:
            return kStatusRefused;
    }
}

// Reads one entry of a search's answer into entry, reusing its storage.
void ReadEntry(LDAP* ld, LDAPMessage* message, Entry& entry)
{
    entry.dn.clear();
    entry.attributes.clear();
    if (char* dn = ldap_get_dn(ld, message)) {
        entry.dn = dn;
        ldap_memfree(dn);
    }
    BerElement* ber = nullptr;
    for (char* name = ldap_first_attribute(ld, message, &ber); name != nullptr;
         name = ldap_next_attribute(ld, message, ber)) {
        std::vector<std::string> values;
        if (berval** found = ldap_get_values_len(ld, message, name)) {
            for (berval** value = found; *value != nullptr; ++value) {
                values.emplace_back((*value)->bv_val, (*value)->bv_len);
            }
            ldap_value_free_len(found);
        }
        entry.attributes.emplace_back(OvAsciiLower(name), std::move(values));
        ldap_memfree(name);
    }
    if (ber != nullptr) ber_free(ber, 0);
}

// One search, page by page, its entries handed to the visitor as they
// arrive, so that the caller's work on them overlaps the server's. Continuation
// references are passed over. An answer of more than maxEntries entries is
// abandoned: kStatusTooManyEntries.
//
// A server that refuses the size of the first page is asked again with a
// smaller one (kPageSize, then half as many each time down to
// kSmallestPageSize); the visitor is told to start again. Once a page has
// been answered the server's cookie belongs to the size it accepted, and a
// refusal is the search's answer.
class PagedSearch {
public:
    PagedSearch(LDAP* ld, const Query& query, EntryVisitor& visitor, int& pageSize,
                std::size_t maxEntries)
        : ld_(ld),
          query_(query),
          visitor_(visitor),
          pageSize_(pageSize),
          maxEntries_(maxEntries),
          timeouts_(LimitedTimeouts(query.timeouts, query.timeLimitMs)),
          limited_(query.sizeLimit > 0),
          // A base search answers one entry at most, and a limited one is
          // asked for its few entries at once; every other one is paged.
          paged_(query.scope != LDAP_SCOPE_BASE && !limited_),
          cookieOwner_(nullptr, [](char* p) { ber_memfree(p); })
    {
        static char noAttributes[] = "1.1";
        for (const std::string& name : query.attributes) {
            attributes_.push_back(const_cast<char*>(name.c_str()));
        }
        if (attributes_.empty()) attributes_.push_back(noAttributes);
        attributes_.push_back(nullptr);
    }

    Outcome Run()
    {
        for (;;) {
            int msgid = -1;
            if (const Outcome sent = SendPage(msgid)) return sent;
            int code = LDAP_OTHER;
            bool more = false;
            if (const Outcome read = ReadPage(msgid, code, more)) return read;
            if (RetryFirstPage(code)) continue;
            // A limited search that reached its limit has what it asked for.
            if (limited_ && code == LDAP_SIZELIMIT_EXCEEDED) return 0;
            if (code != LDAP_SUCCESS) return SearchFailure(code);
            if (!more) return 0;
            stage_ = Stage::LaterPage;
        }
    }

private:
    // Whether the page being read is the search's first: only it may be
    // asked for again with a smaller size.
    enum class Stage { FirstPage, LaterPage };

    // Sends the request for the next page (the whole answer when unpaged).
    Outcome SendPage(int& msgid)
    {
        LDAPControl* pageControl = nullptr;
        if (paged_ &&
            ldap_create_page_control(ld_, pageSize_, &cookie_, 0, &pageControl) != LDAP_SUCCESS) {
            return kStatusRefused;
        }
        LDAPControl* controls[] = {pageControl, nullptr};
        timeval limit = timeouts_.method;
        const int rc = ldapseam::Active().searchExt(
            ld_, query_.base.c_str(), query_.scope, query_.filter.c_str(), attributes_.data(), 0,
            paged_ ? controls : nullptr, nullptr, &limit,
            limited_ ? query_.sizeLimit : LDAP_NO_LIMIT, &msgid);
        if (pageControl != nullptr) ldap_control_free(pageControl);
        return rc == LDAP_SUCCESS ? Outcome() : SearchFailure(rc);
    }

    // Takes the page's messages one by one as they arrive, so that no page
    // is held whole in memory, until its result; code and more receive
    // the result code and whether another page follows. A quick request's
    // time limit holds for the whole answer, not for each message: a server
    // that keeps sending is stopped when the time is up.
    Outcome ReadPage(int msgid, int& code, bool& more)
    {
        for (bool done = false; !done;) {
            timeval wait = timeouts_.method;
            if (query_.timeLimitMs != 0) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                      query_.deadline - std::chrono::steady_clock::now())
                                      .count();
                if (left <= 0) {
                    ldap_abandon_ext(ld_, msgid, nullptr, nullptr);
                    return kStatusTimeout;
                }
                if (left < static_cast<long long>(wait.tv_sec) * 1000 + wait.tv_usec / 1000)
                    wait = Milliseconds(static_cast<unsigned>(left));
            }
            LDAPMessage* answer = nullptr;
            const int rc = ldapseam::Active().result(ld_, msgid, LDAP_MSG_ONE, &wait, &answer);
            if (rc <= 0) {
                const int reason = errno;
                if (answer != nullptr) ldap_msgfree(answer);
                const int error = rc == 0 ? LDAP_TIMEOUT : LastError(ld_);
                // An answer that did not decode leaves libldap's record of
                // the request in use; unbinding with it so aborts the
                // process. Abandoning the request first settles it.
                ldap_abandon_ext(ld_, msgid, nullptr, nullptr);
                NoteBrokenAnswer(error, reason);
                if (rc == 0) return kStatusTimeout;
                return Outcome::Of(SearchFailure(error).Is(Outcome::Kind::Lost)
                                       ? Outcome::Kind::Lost
                                       : Outcome::Kind::Undecodable);
            }
            Outcome status;
            for (LDAPMessage* message = ldap_first_message(ld_, answer);
                 message != nullptr && !status; message = ldap_next_message(ld_, message)) {
                status = TakeMessage(message, code, more, done);
            }
            ldap_msgfree(answer);
            if (status) {
                ldap_abandon_ext(ld_, msgid, nullptr, nullptr);
                return status;
            }
        }
        return 0;
    }

    Outcome TakeMessage(LDAPMessage* message, int& code, bool& more, bool& done)
    {
        const int type = ldap_msgtype(message);
        if (type == LDAP_RES_SEARCH_ENTRY) {
            // A limited request has what it asked for, whatever the server
            // goes on sending.
            if (limited_ && handed_ >= static_cast<std::size_t>(query_.sizeLimit))
                return Outcome::Of(Outcome::Kind::StoppedAtLimit);
            if (handed_ >= maxEntries_) return kStatusTooManyEntries;
            ReadEntry(ld_, message, entry_);
            ++handed_;
            visitor_.Visit(entry_);
        } else if (type == LDAP_RES_SEARCH_RESULT) {
            done = true;
            LDAPControl** returned = nullptr;
            char* matched = nullptr;
            char** referrals = nullptr;
            if (ldap_parse_result(ld_, message, &code, &matched, nullptr, &referrals, &returned,
                                  0) != LDAP_SUCCESS) {
                code = LastError(ld_);
            }
            if (code == LDAP_NO_SUCH_OBJECT && query_.matchedDn != nullptr)
                *query_.matchedDn = matched != nullptr ? matched : "";
            if (matched != nullptr) ldap_memfree(matched);
            more = paged_ && ReadPageResponse(returned);
            if (returned != nullptr) ldap_controls_free(returned);
            if (code == LDAP_REFERRAL) NoteReferral(referrals);
            if (referrals != nullptr) ber_memvfree(reinterpret_cast<void**>(referrals));
        }
        // LDAP_RES_SEARCH_REFERENCE: passed over, never chased.
        return 0;
    }

    // Abandoning the request resets the handle's result code: what broke the
    // answer is put back, with what happened, for the failure's record.
    // reason: errno as the read left it.
    void NoteBrokenAnswer(int code, int reason)
    {
        ldap_set_option(ld_, LDAP_OPT_RESULT_CODE, &code);
        const char* what = nullptr;
        if (code == LDAP_TIMEOUT)
            what = "the server did not answer in time";
        else if (reason == ERANGE)
            what =
                "the server announced a message larger than the limit of 64 MiB; the "
                "connection was closed";
        else if (IsConnectionError(code))
            what = "the connection ended in the middle of the server's answer";
        if (what != nullptr) ldap_set_option(ld_, LDAP_OPT_DIAGNOSTIC_MESSAGE, what);
    }

    // A result that refers the search to another server names the server
    // in the failure's record; the referral is never followed.
    void NoteReferral(char** urls)
    {
        const std::string text = urls != nullptr && urls[0] != nullptr
                                     ? std::string("referred to ") + urls[0]
                                     : std::string("referred elsewhere, to no URL");
        ldap_set_option(ld_, LDAP_OPT_DIAGNOSTIC_MESSAGE, text.c_str());
    }

    // Keeps the cookie of the page control among returned; whether it asks
    // for another page.
    bool ReadPageResponse(LDAPControl** returned)
    {
        LDAPControl* response =
            returned ? ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, returned, nullptr) : nullptr;
        // A control without a value, or with an empty one, is malformed, and
        // libldap's parser crashes on it: read as no cookie, like any other
        // control that does not parse.
        if (response == nullptr || response->ldctl_value.bv_val == nullptr ||
            response->ldctl_value.bv_len == 0) {
            return false;
        }
        ber_int_t estimate = 0;
        berval next{};
        if (ldap_parse_pageresponse_control(ld_, response, &estimate, &next) != LDAP_SUCCESS)
            return false;
        cookieOwner_.reset(next.bv_val);
        cookie_ = next;
        return cookie_.bv_len > 0;
    }

    // A first page refused for its size is asked for again, smaller, and
    // the visitor starts over.
    bool RetryFirstPage(int code)
    {
        if (!paged_ || stage_ != Stage::FirstPage) return false;
        const bool tooLarge = code == LDAP_ADMINLIMIT_EXCEEDED ||
                              code == LDAP_UNWILLING_TO_PERFORM || code == LDAP_SIZELIMIT_EXCEEDED;
        if (tooLarge && pageSize_ > kPageSize) {
            pageSize_ = kPageSize;
        } else if (code == LDAP_ADMINLIMIT_EXCEEDED && pageSize_ > kSmallestPageSize) {
            pageSize_ /= 2;
        } else {
            return false;
        }
        cookieOwner_.reset();
        cookie_ = berval{};
        handed_ = 0;
        visitor_.Restart();
        return true;
    }

    LDAP* ld_;
    const Query& query_;
    EntryVisitor& visitor_;
    int& pageSize_;
    const std::size_t maxEntries_;
    const Timeouts timeouts_;
    const bool limited_;
    const bool paged_;
    std::vector<char*> attributes_;
    Stage stage_ = Stage::FirstPage;
    berval cookie_{};
    std::unique_ptr<char, void (*)(char*)> cookieOwner_;
    std::size_t handed_ = 0;
    Entry entry_;  // storage reused from entry to entry
};

}  // namespace

// A quick request's limit in time, from now on.
void StartClock(Query& query, unsigned timeLimitMs)
{
    query.timeLimitMs = timeLimitMs;
    query.deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeLimitMs);
}

// The attributes of the one entry base names (the root DSE when empty).
Query EntryQuery(std::string base, std::vector<std::string> attributes)
{
    Query query;
    query.base = std::move(base);
    query.scope = LDAP_SCOPE_BASE;
    query.filter = "(objectClass=*)";
    query.attributes = std::move(attributes);
    return query;
}

// The root DSE's list of naming contexts.
Query NamingContextsQuery() { return EntryQuery(std::string(), {"namingContexts"}); }

Outcome RunSearch(LDAP* ld, const Query& query, EntryVisitor& visitor, int& pageSize,
                  std::size_t maxEntries)
{
    return PagedSearch(ld, query, visitor, pageSize, maxEntries).Run();
}

Outcome RunSearch(LDAP* ld, const Query& query, std::vector<Entry>& out, int& pageSize,
                  std::size_t maxEntries)
{
    Collector collector(out);
    return RunSearch(ld, query, collector, pageSize, maxEntries);
}

// Puts together the values that the server answered in parts (LdapRanges.h):
// each part after the first is asked for on the entry itself until a part
// ends in "*". The values are kept under the attribute's plain name.
Outcome ReadRangedValues(LDAP* ld, std::vector<Entry>& entries, int& pageSize,
                         std::size_t maxEntries, const OvServiceTimeouts& timeouts)
{
    for (Entry& entry : entries) {
        for (std::size_t i = 0; i < entry.attributes.size(); ++i) {
            ValueRange range;
            if (!ParseValueRange(entry.attributes[i].first, range)) continue;
            std::vector<std::string> values = std::move(entry.attributes[i].second);
            entry.attributes.erase(entry.attributes.begin() + static_cast<std::ptrdiff_t>(i));
            --i;
            // Every value, and every part even one without values, counts
            // against the entry limit: a server that never ends the parts
            // cannot make the answer grow, or the asking go on, without end.
            std::size_t parts = 0;
            while (!range.last) {
                if (values.size() + ++parts > maxEntries) return kStatusTooManyEntries;
                Query next = EntryQuery(entry.dn, {RangeFrom(range.attribute, range.high + 1)});
                next.timeouts = timeouts;
                std::vector<Entry> answer;
                if (const Outcome read = RunSearch(ld, next, answer, pageSize, maxEntries))
                    return read;
                // No entry or no part: the values past the last part are gone.
                if (answer.empty()) break;
                bool found = false;
                for (auto& [name, part] : answer.front().attributes) {
                    ValueRange got;
                    if (!ParseValueRange(name, got) || got.attribute != range.attribute) continue;
                    // A part that does not go on from where the last one
                    // ended would be asked for again and again.
                    if (got.low != range.high + 1) return kStatusRefused;
                    values.insert(values.end(), std::make_move_iterator(part.begin()),
                                  std::make_move_iterator(part.end()));
                    range = std::move(got);
                    found = true;
                    break;
                }
                if (!found) break;
            }
            auto same = std::find_if(entry.attributes.begin(), entry.attributes.end(),
                                     [&](const auto& a) { return a.first == range.attribute; });
            if (same == entry.attributes.end()) {
                entry.attributes.emplace_back(range.attribute, std::move(values));
            } else {
                same->second.insert(same->second.end(), std::make_move_iterator(values.begin()),
                                    std::make_move_iterator(values.end()));
            }
        }
    }
    return 0;
}

void RangeHolder::Visit(Entry& entry)
{
    for (const auto& attribute : entry.attributes) {
        ValueRange range;
        if (ParseValueRange(attribute.first, range)) {
            held.push_back(std::move(entry));
            return;
        }
    }
    next_.Visit(entry);
}

}  // namespace ovdir::ldap

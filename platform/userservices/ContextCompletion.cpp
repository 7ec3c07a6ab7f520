// Completion of contexts typed at a console: the containers of a server whose
// DN begins with what is typed, and the users and groups in a container whose
// name begins with what follows its "/". Every request is a quick one: few
// entries, a short time, and the whole answer within the caller's time.
#include <cctype>
#include <chrono>
#include <string_view>

#include "framework/OvString.h"
#include "platform/userservices/UserService.h"

namespace ovdir {
namespace {

using Clock = std::chrono::steady_clock;

// Entries that hold others: what a context names. A stock OpenLDAP schema
// has no class "container"; directories laid out after Active Directory's
// there hold their cn=Users as an organizationalRole.
Filter ContainerFilter()
{
    std::vector<Filter> classes;
    for (const char* name : {"organizationalUnit", "organization", "container", "domain",
                             "dcObject", "locality", "builtinDomain", "organizationalRole"})
        classes.push_back(Filter::Equals("objectclass", name));
    return Filter::Or(std::move(classes));
}

// Whether the text begins with start, which is already folded (FoldCase).
bool StartsWithFolded(std::string_view text, const std::string& start)
{
    return FoldCase(text).compare(0, start.size(), start) == 0;
}

// What the directory can narrow a container search by: the first RDN typed,
// "type=start" (the value up to an unescaped ","). Nothing when the type is
// not a plain attribute name or the value holds escapes or quotes.
bool FirstRdnStart(std::string_view typed, Filter& filter)
{
    const auto equals = typed.find('=');
    if (equals == std::string_view::npos || equals == 0) return false;
    const std::string_view type = OvTrimNameBlanks(typed.substr(0, equals));
    if (!ValidAttributeName(type) || !std::isalpha(static_cast<unsigned char>(type.front())))
        return false;
    std::string_view value = typed.substr(equals + 1);
    value = value.substr(0, value.find(','));
    if (value.find_first_of("\\\"+") != std::string_view::npos) return false;
    filter = Filter::Initial(OvAsciiLower(type), std::string(OvTrimNameBlanks(value)));
    return true;
}

// Milliseconds left before the deadline; 0 when it has passed.
unsigned Left(Clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<unsigned>(left) : 0u;
}

// The users and groups directly in the container that rest names up to its
// last "/", whose names begin with what follows it.
unsigned CompleteInContainer(Directory& directory, const std::string& server,
                             const std::string& rest, unsigned limit, Clock::time_point deadline,
                             std::vector<std::string>& found)
{
    const auto slash = rest.rfind('/');
    Dn container;
    if (!Dn::Parse(rest.substr(0, slash), container) || container.Empty())
        return kStatusMalformedName;
    const std::string wanted = rest.substr(slash + 1);
    SearchRequest request;
    request.server = server;
    request.base = container.Format();
    request.scope = Scope::OneLevel;
    std::vector<Filter> naming;
    if (!PrepareValue(wanted).empty()) {
        for (const std::string& attribute : NamingAttributes())
            naming.push_back(Filter::Initial(attribute, wanted));
    }
    request.filter = naming.empty()
                         ? UserOrGroupFilter()
                         : Filter::And({UserOrGroupFilter(), Filter::Or(std::move(naming))});
    request.sizeLimit = limit;
    request.timeLimitMs = Left(deadline);
    if (request.timeLimitMs == 0) return kStatusTimeout;
    std::vector<Entry> entries;
    if (const unsigned status = directory.Search(request, entries)) return status;
    const std::string foldedWanted = FoldCase(wanted);
    for (const Entry& entry : entries) {
        Dn dn;
        if (Dn::Parse(entry.dn, dn) && !dn.Empty() && StartsWithFolded(dn.RdnValue(), foldedWanted))
            found.push_back(dn.RdnValue());
    }
    return 0;
}

// The containers below each naming context whose DN begins with rest.
unsigned CompleteContainers(Directory& directory, const std::string& server,
                            const std::string& rest, unsigned limit, Clock::time_point deadline,
                            std::vector<std::string>& found)
{
    std::vector<std::string> bases;
    const unsigned contextsTime = Left(deadline);
    if (contextsTime == 0) return kStatusTimeout;
    if (const unsigned status = directory.QuickNamingContexts(bases, contextsTime)) return status;
    Filter narrowing;
    const bool narrowed = FirstRdnStart(rest, narrowing);
    const std::string foldedRest = FoldCase(rest);
    for (const std::string& baseText : bases) {
        Dn base;
        if (!Dn::Parse(baseText, base) || base.Empty()) continue;
        SearchRequest request;
        request.server = server;
        request.base = base.Format();
        request.filter = narrowed ? Filter::And({ContainerFilter(), narrowing}) : ContainerFilter();
        request.sizeLimit = limit;
        request.timeLimitMs = Left(deadline);
        if (request.timeLimitMs == 0) return kStatusTimeout;
        std::vector<Entry> entries;
        const unsigned status = directory.Search(request, entries);
        if (status == kStatusNoSuchEntry) continue;
        if (status != 0) return status;
        for (const Entry& entry : entries) {
            Dn dn;
            if (!Dn::Parse(entry.dn, dn) || dn.Empty()) continue;
            std::string name = dn.Format();
            if (StartsWithFolded(name, foldedRest)) found.push_back(std::move(name));
        }
    }
    return 0;
}

}  // namespace

unsigned UserService::CompleteContext(const OvWString& typed, unsigned limit, unsigned milliseconds,
                                      std::vector<OvWString>& words)
{
    words.clear();
    if (limit == 0 || milliseconds == 0) return kStatusTimeout;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    const std::string& text = typed.utf8();

    // "TYPE://SERVER", blanks, then the text being completed.
    const auto scheme = text.find("://");
    if (scheme == std::string::npos) return kStatusMalformedName;
    const auto blank = text.find_first_of(" \t", scheme + 3);
    if (blank == std::string::npos) return kStatusMalformedName;
    Context context;
    if (const unsigned status = ParseContext(text.substr(0, blank), context, false)) return status;
    const auto start = text.find_first_not_of(" \t", blank);
    const std::string rest = start == std::string::npos ? std::string() : text.substr(start);

    std::vector<std::string> found;
    const unsigned status =
        rest.rfind('/') != std::string::npos
            ? CompleteInContainer(directory_, context.server, rest, limit, deadline, found)
            : CompleteContainers(directory_, context.server, rest, limit, deadline, found);
    if (status != 0) return status;
    SortNames(found);
    if (found.size() > limit) found.resize(limit);
    for (std::string& word : found) words.push_back(makeWideString(std::move(word)));
    return 0;
}

}  // namespace ovdir

// Sessions: lines "address user", read afresh at every call since who is
// logged on changes while the program runs.
#include "platform/userservices/TransIdService.h"

#include <arpa/inet.h>

#include <sstream>

#include "framework/OvBoundedFile.h"
#include "platform/directory/Directory.h"
#include "platform/embedded/SampleData.h"

namespace ovdir {

unsigned TransIdService::FindSession(const std::string& sessions, unsigned address,
                                     std::string& user)
{
    std::istringstream in(sessions);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') continue;
        const std::size_t end = line.find_first_of(" \t", start);
        if (end == std::string::npos) continue;
        const std::size_t rest = line.find_first_not_of(" \t", end);
        if (rest == std::string::npos) continue;
        const std::string text = line.substr(start, end - start);
        in_addr parsed{};
        if (inet_pton(AF_INET, text.c_str(), &parsed) != 1) continue;
        if (parsed.s_addr != address) continue;
        user = line.substr(rest);
        return 0;
    }
    return kStatusNoSession;
}

unsigned TransIdService::GetUser(const unsigned int& address, OvWString& user)
{
    std::string sessions;
    if (sessionsFile_.empty()) {
        sessions = SampleSessions();
    } else {
        const int error = OvReadBoundedFile(sessionsFile_, kOvSessionsFileLimit, sessions);
        if (error != 0) {
            ReportServiceFault(kStatusSessionsLoadFailed, sessionsFile_, 0,
                               "the sessions file cannot be read: " +
                                   OvFileErrorText(error, kOvSessionsFileLimit));
            return kStatusSessionsLoadFailed;
        }
    }
    std::string found;
    if (const unsigned status = FindSession(sessions, address, found)) return status;
    user = makeWideString(found);
    return 0;
}

}  // namespace ovdir

// The parameter object: every setting of the parameter file with its default,
// its range check and the status and error record of a missing value.
#include "config/OvIniParameters.h"

#include <strings.h>
#include <unistd.h>

#include <climits>
#include <exception>

#include "config/IniReaders.h"
#include "framework/OvApplication.h"
#include "framework/OvInetAddress.h"
#include "framework/OvString.h"

namespace {

constexpr const char* kLocation = "OvIniParameters";
constexpr const char* kPolicyServer = "PolicyServer";
constexpr const char* kOrvane = "Orvane";
constexpr const char* kWebService = "WebService";
// The web console's section also holds the port of its web server.
constexpr const char* kWebConsole = "WebConsole";

// Source lines named in the error records; operators search the logs for them.
constexpr int kLineIdentifierFileMissing = 128;
constexpr int kLinePolicyServerIPFileMissing = 237;
constexpr int kLinePolicyServerIPMissing = 246;
constexpr int kLinePolicyServerPort = 268;

constexpr std::array<IniComponentKey, kIniComponentCount> kComponentKeys = {{
    {"PolicyServer", "PolicyServerUID"},
    {"UserService", "UserServiceUID"},
    {"TransIdService", "TransIdServiceUID"},
    {"DirectoryService", "DirectoryServiceUID"},
    {"EventLogService", "EventLogServiceUID"},
    {"ConfigService", "ConfigServiceUID"},
    {"AuditService", "AuditServiceUID"},
    {"LicenseService", "LicenseServiceUID"},
    {"NotificationService", "NotificationServiceUID"},
    {"ReportService", "ReportServiceUID"},
    {"SchedulerService", "SchedulerServiceUID"},
    {"AgentService", "AgentServiceUID"},
    {"AgentService", "AgentUpdaterUID"},
    {"WebConsole", "WebConsoleUID"},
    {"DatabaseService", "DatabaseServiceUID"},
}};

bool InRange(int value, int low, int high) { return value >= low && value <= high; }

}  // namespace

const std::array<IniComponentKey, kIniComponentCount>& OvIniParameters::ComponentKeys()
{
    return kComponentKeys;
}

OvIniParameters::OvIniParameters(const std::string& fileName) : fileName_(fileName)
{
    if (ReadIdentifiers()) ReadNumbers();
    ReadHistoryFileWanted();
}

bool OvIniParameters::ReadIdentifiers()
{
    for (std::size_t i = 0; i < kIniComponentCount; ++i) {
        if (!ReadStringParameter(kComponentKeys[i].section, kComponentKeys[i].key,
                                 componentIds_[i])) {
            return false;
        }
    }
    return true;
}

void OvIniParameters::ReadHistoryFileWanted()
{
    // A missing file would be retried while its lock is waited for.
    if (::access(fileName_.c_str(), R_OK) != 0) return;
    std::string value;
    if (!ReadIniString(fileName_, "UserServiceCommand", "HistoryFile", value)) return;
    value = OvAsciiLower(value);
    historyFileWanted_ = !(value == "no" || value == "off" || value == "false" || value == "0");
}

OvIniParameters::~OvIniParameters() = default;

unsigned OvIniParameters::GetPolicyServerIP(std::string& ip)
{
    lock_.ReadLock();
    ip = policyServerIP_;
    lock_.ReadUnlock();
    return status_;
}

unsigned OvIniParameters::GetPolicyServerPort(unsigned short& port)
{
    port = policyServerPort_;
    return status_;
}

void OvIniParameters::SetStatusIfClear(unsigned code)
{
    if (status_ == 0) status_ = code;
}

void OvIniParameters::Report(unsigned code, int line)
{
    if (!OvApplication::Exists()) return;
    OvApplication::Itself().GetErrorStream(code, kIniParamModuleId, kLocation, line, -1) << ends;
}

bool OvIniParameters::FileWentMissing(bool found, int line)
{
    // Whether this read failed is decided by its own result: the last read
    // status may be left over from an earlier failed read.
    if (found || GetLastIniReadStatus() != kIniFileMissing) return false;
    status_ = kIniParamFileMissing;
    Report(status_, line);
    return true;
}

bool OvIniParameters::ReadStringParameter(const char* section, const char* key, std::string& field)
{
    std::string value;  // stays empty when the key is missing
    const bool found = ReadIniString(fileName_, section, key, value);
    if (FileWentMissing(found, kLineIdentifierFileMissing)) return false;
    lock_.WriteLock();
    field = value;
    lock_.WriteUnlock();
    return true;
}

bool OvIniParameters::ReadPolicyServerIP()
{
    std::string value;
    const bool found = ReadIniString(fileName_, kPolicyServer, "PolicyServerIP", value);
    if (found && !value.empty()) {
        lock_.WriteLock();
        policyServerIP_ = value;
        lock_.WriteUnlock();
        return true;
    }
    if (FileWentMissing(found, kLinePolicyServerIPFileMissing)) return false;
    status_ = kIniParamNoPolicyServerIP;
    Report(status_, kLinePolicyServerIPMissing);
    return true;
}

void OvIniParameters::ReadNumbers()
{
    const char* file = fileName_.c_str();
    int value = 0;

    uidBroadcastPort_ = 0;
    if (ReadIniInt(file, kPolicyServer, "PolicyServerUIDBroadcastPort", value) == 0 &&
        InRange(value, 0, 65535)) {
        uidBroadcastPort_ = static_cast<unsigned short>(value);
    }
    uidBroadcastResponseTimeout_ = 0;
    if (ReadIniInt(file, kPolicyServer, "UIDBroadcastResponseTimeout", value) == 0 &&
        InRange(value, 1, 60)) {
        uidBroadcastResponseTimeout_ = static_cast<unsigned>(value);
    }

    if (!ReadPolicyServerIP()) return;

    if (ReadIniInt(file, kPolicyServer, "PolicyServerPort", value) == 0 &&
        InRange(value, 1, 65535)) {
        policyServerPort_ = static_cast<unsigned short>(value);
    } else {
        Report(kIniParamBadPolicyServerPort, kLinePolicyServerPort);
        SetStatusIfClear(kIniParamBadPolicyServerPort);
    }
    if (ReadIniInt(file, kPolicyServer, "PolicyServerWaitTime", value) == 0 &&
        InRange(value, 0, 1439)) {
        policyServerWaitTime_ = static_cast<unsigned>(value);
    } else {
        SetStatusIfClear(kIniParamBadPolicyServerWaitTime);
    }

    // Values at or below the floor keep the defaults.
    if (ReadIniInt(file, kPolicyServer, "ConnectionTimeout", value) == 0 && value > 3000) {
        commParameters_.SetConnectionTimeout(static_cast<unsigned>(value));
    }
    if (ReadIniInt(file, kPolicyServer, "MethodTimeout", value) == 0 && value > 0) {
        commParameters_.SetMethodTimeout(static_cast<unsigned>(value));
    }
    if (ReadIniInt(file, kPolicyServer, "StatusCheckTimeout", value) == 0 && value > 0) {
        commParameters_.SetStatusCheckTimeout(static_cast<unsigned>(value));
    }
    if (ReadIniInt(file, kPolicyServer, "StatusCheckFrequency", value) == 0 && value > 0) {
        // Seconds in the file, milliseconds in the record; a value too large
        // for the record is held at the largest it can carry, never wrapped.
        const unsigned seconds = static_cast<unsigned>(value);
        commParameters_.SetStatusCheckFrequency(seconds > UINT_MAX / 1000 ? UINT_MAX
                                                                          : seconds * 1000);
    }
    ReadTexts();
}

void OvIniParameters::ReadTexts()
{
    const char* file = fileName_.c_str();
    int value = 0;
    std::string text;

    if (ReadIniString(fileName_, kPolicyServer, "SecureSocketLayer", text) && text.size() == 4 &&
        strncasecmp(text.c_str(), "true", 4) == 0) {
        commParameters_.SetSecureSocketLayer(true);
    }
    if (ReadIniInt(file, kPolicyServer, "ClientConnectionRetryTimes", value) == 0 && value > 0) {
        commParameters_.SetConnectionRetryTimes(static_cast<unsigned>(value));
    }
    if (ReadIniInt(file, kPolicyServer, "ClientConnectionRetrySleepTime", value) == 0 &&
        value > 0) {
        commParameters_.SetConnectionRetrySleepTime(static_cast<unsigned>(value));
    }
    if (ReadIniInt(file, kPolicyServer, "ServiceExpirationTime", value) == 0 && value > 0) {
        commParameters_.SetServiceExpirationTime(static_cast<unsigned>(value));
    }

    text.clear();
    localServerIP_.clear();
    if (ReadIniString(fileName_, kPolicyServer, "LocalServerIP", text) && !text.empty()) {
        try {
            commParameters_.SetLocalAddress(OvInetAddress(text, 0, false).GetIpAddress(false));
        } catch (const std::exception&) {
            status_ = kIniParamBadLocalServerIP;
        }
        localServerIP_ = text;
    }

    // ReadIniString writes the field only when it finds the key.
    auto readText = [this](const char* section, const char* key, std::string& field) {
        field.clear();
        ReadIniString(fileName_, section, key, field);
    };
    readText(kOrvane, "InstallPath", installPath_);
    if (ReadIniInt(file, kOrvane, "StatusReportFrequency", value) == 0 && value > 0) {
        statusReportFrequency_ = value;
    }
    readText(kWebService, "WebServiceIP", webServiceIP_);
    webServicePort_ = 0;
    if (ReadIniInt(file, kWebService, "WebServicePort", value) == 0 && InRange(value, 1, 65535)) {
        webServicePort_ = static_cast<unsigned short>(value);
    }
    readText(kWebConsole, "WebServerPort", webServerPort_);
}

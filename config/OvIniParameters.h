// The installation's parameters, read once from the parameter file "orvane.ini".
#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "framework/OvOS.h"
#include "services/OvCommFramework.h"

// Status codes of the parameter object.
constexpr unsigned kIniParamFileMissing = 0x30710002u;
constexpr unsigned kIniParamNoPolicyServerIP = 0x20710003u;
constexpr unsigned kIniParamBadPolicyServerPort = 0x20710004u;
constexpr unsigned kIniParamBadPolicyServerWaitTime = 0x20710005u;
constexpr unsigned kIniParamBadLocalServerIP = 0x20710006u;
// Module id of the parameter object's error records.
constexpr unsigned kIniParamModuleId = 0x718000u;

// Section and key of one component's identifier in the parameter file.
struct IniComponentKey {
    const char* section;
    const char* key;
};

constexpr std::size_t kIniComponentCount = 15;

class OvIniParameters {
public:
    // Reads every key; a missing file or key leaves its default in place and
    // is reported through the status and, for the policy server's address and
    // port, an error record of the application's error stream.
    explicit OvIniParameters(const std::string& fileName);
    OvIniParameters(const OvIniParameters&) = delete;
    OvIniParameters& operator=(const OvIniParameters&) = delete;
    ~OvIniParameters();

    unsigned GetPolicyServerIP(std::string& ip);
    unsigned GetPolicyServerPort(unsigned short& port);
    OvCommParameters& GetCommParameters() { return commParameters_; }

    unsigned GetStatus() const { return status_; }
    const std::string& GetComponentId(std::size_t index) const { return componentIds_.at(index); }
    const std::string& GetInstallPath() const { return installPath_; }
    unsigned short GetUidBroadcastPort() const { return uidBroadcastPort_; }
    unsigned GetPolicyServerWaitTime() const { return policyServerWaitTime_; }
    unsigned GetUidBroadcastResponseTimeout() const { return uidBroadcastResponseTimeout_; }
    const std::string& GetWebServiceIP() const { return webServiceIP_; }
    unsigned short GetWebServicePort() const { return webServicePort_; }
    const std::string& GetWebServerPort() const { return webServerPort_; }
    const std::string& GetLocalServerIP() const { return localServerIP_; }
    int GetStatusReportFrequency() const { return statusReportFrequency_; }
    // Whether [UserServiceCommand] HistoryFile lets the history be kept in a
    // file: anything but no, off, false or 0.
    bool GetHistoryFileWanted() const { return historyFileWanted_; }

    // Where each component identifier is read from; the first is the policy server's.
    static const std::array<IniComponentKey, kIniComponentCount>& ComponentKeys();

private:
    // After a read: true when it failed because the file could not be read,
    // with the status set and the record written for the given source line.
    bool FileWentMissing(bool found, int line);
    bool ReadStringParameter(const char* section, const char* key, std::string& field);
    // False when the file went missing on the way.
    bool ReadIdentifiers();
    void ReadHistoryFileWanted();
    bool ReadPolicyServerIP();
    void ReadNumbers();
    void ReadTexts();
    void SetStatusIfClear(unsigned code);
    void Report(unsigned code, int line);

    std::string fileName_;
    std::string policyServerIP_ = "127.0.0.1";
    std::array<std::string, kIniComponentCount> componentIds_;
    std::string installPath_;
    unsigned short policyServerPort_ = 55806;
    unsigned short uidBroadcastPort_ = 0;
    unsigned policyServerWaitTime_ = 5;
    unsigned uidBroadcastResponseTimeout_ = 10;
    std::string webServiceIP_;
    unsigned short webServicePort_ = 0;
    std::string webServerPort_;
    std::string localServerIP_;
    OvCommParameters commParameters_;
    int statusReportFrequency_ = 5;
    bool historyFileWanted_ = true;
    OvRWMutex lock_{std::string()};
    unsigned status_ = 0;
};

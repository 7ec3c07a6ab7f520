// The communication framework of the installation's services, its parameter
// record, the configuration-service location and the password wrapper.
#pragma once

#include "framework/OvString.h"

class OvCommParameters {
public:
    unsigned connectionTimeout = 3000;  // milliseconds
    unsigned statusCheckTimeout = 1000;
    unsigned methodTimeout = 120;           // seconds
    unsigned statusCheckFrequency = 60000;  // milliseconds
    unsigned serviceExpirationTime = 3600;
    unsigned localAddress = 0;  // as OvInetAddress::GetIpAddress gives it
    bool secureSocketLayer = false;
    unsigned connectionRetryTimes = 3;
    unsigned connectionRetrySleepTime = 10;

    void SetConnectionTimeout(unsigned v) { connectionTimeout = v; }
    void SetStatusCheckTimeout(unsigned v) { statusCheckTimeout = v; }
    void SetMethodTimeout(unsigned v) { methodTimeout = v; }
    void SetStatusCheckFrequency(unsigned v) { statusCheckFrequency = v; }
    void SetServiceExpirationTime(unsigned v) { serviceExpirationTime = v; }
    void SetLocalAddress(unsigned v) { localAddress = v; }
    void SetSecureSocketLayer(bool v) { secureSocketLayer = v; }
    void SetConnectionRetryTimes(unsigned v) { connectionRetryTimes = v; }
    void SetConnectionRetrySleepTime(unsigned v) { connectionRetrySleepTime = v; }
};

class OvCommFramework {
public:
    virtual ~OvCommFramework();
    virtual OvCommFramework* GetInterface() = 0;
    // Keeps a copy of the parameters; the services read their network
    // time-outs from it (CurrentCommParameters).
    virtual unsigned SetCommParameters(OvCommParameters& parameters) = 0;
    virtual unsigned Start() = 0;
};

// The parameters last given to the framework, or the defaults.
OvCommParameters CurrentCommParameters();

// What Start does besides marking the framework started: when the services
// are reached over the network, their library installs a starter that opens
// the connection to the location with the parameters last given. Returns a
// status, which Start passes on.
using OvCommStarter = unsigned (*)(const std::string& location, const OvCommParameters& parameters);
void OvSetCommStarter(OvCommStarter starter);

class OvConfigServiceProxy {
public:
    // host:port of the policy server; kept for the services.
    static void SetLocation(const char* location);
    static std::string GetLocation();
};

// Holds a password for one call and wipes its copy when destroyed.
class OvWIFFLEPassword {
public:
    OvWIFFLEPassword(const OvWString& password, bool flag);
    OvWIFFLEPassword(const OvWIFFLEPassword&) = delete;
    OvWIFFLEPassword& operator=(const OvWIFFLEPassword&) = delete;
    ~OvWIFFLEPassword();

    const OvWString& GetPassword() const { return password_; }

private:
    OvWString password_;
};

// Overwrites every character of a text that held a secret, then empties it.
void OvWipe(std::string& secret);
void OvWipe(std::wstring& secret);
void OvWipe(OvWString& secret);

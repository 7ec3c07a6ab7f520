// What every subcommand of userservice shares: the settings file found, the
// services put together from it once, the printer, and the passwords read.
#pragma once

#include <string>

#include "apps/userservice/UsOutput.h"
#include "platform/directory/Secret.h"
#include "services/OvUserServiceBase.h"
#include "services/ProxyHandle.h"

struct UsOptions {
    std::string config;  // --config; empty: looked for
    std::string format = "text";
    std::string passwordFile;
    bool passwordStdin = false;
};

class UsSession {
public:
    explicit UsSession(const UsOptions& options) : options_(options) {}

    // The parameter file in force: --config, ./orvane.ini,
    // $XDG_CONFIG_HOME/userservicecommand/orvane.ini (~/.config by default),
    // /etc/userservicecommand/orvane.ini; empty when there is none (the
    // built-in sample directory answers).
    std::string ConfigFile() const;
    // The services put together from the parameter file, once.
    void Start();
    OvUserServiceBase* UserService();
    // The handle itself, for the console's parts that take one.
    ProxyHandle<OvUserServiceBase>& UserServiceHandle() { return userService_; }
    UsFormat Format() const;
    UsPrinter Printer(const std::string& command, const std::string& input) const;

    // The password: --password-file, --password-stdin, else the terminal
    // without echo. kUsSuccess, or the exit status after a message.
    int ReadPassword(const std::string& prompt, ovdir::Secret& password) const;

private:
    const UsOptions& options_;
    bool started_ = false;
    ProxyHandle<OvUserServiceBase> userService_{0};
};

// Where a parameter file is looked for when --config names none, in order.
std::string UsFindConfig(const char* xdgConfigHome, const char* home);

// Parses the command line, runs its subcommand (UsCommandLine.cpp) and
// gives the exit status.
int UsRun(int argc, char** argv);

// The access settings of the services at the daemon and the loading of the
// module that reaches them (RemoteAccess.h): what a program reads and does
// before it knows whether it needs the network at all.
#include <algorithm>
#include <cstring>
#include <string>

#include <arpa/inet.h>
#include <dlfcn.h>
#include <unistd.h>

#include "framework/OvApplication.h"
#include "framework/OvString.h"
#include "platform/directory/Directory.h"
#include "platform/remote/RemoteAccess.h"
#include "services/OvDirectoryServiceBase.h"
#include "services/OvProxyFactories.h"
#include "services/OvTransIdServiceBase.h"
#include "services/OvUserServiceBase.h"

namespace ovremote {

// A warning record about the services' access.
void Warn(const std::string& location, const std::string& message)
{
    if (!OvApplication::Exists()) return;
    OvApplication::Itself().GetErrorStream(ovdir::kWarningServicesSetting, ovdir::kServicesModuleId,
                                           location.c_str(), 0, -1)
        << message << ::ends;
}

bool ReadAccessSettings(const OvServiceSettings& settings, AccessSettings& access)
{
    std::string services;
    if (!settings.FindSetting("ServiceAccess", "Services", services)) return false;
    if (OvEqualsIgnoringAsciiCase(services, "local")) return false;
    if (!OvEqualsIgnoringAsciiCase(services, "remote")) {
        Warn(settings.Source(), "Services=" + OvPrintable(services.substr(0, 40)) +
                                    " is neither local nor remote; the services answer in the "
                                    "program");
        return false;
    }
    settings.FindSetting("ServiceAccess", "Location", access.location);
    settings.FindSetting("ServiceAccess", "CAFile", access.caFile);
    settings.FindSetting("ServiceAccess", "CertificateFile", access.certificateFile);
    settings.FindSetting("ServiceAccess", "KeyFile", access.keyFile);
    return true;
}

bool IsLoopbackAddress(const std::string& address)
{
    std::string host = address;
    if (!host.empty() && host.front() == '[') {
        host = host.substr(1, host.find(']') - 1);
    } else if (std::count(host.begin(), host.end(), ':') == 1) {
        host = host.substr(0, host.find(':'));
    }
    in_addr v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    return host == "::1" || OvEqualsIgnoringAsciiCase(host, "localhost");
}

namespace {

constexpr const char* kModule = "userservicecommand-remote.so";

// The folder of the running program, links resolved.
std::string ProgramFolder()
{
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return ".";
    const std::string program(path, static_cast<std::size_t>(length));
    return program.substr(0, program.rfind('/'));
}

}  // namespace

bool LoadRemoteServices(const AccessSettings& access)
{
    // A program built with the proxies inside (the sanitizers' builds: their
    // leak checker cannot follow a loaded module's threads) needs no module.
    if (void* inside = dlsym(RTLD_DEFAULT, "ov_use_remote_services")) {
        void (*use)(const AccessSettings*) = nullptr;
        std::memcpy(&use, &inside, sizeof use);
        use(&access);
        return true;
    }
    const std::string folder = ProgramFolder();
    std::string why;
    for (const std::string& path :
         {folder + "/" + kModule, folder + "/../lib/userservicecommand/" + kModule}) {
        void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module == nullptr) {
            if (why.empty()) why = dlerror();
            continue;
        }
        void* entry = dlsym(module, "ov_use_remote_services");
        if (entry == nullptr) {
            why = path + " has no entry point";
            continue;
        }
        void (*use)(const AccessSettings*) = nullptr;
        std::memcpy(&use, &entry, sizeof use);
        use(&access);
        return true;
    }
    Warn("ServiceAccess", "the services at the daemon cannot be reached: " + OvPrintable(why));
    // Not the program's own services in their place: no proxy at all.
    OvProxyFactories::Pointer registry = OvProxyFactories::Instance();
    registry->Register(ProxyKey<OvUserServiceBase>(), nullptr);
    registry->Register(ProxyKey<OvTransIdServiceBase>(), nullptr);
    registry->Register(ProxyKey<OvDirectoryServiceBase>(), nullptr);
    return false;
}

}  // namespace ovremote

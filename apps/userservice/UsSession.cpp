// The session of one userservice run (UsSession.h).
#include "apps/userservice/UsSession.h"

#include <cstdlib>
#include <iostream>

#include <sys/stat.h>
#include <unistd.h>

#include "assembly/OvProgramParts.h"
#include "config/OvIniParameters.h"
#include "config/OvServiceSettingsFile.h"
#include "console/OvConsoleIo.h"
#include "console/OvTerminal.h"
#include "services/OvCommFramework.h"

namespace {

bool IsFile(const std::string& path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && !S_ISDIR(status.st_mode);
}

bool HasPolicyServerSection(const std::string& file)
{
    for (const auto& [section, key] : ReadServiceSettings(file).Keys())
        if (OvEqualsIgnoringAsciiCase(section, "PolicyServer")) return true;
    return false;
}

}  // namespace

std::string UsFindConfig(const char* xdgConfigHome, const char* home)
{
    if (IsFile("orvane.ini")) return "orvane.ini";
    std::string folder;
    // As the XDG base directories say: a relative value is ignored.
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/')
        folder = xdgConfigHome;
    else if (home != nullptr && home[0] == '/')
        folder = std::string(home) + "/.config";
    if (!folder.empty()) {
        const std::string user = folder + "/userservicecommand/orvane.ini";
        if (IsFile(user)) return user;
    }
    const std::string system = "/etc/userservicecommand/orvane.ini";
    return IsFile(system) ? system : std::string();
}

std::string UsSession::ConfigFile() const
{
    if (!options_.config.empty()) return options_.config;
    return UsFindConfig(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
}

void UsSession::Start()
{
    if (started_) return;
    started_ = true;
    OvCommParameters comm;
    const std::string file = ConfigFile();
    if (OvAssembleServices(file, comm) && HasPolicyServerSection(file)) {
        // The services are the daemon's: where it is and how it is reached
        // come from the file's [PolicyServer] section, read as the console
        // reads it. Without one, [ServiceAccess] Location names the daemon
        // and the framework's defaults hold.
        OvIniParameters parameters(file);
        comm = parameters.GetCommParameters();
        std::string host;
        unsigned short port = 0;
        parameters.GetPolicyServerIP(host);
        parameters.GetPolicyServerPort(port);
        OvConfigServiceProxy::SetLocation((host + ":" + std::to_string(port)).c_str());
    }
    ProxyHandle<OvCommFramework> framework(0);
    framework.GetInterface()->SetCommParameters(comm);
    framework.GetInterface()->Start();
}

OvUserServiceBase* UsSession::UserService()
{
    Start();
    return userService_.GetInterface();
}

UsFormat UsSession::Format() const
{
    if (options_.format == "json") return UsFormat::Json;
    if (options_.format == "dn") return UsFormat::Dn;
    return UsFormat::Text;
}

UsPrinter UsSession::Printer(const std::string& command, const std::string& input) const
{
    return UsPrinter(std::cout, Format(), command, input, isatty(STDOUT_FILENO) == 1);
}

int UsSession::ReadPassword(const std::string& prompt, ovdir::Secret& password) const
{
    if (!options_.passwordFile.empty()) {
        std::string reason;
        if (ovdir::ReadSecretFile(options_.passwordFile, password, reason)) return kUsSuccess;
        std::cerr << "userservice: the password file " << OvPrintable(options_.passwordFile)
                  << " could not be read: " << reason << std::endl;
        return kUsUsage;
    }
    const bool terminal = isatty(STDIN_FILENO) == 1;
    if (!options_.passwordStdin && !terminal) {
        std::cerr << "userservice: no terminal to read the password from: give "
                     "--password-file FILE or --password-stdin"
                  << std::endl;
        return kUsUsage;
    }
    // One line, at most the console's line room; the prompt on standard
    // error, so that the answer alone is on standard output.
    std::string typed;
    typed.reserve(OvConsoleIo::kLineRoom + 1);
    if (options_.passwordStdin) {
        // Byte by byte from the descriptor: no stream buffer keeps a copy.
        // At most one line of the room: an input without end (a device, a
        // stream that never sends a newline) is refused, not read forever.
        char c = 0;
        bool ended = false;
        while (typed.size() <= OvConsoleIo::kLineRoom && ::read(STDIN_FILENO, &c, 1) == 1) {
            ended = c == '\n';
            if (ended) break;
            typed += c;
        }
        c = 0;
        if (!ended && typed.size() > OvConsoleIo::kLineRoom) {
            OvWipe(typed);
            std::cerr << "userservice: the password on standard input is longer than "
                      << OvConsoleIo::kLineRoom << " bytes" << std::endl;
            return kUsUsage;
        }
        if (!typed.empty() && typed.back() == '\r') typed.pop_back();
    } else {
        OvTerminalEcho echo(STDIN_FILENO);
        OvConsoleIo io(std::cin, std::cerr, std::wcerr, &echo);
        io.Prompt(prompt + ": ", OvAnswerKind::None);
        io.ReadHiddenLine(typed);
    }
    password = typed;
    OvWipe(typed);
    return kUsSuccess;
}

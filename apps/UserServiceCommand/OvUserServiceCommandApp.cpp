// The command application's run: where the policy server is (parameter file,
// command line, two prompts), the communication framework, the menu loop.
#include "apps/UserServiceCommand/OvUserServiceCommandApp.h"

#include <cstdlib>
#include <iostream>
#include <string>

#include <unistd.h>

#include "apps/UserServiceCommand/OvMenu.h"
#include "apps/UserServiceCommand/OvTerminalSession.h"
#include "assembly/OvProgramParts.h"
#include "config/OvIniParameters.h"
#include "console/OvConsoleIo.h"
#include "console/OvTerminal.h"
#include "framework/OvString.h"
#include "services/OvCommFramework.h"
#include "services/ProxyHandle.h"

namespace {

// The installation's parameter file, in the working folder.
const char* const kParameterFile = "orvane.ini";

// As atoi gives it, kept to the low 16 bits: 70000 is port 4464, text is 0.
unsigned short PortFromText(const std::string& text)
{
    return static_cast<unsigned short>(std::strtol(text.c_str(), nullptr, 10));
}

// The policy server's location as the user confirms or changes it at the two
// start-up prompts: "host:port", the port as typed when one was typed.
std::string AskPolicyLocation(OvConsoleIo& io, std::string host, unsigned short port)
{
    std::string answer;
    io.Prompt("PolicyServer ip or name (" + OvPrintable(host) + "): ", OvAnswerKind::PolicyHost);
    io.ReadLine(answer);
    if (!answer.empty()) host = answer;
    std::string location = host + ":";

    io.Prompt("PolicyServer port (" + std::to_string(port) + "): ", OvAnswerKind::PolicyPort);
    io.ReadLine(answer);
    if (!answer.empty()) {
        port = PortFromText(answer);
        location += answer;  // the text as typed, not the number made of it
    } else {
        location += std::to_string(port);
    }
    return location;
}

}  // namespace

OvUserServiceCommandApp::OvUserServiceCommandApp() : OvConsoleApplication(L"UserServiceCommand") {}

OvUserServiceCommandApp::~OvUserServiceCommandApp() = default;

int OvUserServiceCommandApp::Run()
{
    OvTerminalEcho terminal(0);
    OvConsoleIo io(std::cin, std::cout, std::wcout, &terminal);
    io.SetFlushEachLine(isatty(STDOUT_FILENO) == 1);
    std::ostream& out = io.Out();

    OvIniParameters parameters(kParameterFile);
    // At a terminal every prompt from here on is read through a line editor.
    OvTerminalSession terminalSession(io, parameters.GetHistoryFileWanted());
    unsigned short port = 0;
    std::string host;
    parameters.GetPolicyServerPort(port);
    parameters.GetPolicyServerIP(host);

    const std::vector<std::string>& args = GetArgs();
    if (args.size() > 1) {
        if (args[1] == "-?" || args[1] == "-h" || args[1] == "--help") {
            out << "Usage: " << args[0] << " [config host] [config port]\n";
        } else {
            host = args[1];
            if (args.size() > 2) port = PortFromText(args[2]);
        }
    }
    // The host may come from the parameter file: shown as such text is.
    out << "Using policy service location " << OvPrintable(host) << ":" << port << std::endl;
    out << "\n\nUserService Command Line\n"
        << "========================\n\n";

    const std::string location = AskPolicyLocation(io, host, port);
    out << "Using PolicyServer location " << OvPrintable(location) << std::endl << std::endl;

    OvCommParameters commParameters = parameters.GetCommParameters();
    // The program waits up to ten minutes for a service's answer.
    commParameters.methodTimeout = 600;
    OvConfigServiceProxy::SetLocation(location.c_str());
    OvAssembleServices(kParameterFile, commParameters);

    ProxyHandle<OvCommFramework> framework(0);
    framework.Acquire();
    framework.GetInterface()->SetCommParameters(commParameters);
    framework.GetInterface()->Start();

    // Declared after the framework handle so that it is given back first.
    ProxyHandle<OvUserServiceBase> userService(0);
    OvCommandContext context{io, userService};
    terminalSession.CompleteWith(context);
    RunMenuLoop(context);
    return 0;
}

void OvUserServiceCommandApp::Shutdown() {}

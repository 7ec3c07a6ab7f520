// What every command of the menu shares: the console, the user-service
// handle, and the dialogue conventions (prompts, call echo, lists, the error
// report). A command itself is only its prompts, one call and its printing.
#pragma once

#include <string>
#include <vector>

#include "console/OvConsoleIo.h"
#include "framework/OvString.h"
#include "services/OvUserServiceBase.h"
#include "services/ProxyHandle.h"

struct OvCommandContext {
    OvConsoleIo& io;
    // Acquired by the first command that needs it, kept until the menu ends.
    ProxyHandle<OvUserServiceBase>& userService;
};

// A line feed, the text and ": ", then one typed line (see OvConsoleIo::ReadLine)
// of the kind given (at a terminal, each kind recalls its own earlier answers).
std::string LinePrompt(OvCommandContext& context, const std::string& text,
                       OvAnswerKind kind = OvAnswerKind::None);
// As LinePrompt, with the terminal not showing what is typed.
std::string HiddenPrompt(OvCommandContext& context, const std::string& text);
// A line prompt whose answer keeps three characters; false only for "0".
bool FlagPrompt(OvCommandContext& context, const std::string& text);
// "\nIP: ", then a dotted address or host name resolved to an IPv4 address
// as the trans-id service takes it; 0 when there is none, after a message
// when the name could not be resolved.
unsigned AddressPrompt(OvCommandContext& context);

// "Call with " and the answer as typed (a search adds its other answers), on a
// line of its own.
void EchoCall(OvCommandContext& context, const std::string& answer);
// Writes text and a line end.
void PrintLine(OvCommandContext& context, const std::string& text);
// The heading (which ends in a line feed), then one tab-indented line per
// entry, each as OvPrintable shows it.
void PrintList(OvCommandContext& context, const std::string& heading,
               const std::vector<OvWString>& entries);
// The event log's text for a failed call's status, then " Error #" and the
// status as an unsigned number.
void ReportError(OvCommandContext& context, unsigned status);

// The user service, acquiring the shared handle first if it is empty.
OvUserServiceBase* UserService(OvCommandContext& context);
// The words for a domain search's outcome (a DomainSearchStatus).
const char* DomainSearchStatusText(int searchStatus);

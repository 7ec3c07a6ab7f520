// The dialogue conventions shared by the commands.
#include "apps/UserServiceCommand/OvCommandSupport.h"

#include "console/OvPieceWriter.h"
#include "framework/OvInetAddress.h"
#include "services/OvEventLogBase.h"

namespace {

constexpr std::size_t kFlagRoom = 3;

void WritePrompt(OvCommandContext& context, const std::string& text, OvAnswerKind kind)
{
    context.io.Prompt('\n' + text + ": ", kind);
}

}  // namespace

std::string LinePrompt(OvCommandContext& context, const std::string& text, OvAnswerKind kind)
{
    WritePrompt(context, text, kind);
    std::string answer;
    context.io.ReadLine(answer);
    return answer;
}

std::string HiddenPrompt(OvCommandContext& context, const std::string& text)
{
    WritePrompt(context, text, OvAnswerKind::None);
    std::string answer;
    context.io.ReadHiddenLine(answer);
    return answer;
}

bool FlagPrompt(OvCommandContext& context, const std::string& text)
{
    WritePrompt(context, text, OvAnswerKind::Flag);
    std::string answer;
    context.io.ReadLine(answer, kFlagRoom);
    return answer != "0";
}

unsigned AddressPrompt(OvCommandContext& context)
{
    const std::string host = LinePrompt(context, "IP", OvAnswerKind::Address);
    try {
        const OvInetAddress address(host, 0, false);
        return address.GetIpAddress(false);
    } catch (const OvNetworkException&) {
        context.io.Out() << "\n!!! Couldn't translate given IP or hostname !!!\n";
        return 0;
    }
}

void EchoCall(OvCommandContext& context, const std::string& answer)
{
    PrintLine(context, "Call with " + answer);
}

void PrintLine(OvCommandContext& context, const std::string& text)
{
    context.io.Out() << text << '\n' << std::flush;
}

void PrintList(OvCommandContext& context, const std::string& heading,
               const std::vector<OvWString>& entries)
{
    std::ostream& out = context.io.Out();
    out << heading;
    if (context.io.FlushEachLine()) {
        for (const OvWString& entry : entries) PrintLine(context, "\t" + OvPrintable(entry.utf8()));
        return;
    }
    {
        OvPieceWriter writer(out);
        for (const OvWString& entry : entries) {
            writer.Text() += '\t';
            OvAppendPrintable(writer.Text(), entry.utf8());
            writer.Text() += '\n';
            writer.Next();
        }
    }
    out << std::flush;
}

void ReportError(OvCommandContext& context, unsigned status)
{
    // Kept to the end of the process: one event-log proxy serves every report.
    static ProxyHandle<OvEventLogBase> eventLog(0);
    OvWString message;
    eventLog.GetInterface()->GetErrorMessage(status, message);
    context.io.Out() << '\n';
    PrintLine(context, OvPrintable(message.utf8()));
    PrintLine(context, " Error #" + std::to_string(status));
}

OvUserServiceBase* UserService(OvCommandContext& context)
{
    return context.userService.GetInterface();
}

const char* DomainSearchStatusText(int searchStatus)
{
    switch (searchStatus) {
        case kDomainSearchSuccess:
            return "Success";
        case kDomainSearchUnknownFailure:
            return "Unknown failure";
        case kDomainSearchConnectionFailed:
            return "Connection failed";
        case kDomainSearchFailed:
            return "Search failed";
        case kDomainSearchInvalidCredentials:
            return "Invalid credentials";
        case kDomainSearchSslFailed:
            return "SSL connection failed";
        default:
            return "Unknown error code";
    }
}

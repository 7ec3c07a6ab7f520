// The line editor of a session at a terminal and the completion of contexts.
#include "apps/UserServiceCommand/OvTerminalSession.h"

#include <cctype>

#include <unistd.h>

#include "framework/OvString.h"

namespace {

// The directory types a context may name, as completion offers them.
const char* const kTypes[] = {"LDAP://", "ADS://", "NDS://", "IPLANET://"};

}  // namespace

bool OvContextCompleter::Complete(OvAnswerKind kind, const std::string& before, std::size_t& at,
                                  std::vector<std::string>& words)
{
    words.clear();
    if (kind != OvAnswerKind::Context) return false;
    const std::size_t start = before.find_first_not_of(" \t");
    if (start == std::string::npos) {
        at = before.size();
        words.assign(std::begin(kTypes), std::end(kTypes));
        return true;
    }
    const std::size_t scheme = before.find("://", start);
    if (scheme == std::string::npos) {
        // The type.
        at = start;
        for (const char* type : kTypes)
            if (OvStartsWithIgnoringAsciiCase(type, before.substr(start))) words.emplace_back(type);
        return !words.empty();
    }
    // Nothing to offer for the server itself: it is whatever the user knows.
    const std::size_t blank = before.find_first_of(" \t", scheme + 3);
    if (blank == std::string::npos) return false;
    const std::size_t rest = before.find_first_not_of(" \t", blank);
    if (rest == std::string::npos) {
        at = before.size();
    } else {
        const std::size_t slash = before.rfind('/');
        at = slash != std::string::npos && slash >= rest ? slash + 1 : rest;
    }
    std::vector<OvWString> found;
    const unsigned status = UserService(context_)->CompleteContext(
        makeWideString(before.substr(start)), kOvCompletionLimit, kOvCompletionMilliseconds, found);
    if (status != 0) return false;
    // Shown and put into the line as every printed name is: a container's
    // escapes read back as the same DN.
    for (const OvWString& word : found) words.push_back(OvPrintable(word.utf8()));
    return !words.empty();
}

OvTerminalSession::OvTerminalSession(OvConsoleIo& io, bool historyFile) : io_(io)
{
    if (isatty(STDIN_FILENO) != 1 || isatty(STDOUT_FILENO) != 1) return;
    history_ = std::make_unique<OvAnswerHistory>(historyFile ? OvAnswerHistory::DefaultPath()
                                                             : std::string());
    editor_ = OvOpenTerminalEditor(*history_);
    io_.SetLineEditor(editor_.get());
}

OvTerminalSession::~OvTerminalSession()
{
    io_.SetLineEditor(nullptr);
    if (editor_) editor_->SetCompleter(nullptr);
}

void OvTerminalSession::CompleteWith(OvCommandContext& context)
{
    if (!editor_) return;
    completer_ = std::make_unique<OvContextCompleter>(context);
    editor_->SetCompleter(completer_.get());
}

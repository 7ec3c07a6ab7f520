// A session at a terminal: the line editor with its history file, and the
// completion of contexts from the directory through the user service.
#pragma once

#include <memory>
#include <string>

#include "apps/UserServiceCommand/OvCommandSupport.h"
#include "console/OvAnswerHistory.h"
#include "console/OvLineEditor.h"

// Most words one completion asks the directory for, and the time it gives it.
constexpr unsigned kOvCompletionLimit = 100;
constexpr unsigned kOvCompletionMilliseconds = 2000;

// Completes the answers of context prompts: the directory type, then the
// containers of the server, then the users and groups of a container.
class OvContextCompleter final : public OvCompleter {
public:
    explicit OvContextCompleter(OvCommandContext& context) : context_(context) {}
    bool Complete(OvAnswerKind kind, const std::string& before, std::size_t& at,
                  std::vector<std::string>& words) override;

private:
    OvCommandContext& context_;
};

class OvTerminalSession {
public:
    // When standard input and output are a terminal, reads every prompt of io
    // through a line editor from now on, with the history file when
    // historyFile is set (the parameter file's [UserServiceCommand]
    // HistoryFile).
    OvTerminalSession(OvConsoleIo& io, bool historyFile);
    OvTerminalSession(const OvTerminalSession&) = delete;
    OvTerminalSession& operator=(const OvTerminalSession&) = delete;
    ~OvTerminalSession();

    // Tab at a context prompt completes through the commands' user service.
    void CompleteWith(OvCommandContext& context);

private:
    OvConsoleIo& io_;
    std::unique_ptr<OvAnswerHistory> history_;
    std::unique_ptr<OvLineEditor> editor_;
    std::unique_ptr<OvContextCompleter> completer_;
};

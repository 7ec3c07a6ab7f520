// Line editing at a terminal: what kind of answer a prompt asks for (each
// kind keeps a history of its own), the completion a prompt may offer, and
// the editor that reads a line with both.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// What a prompt asks for. Answers of one kind are recalled at prompts of the
// same kind only; a password is none of them and is never kept.
enum class OvAnswerKind {
    None,        // not kept
    Selection,   // the menu
    PolicyHost,  // start-up: the policy server's address
    PolicyPort,  // start-up: its port
    Context,     // a directory URL: a context, or a user's or group's FQDN
    User,        // a login, domain login, e-mail address or bind DN
    Name,        // a name to search for
    Type,        // a directory type
    Domain,      // a domain's short name
    Address,     // a workstation's address or host name
    Flag,        // 0 or 1
};

// The kind's name in the history file; null for None.
const char* OvAnswerKindName(OvAnswerKind kind);

// Words that may continue a line being typed.
class OvCompleter {
public:
    virtual ~OvCompleter();
    // For the text before the cursor at a prompt of the kind: where the word
    // being completed begins (`at`, an offset into `before`) and the words
    // that may stand there in its place. False or no words: nothing to offer,
    // and nothing is shown.
    virtual bool Complete(OvAnswerKind kind, const std::string& before, std::size_t& at,
                          std::vector<std::string>& words) = 0;
};

class OvLineEditor {
public:
    virtual ~OvLineEditor();
    // Shows the prompt (one line, no line feed), lets the user edit one line
    // and gives it without its line feed. False at the end of input.
    virtual bool ReadLine(const std::string& prompt, OvAnswerKind kind, std::string& line) = 0;
    // Completion from now on (null: none). The completer must outlive its use.
    virtual void SetCompleter(OvCompleter* completer) = 0;
};

class OvAnswerHistory;

// libedit on the terminal of standard input and output, with emacs keys
// (cursor keys, Home/End, Ctrl-A/E/K/U/W, Ctrl-R search), history per kind
// from `history`, and Tab completion. Null when standard input or output is
// not a terminal, or the editor cannot start. `history` must outlive it.
std::unique_ptr<OvLineEditor> OvOpenTerminalEditor(OvAnswerHistory& history);

// The shape of completion shared by every editor: what Tab does with the
// words a completer gave for the text `typed` (the word under completion).
struct OvCompletionStep {
    // Replace `typed` by this text (when `replace`).
    bool replace = false;
    std::string text;
    // Show the words (a second Tab with nothing left to add).
    bool list = false;
};
// repeated: the Tab before this one changed nothing and the line is as it was.
OvCompletionStep OvPlanCompletion(const std::string& typed, const std::vector<std::string>& words,
                                  bool repeated);
// The words laid out in columns for a terminal `width` characters wide, each
// row ending in a line feed.
std::string OvFormatChoices(const std::vector<std::string>& words, std::size_t width);

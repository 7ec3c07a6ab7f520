// The answers typed at the prompts, per kind, for the session and across
// sessions in a history file of the user's own (mode 0600). Only what the
// line editor hands over is kept; hidden answers never reach it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "console/OvLineEditor.h"

class OvAnswerHistory {
public:
    // Most answers kept per kind.
    static constexpr std::size_t kKeptPerKind = 500;

    // Loads the file at `path`; an empty path keeps the history for the
    // session alone. A file that cannot be read or written is passed over
    // silently: history is a convenience, never a reason to stop.
    explicit OvAnswerHistory(std::string path);

    // Oldest first.
    const std::vector<std::string>& Entries(OvAnswerKind kind) const;
    // Keeps a typed answer: not a blank one, not one equal to the kind's
    // latest, nothing of kind None. Appended to the file at once, so that a
    // session that ends by a signal keeps what was typed. True when kept.
    bool Add(OvAnswerKind kind, const std::string& answer);

    const std::string& Path() const { return path_; }

    // $XDG_STATE_HOME/UserServiceCommand/history, or under ~/.local/state
    // when XDG_STATE_HOME is unset or not an absolute path; empty when
    // neither can be found.
    static std::string DefaultPath();

private:
    void Load();
    // Writes the kept entries afresh when the file has grown well past them.
    void Compact(std::size_t linesInFile);

    std::string path_;
    std::map<OvAnswerKind, std::vector<std::string>> entries_;
};

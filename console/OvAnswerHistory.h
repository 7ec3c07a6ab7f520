// The answers typed at the prompts, per kind, for the session and across
// sessions in a history file of the user's own (mode 0600). Only what the
// line editor hands over is kept; hidden answers never reach it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "console/OvLineEditor.h"

// The warning record of a history folder or file that others could write to
// or that is not the user's own: the history is then kept for the session.
constexpr unsigned kOvHistoryNotPrivate = 0x20A10001u;
// Module id of the console's own records.
constexpr unsigned kOvConsoleModuleId = 0x30A100u;

class OvAnswerHistory {
public:
    // Most answers kept per kind.
    static constexpr std::size_t kKeptPerKind = 500;

    // Loads the file at `path`; an empty path keeps the history for the
    // session alone. The file is used only when it and its folder (created
    // for the user alone when missing) belong to the user and nobody else may
    // write to them; otherwise one warning record says so and the history is
    // kept for the session (Path() is then empty). A file that cannot be read
    // or written later is passed over silently: history is a convenience,
    // never a reason to stop.
    explicit OvAnswerHistory(std::string path);
    OvAnswerHistory(const OvAnswerHistory&) = delete;
    OvAnswerHistory& operator=(const OvAnswerHistory&) = delete;
    ~OvAnswerHistory();

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
    // Opens and judges the folder, and judges the file if there is one;
    // empty, or why the history is not to be kept in them. A folder that
    // cannot be opened empties path_.
    std::string OpenFolder();
    void Load();
    // Writes the kept entries afresh when the file has grown well past them.
    void Compact(std::size_t linesInFile);

    std::string path_;
    std::string folderPath_;
    std::string name_;  // the file's name in its folder
    int folder_ = -1;   // the folder, open
    std::map<OvAnswerKind, std::vector<std::string>> entries_;
};

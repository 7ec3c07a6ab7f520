// The line editor at a terminal, on libedit: one history per kind of answer,
// Tab completion through a completer, and the terminal put back as it was
// whatever ends the process.
#include "console/OvLineEditor.h"

#include <locale.h>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include <cerrno>

#include <histedit.h>
#include <termios.h>
#include <unistd.h>

#include "console/OvAnswerHistory.h"
#include "console/OvTerminal.h"
#include "framework/OvBoundedFile.h"
#include "framework/OvString.h"

OvCompleter::~OvCompleter() = default;
OvLineEditor::~OvLineEditor() = default;

namespace {

// Set when the terminal's size changed; the editor takes the new size before
// it reads the next line.
volatile std::sig_atomic_t g_resized = 0;

extern "C" void NoteResize(int) { g_resized = 1; }

// The terminal as the shell knows it, for the time the program is stopped.
struct termios g_shellSettings;
int g_terminalFd = -1;

void CatchStop();

// Ctrl-Z while a line is edited: the shell gets its terminal back while the
// program is stopped, and the editor its own when the program goes on
// (Ctrl-L then draws the line afresh).
extern "C" void StopWithTerminalBack(int)
{
    const int savedErrno = errno;
    struct termios current;
    const bool known = tcgetattr(g_terminalFd, &current) == 0;
    tcsetattr(g_terminalFd, TCSADRAIN, &g_shellSettings);
    struct sigaction stop {};
    stop.sa_handler = SIG_DFL;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGTSTP, &stop, nullptr);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, SIGTSTP);
    sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
    kill(getpid(), SIGTSTP);
    // Going on.
    CatchStop();
    if (known) tcsetattr(g_terminalFd, TCSADRAIN, &current);
    errno = savedErrno;
}

void CatchStop()
{
    struct sigaction action {};
    action.sa_handler = StopWithTerminalBack;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTSTP, &action, nullptr);
}

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Characters (not bytes) of a UTF-8 text, as the editor counts them.
int CharacterCount(const std::string& text)
{
    int count = 0;
    for (char c : text)
        if (!IsContinuationByte(c)) ++count;
    return count;
}

// The editor reads and shows UTF-8 whatever the locale of the process, whose
// own output does not depend on it either; the locale is changed for this
// thread, and only while the editor works.
class Utf8Locale {
public:
    Utf8Locale()
    {
        static locale_t utf8 = [] {
            locale_t made = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
            if (made == static_cast<locale_t>(0))
                made = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
            return made;
        }();
        if (utf8 != static_cast<locale_t>(0)) previous_ = uselocale(utf8);
    }
    Utf8Locale(const Utf8Locale&) = delete;
    Utf8Locale& operator=(const Utf8Locale&) = delete;
    ~Utf8Locale()
    {
        if (previous_ != static_cast<locale_t>(0)) uselocale(previous_);
    }

private:
    locale_t previous_ = static_cast<locale_t>(0);
};

// The most of an editor settings file that is read.
constexpr std::size_t kEditrcLimit = 1u << 20;

// The settings file libedit reads when it is given none: $EDITRC, otherwise
// .editrc in the home folder; empty when there is neither.
std::string EditrcPath()
{
    if (const char* named = std::getenv("EDITRC")) return named;
    const char* home = std::getenv("HOME");
    if (home == nullptr) return std::string();
    return *home == '\0' ? std::string(".editrc") : std::string(home) + "/.editrc";
}

class EditLineEditor final : public OvLineEditor {
public:
    explicit EditLineEditor(OvAnswerHistory& history) : history_(history) {}
    EditLineEditor(const EditLineEditor&) = delete;
    EditLineEditor& operator=(const EditLineEditor&) = delete;

    ~EditLineEditor() override
    {
        const Utf8Locale locale;
        if (editLine_ != nullptr) el_end(editLine_);
        for (auto& entry : histories_) history_end(entry.second);
    }

    bool Start()
    {
        const Utf8Locale locale;
        editLine_ = el_init("UserServiceCommand", stdin, stdout, stderr);
        if (editLine_ == nullptr) return false;
        el_set(editLine_, EL_CLIENTDATA, this);
        el_set(editLine_, EL_EDITOR, "emacs");
        el_set(editLine_, EL_PROMPT, &EditLineEditor::PromptText);
        // The process's own signal handlers stay: an interrupt ends the
        // program, with the terminal put back (OvRestoreTerminalAfterSignal).
        el_set(editLine_, EL_SIGNAL, 0);
        el_set(editLine_, EL_ADDFN, "ov-complete", "Complete the word before the cursor",
               &EditLineEditor::CompleteKey);
        // Keys as a shell's line editor has them.
        Bind("^I", "ov-complete");
        Bind("^R", "em-inc-search-prev");
        Bind("^U", "vi-kill-line-prev");
        Bind("^W", "ed-delete-prev-word");
        for (const char* home : {"\033[H", "\033OH", "\033[1~", "\033[7~"})
            Bind(home, "ed-move-to-beg");
        for (const char* end : {"\033[F", "\033OF", "\033[4~", "\033[8~"})
            Bind(end, "ed-move-to-end");
        Bind("\033[3~", "ed-delete-next-char");
        // The user's own ~/.editrc has the last word. It is read only when
        // it is a regular file of a sensible size: a FIFO or a device in its
        // place would hold the program up before its first prompt.
        if (OvCheckFileAt(EditrcPath(), kEditrcLimit) == 0) el_source(editLine_, nullptr);
        struct sigaction action {};
        action.sa_handler = NoteResize;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        sigaction(SIGWINCH, &action, nullptr);
        if (tcgetattr(STDIN_FILENO, &g_shellSettings) == 0) {
            g_terminalFd = STDIN_FILENO;
            CatchStop();
        }
        return true;
    }

    bool ReadLine(const std::string& prompt, OvAnswerKind kind, std::string& line) override
    {
        line.clear();
        const Utf8Locale locale;
        prompt_ = prompt;
        kind_ = kind;
        lastTab_.clear();
        if (g_resized != 0) {
            g_resized = 0;
            el_resize(editLine_);
        }
        el_set(editLine_, EL_HIST, history, HistoryOf(kind));
        std::fflush(stdout);
        int count = 0;
        const char* read = el_gets(editLine_, &count);
        if (read == nullptr || count <= 0) return false;
        line.assign(read, static_cast<std::size_t>(count));
        if (!line.empty() && line.back() == '\n') line.pop_back();
        if (history_.Add(kind, line)) {
            HistEvent event;
            history(HistoryOf(kind), &event, H_ENTER, line.c_str());
        }
        return true;
    }

    void SetCompleter(OvCompleter* completer) override { completer_ = completer; }

private:
    void Bind(const char* keys, const char* function)
    {
        el_set(editLine_, EL_BIND, keys, function, static_cast<const char*>(nullptr));
    }

    // The kind's session history, filled from the file's on first use.
    History* HistoryOf(OvAnswerKind kind)
    {
        auto found = histories_.find(kind);
        if (found != histories_.end()) return found->second;
        History* made = history_init();
        HistEvent event;
        history(made, &event, H_SETSIZE, static_cast<int>(OvAnswerHistory::kKeptPerKind));
        for (const std::string& answer : history_.Entries(kind))
            history(made, &event, H_ENTER, answer.c_str());
        histories_.emplace(kind, made);
        return made;
    }

    static EditLineEditor* Self(EditLine* editLine)
    {
        void* data = nullptr;
        el_get(editLine, EL_CLIENTDATA, &data);
        return static_cast<EditLineEditor*>(data);
    }

    static char* PromptText(EditLine* editLine)
    {
        return const_cast<char*>(Self(editLine)->prompt_.c_str());
    }

    static unsigned char CompleteKey(EditLine* editLine, int)
    {
        try {
            return Self(editLine)->Complete();
        } catch (...) {
            // Completion is a convenience: whatever fails, the line stays.
            return CC_NORM;
        }
    }

    // The line and the cursor's place in it, as lastTab_ keeps them.
    static std::string LineState(const LineInfo* info)
    {
        return std::string(info->buffer, static_cast<std::size_t>(info->lastchar - info->buffer)) +
               '\0' + std::to_string(info->cursor - info->buffer);
    }

    unsigned char Complete()
    {
        const LineInfo* info = el_line(editLine_);
        if (completer_ == nullptr || info == nullptr) return CC_NORM;
        const std::string before(info->buffer,
                                 static_cast<std::size_t>(info->cursor - info->buffer));
        const std::string state = LineState(info);
        const bool repeated = state == lastTab_;
        lastTab_ = state;
        std::size_t at = 0;
        std::vector<std::string> words;
        if (!completer_->Complete(kind_, before, at, words) || words.empty() || at > before.size())
            return CC_NORM;
        const std::string typed = before.substr(at);
        const OvCompletionStep step = OvPlanCompletion(typed, words, repeated);
        if (step.replace) {
            el_deletestr(editLine_, CharacterCount(typed));
            el_insertstr(editLine_, step.text.c_str());
            lastTab_ = LineState(el_line(editLine_));
            return CC_REFRESH;
        }
        if (!step.list) return CC_NORM;
        int columns = 80;
        el_get(editLine_, EL_GETTC, "co", &columns);
        const std::string shown =
            "\n" + OvFormatChoices(words, static_cast<std::size_t>(std::max(columns, 20)));
        std::fwrite(shown.data(), 1, shown.size(), stdout);
        std::fflush(stdout);
        return CC_REDISPLAY;
    }

    OvAnswerHistory& history_;
    EditLine* editLine_ = nullptr;
    std::map<OvAnswerKind, History*> histories_;
    OvCompleter* completer_ = nullptr;
    std::string prompt_;
    OvAnswerKind kind_ = OvAnswerKind::None;
    std::string lastTab_;  // the line and cursor that the last Tab left
};

}  // namespace

OvCompletionStep OvPlanCompletion(const std::string& typed, const std::vector<std::string>& words,
                                  bool repeated)
{
    OvCompletionStep step;
    if (words.empty()) return step;
    // The longest start that every word shares, never ending inside a character.
    std::string common = words.front();
    for (const std::string& word : words) {
        std::size_t same = 0;
        while (same < common.size() && same < word.size() && common[same] == word[same]) ++same;
        common.resize(same);
    }
    while (!common.empty() && common.size() < words.front().size() &&
           IsContinuationByte(words.front()[common.size()]))
        common.pop_back();
    // What is typed is replaced only by more of it (its case may change:
    // "ou=sa" becomes "ou=Sales,..."), never by less.
    if (common.size() >= typed.size() && common != typed &&
        OvStartsWithIgnoringAsciiCase(common, typed)) {
        step.replace = true;
        step.text = common;
        return step;
    }
    step.list = repeated && words.size() > 1;
    return step;
}

std::string OvFormatChoices(const std::vector<std::string>& words, std::size_t width)
{
    std::size_t widest = 1;
    for (const std::string& word : words)
        widest = std::max<std::size_t>(widest, static_cast<std::size_t>(CharacterCount(word)));
    const std::size_t columnWidth = widest + 2;
    const std::size_t columns = std::max<std::size_t>(1, width / columnWidth);
    const std::size_t rows = (words.size() + columns - 1) / columns;
    std::string out;
    // Down the columns first, as a shell lists file names.
    for (std::size_t row = 0; row < rows; ++row) {
        std::string line;
        for (std::size_t column = 0; column < columns; ++column) {
            const std::size_t index = column * rows + row;
            if (index >= words.size()) break;
            line += words[index];
            if ((column + 1) * rows + row < words.size())
                line.append(columnWidth - static_cast<std::size_t>(CharacterCount(words[index])),
                            ' ');
        }
        out += line + '\n';
    }
    return out;
}

std::unique_ptr<OvLineEditor> OvOpenTerminalEditor(OvAnswerHistory& history)
{
    if (isatty(STDIN_FILENO) != 1 || isatty(STDOUT_FILENO) != 1) return nullptr;
    // Whatever ends the process while the editor has the terminal puts back
    // the settings it has now.
    OvKeepTerminalSettingsForSignal(STDIN_FILENO);
    auto editor = std::make_unique<EditLineEditor>(history);
    if (!editor->Start()) return nullptr;
    return editor;
}

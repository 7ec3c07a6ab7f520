// Line, word and hidden reads on the console streams.
#include "console/OvConsoleIo.h"

#include <algorithm>
#include <cctype>

namespace {

using Traits = std::istream::traits_type;

bool IsBlank(Traits::int_type c)
{
    return std::isspace(static_cast<unsigned char>(Traits::to_char_type(c))) != 0;
}

}  // namespace

OvConsoleIo::OvConsoleIo(std::istream& in, std::ostream& out, std::wostream& wideOut,
                         OvEchoControl* echo)
    : in_(in), out_(out), wideOut_(wideOut), echo_(echo)
{
}

void OvConsoleIo::Prompt(const std::string& text, OvAnswerKind kind)
{
    pendingKind_ = kind;
    if (editor_ == nullptr) {
        out_ << text;
        return;
    }
    const std::size_t lastLine = text.rfind('\n') + 1;  // 0 when there is no line feed
    out_.write(text.data(), static_cast<std::streamsize>(lastLine));
    pendingPrompt_ = text.substr(lastLine);
}

std::string OvConsoleIo::TakePrompt(OvAnswerKind& kind)
{
    kind = pendingKind_;
    pendingKind_ = OvAnswerKind::None;
    std::string prompt;
    prompt.swap(pendingPrompt_);
    return prompt;
}

bool OvConsoleIo::ReadEdited(const std::string& prompt, OvAnswerKind kind, std::string& line)
{
    if (editorEnded_ || !editor_->ReadLine(prompt, kind, line)) {
        editorEnded_ = true;
        return false;
    }
    return true;
}

bool OvConsoleIo::EditLine(std::string& answer, std::size_t room)
{
    OvAnswerKind kind = OvAnswerKind::None;
    const std::string prompt = TakePrompt(kind);
    out_.flush();
    std::string line;
    if (!ReadEdited(prompt, kind, line)) return false;
    // The same answer as a line read from the stream: cut at a NUL and at the room.
    answer.assign(line, 0, std::min(line.find('\0'), room));
    return true;
}

bool OvConsoleIo::EditWord(std::string& word, std::size_t room)
{
    OvAnswerKind kind = OvAnswerKind::None;
    std::string prompt = TakePrompt(kind);
    out_.flush();
    for (;;) {
        std::string line;
        if (!ReadEdited(prompt, kind, line)) return false;
        std::size_t start = 0;
        while (start < line.size() && IsBlank(Traits::to_int_type(line[start]))) ++start;
        // An empty line does not end the read; the prompt is not shown again.
        if (start == line.size()) {
            prompt.clear();
            continue;
        }
        std::size_t end = start;
        while (end < line.size() && !IsBlank(Traits::to_int_type(line[end]))) ++end;
        word.assign(line, start, std::min(end - start, room));
        return true;
    }
}

bool OvConsoleIo::ReadLine(std::string& answer, std::size_t room)
{
    answer.clear();
    if (editor_ != nullptr) return EditLine(answer, room);
    if (!StartReading()) return false;
    bool cut = false;
    for (Traits::int_type c = Next();; c = Next()) {
        // A last line without its line feed is still a line.
        if (Traits::eq_int_type(c, Traits::eof())) return !answer.empty() || cut;
        const char ch = Traits::to_char_type(c);
        if (ch == '\n') return true;
        cut = true;
        if (ch == '\0') room = answer.size();
        if (answer.size() < room) answer += ch;
    }
}

bool OvConsoleIo::ReadHiddenLine(std::string& answer)
{
    // Room for the longest answer first: an answer that grew would leave
    // copies of the secret behind in the buffers it outgrew.
    answer.reserve(kLineRoom + 1);
    // The line editor is set aside: a hidden line is read from the stream as
    // it always was, never shown and never kept in a history. Its echo goes
    // off before the editor's part of the prompt shows, so that nothing typed
    // as soon as the prompt appears is echoed.
    OvLineEditor* const editor = editor_;
    editor_ = nullptr;
    if (echo_ != nullptr) echo_->ProtectMemory();
    const bool hidden = echo_ != nullptr && echo_->HideInput();
    bool read = false;
    if (editor != nullptr) {
        OvAnswerKind kind = OvAnswerKind::None;
        out_ << TakePrompt(kind);
    }
    if (editor == nullptr || !editorEnded_) {
        read = ReadLine(answer);
    } else {
        answer.clear();
    }
    editor_ = editor;
    if (echo_ != nullptr) echo_->ForgetInput();
    if (!hidden) return read;
    echo_->ShowInput();
    out_ << '\n' << std::flush;
    return read;
}

bool OvConsoleIo::ReadWord(std::string& word, std::size_t room)
{
    word.clear();
    if (editor_ != nullptr) return EditWord(word, room);
    if (!StartReading()) return false;
    Traits::int_type c = Next();
    while (!Traits::eq_int_type(c, Traits::eof()) && IsBlank(c)) c = Next();
    if (Traits::eq_int_type(c, Traits::eof())) return false;
    while (!Traits::eq_int_type(c, Traits::eof()) && !IsBlank(c)) {
        if (word.size() < room) word += Traits::to_char_type(c);
        c = Next();
    }
    if (!Traits::eq_int_type(c, Traits::eof()) && Traits::to_char_type(c) != '\n') {
        DropRestOfLine();
    }
    return true;
}

bool OvConsoleIo::StartReading()
{
    out_.flush();
    return in_.good() && in_.rdbuf() != nullptr;
}

std::istream::int_type OvConsoleIo::Next()
{
    const Traits::int_type c = in_.rdbuf()->sbumpc();
    if (Traits::eq_int_type(c, Traits::eof())) in_.setstate(std::ios_base::eofbit);
    return c;
}

void OvConsoleIo::DropRestOfLine()
{
    for (Traits::int_type c = Next();; c = Next()) {
        if (Traits::eq_int_type(c, Traits::eof()) || Traits::to_char_type(c) == '\n') return;
    }
}

// Line, word and hidden reads on the console streams.
#include "console/OvConsoleIo.h"

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

bool OvConsoleIo::ReadLine(std::string& answer, std::size_t room)
{
    answer.clear();
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
    if (echo_ == nullptr) return ReadLine(answer);
    echo_->ProtectMemory();
    const bool hidden = echo_->HideInput();
    const bool read = ReadLine(answer);
    echo_->ForgetInput();
    if (hidden) {
        echo_->ShowInput();
        out_ << '\n' << std::flush;
    }
    return read;
}

bool OvConsoleIo::ReadWord(std::string& word, std::size_t room)
{
    word.clear();
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

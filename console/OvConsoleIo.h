// The console as the dialogue sees it: typed lines, the selection word and
// hidden answers read from one input stream, text written to one output
// stream. Tests drive it with string streams.
#pragma once

#include <cstddef>
#include <istream>
#include <ostream>
#include <string>

#include "console/OvLineEditor.h"
#include "console/OvTerminal.h"

class OvConsoleIo {
public:
    // Room for one answer, as the dialogue has always reserved it.
    static constexpr std::size_t kLineRoom = 1023;

    // echo may be null: hidden reads then read like any other line.
    OvConsoleIo(std::istream& in, std::ostream& out, std::wostream& wideOut,
                OvEchoControl* echo = nullptr);

    std::ostream& Out() { return out_; }
    std::wostream& WideOut() { return wideOut_; }

    // Writes a prompt whose answer is read next, and says what kind of answer
    // it asks for. With a line editor the prompt's last line is shown by the
    // editor (so that it stays in place while the line is edited); without
    // one the text is written as it stands.
    void Prompt(const std::string& text, OvAnswerKind kind);
    // Reads lines and words through the editor from now on (null: from the
    // input stream). Hidden reads never go through it.
    void SetLineEditor(OvLineEditor* editor) { editor_ = editor; }

    // Reads one line into answer, replacing what it held: the first `room`
    // characters up to the line feed (consumed, not kept), cut at a NUL; the
    // rest of a longer line is read and dropped, so the next read starts on
    // the next line. At end of input the answer is empty and the result false.
    bool ReadLine(std::string& answer, std::size_t room = kLineRoom);

    // As ReadLine, with the terminal's echo off while the line is typed; the
    // line feed the terminal would have shown is written afterwards.
    bool ReadHiddenLine(std::string& answer);

    // Reads one blank-delimited word, skipping white space and empty lines
    // before it, then drops the rest of its line. False when the input ends
    // before a word starts. Words longer than `room` are cut; no selection is
    // that long.
    bool ReadWord(std::string& word, std::size_t room = kLineRoom);

    // Whether every line of a long listing is flushed on its own, as a person
    // at a terminal watches it come. Into a pipe or file one flush after the
    // listing gives the same bytes without a system call per line.
    void SetFlushEachLine(bool each) { flushEachLine_ = each; }
    bool FlushEachLine() const { return flushEachLine_; }

private:
    // Makes what was written visible before the program waits for input;
    // false when nothing can be read any more.
    bool StartReading();
    // The next character, or end of input (which also sets the stream's eofbit).
    std::istream::int_type Next();
    void DropRestOfLine();
    // One line from the editor; false from the end of its input on.
    bool ReadEdited(const std::string& prompt, OvAnswerKind kind, std::string& line);
    // ReadLine and ReadWord through the editor.
    bool EditLine(std::string& answer, std::size_t room);
    bool EditWord(std::string& word, std::size_t room);
    // The prompt's last line as the editor shows it, taken for one read.
    std::string TakePrompt(OvAnswerKind& kind);

    std::istream& in_;
    std::ostream& out_;
    std::wostream& wideOut_;
    OvEchoControl* echo_;
    bool flushEachLine_ = true;
    OvLineEditor* editor_ = nullptr;
    std::string pendingPrompt_;
    OvAnswerKind pendingKind_ = OvAnswerKind::None;
    bool editorEnded_ = false;
};

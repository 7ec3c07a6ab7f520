// Wide console output as UTF-8, in order with narrow output.
#pragma once

#include <ostream>
#include <streambuf>
#include <string>

// A wide stream buffer that encodes every character as UTF-8 (by the
// framework's conversion, OvUtf8FromWide) into whatever
// buffer a narrow stream has at the time of writing. The code points
// U+DC80..U+DCFF, which the framework's conversion uses to carry bytes that
// were not UTF-8, come out as those bytes again; a character with no UTF-8
// form comes out as '?'.
class OvUtf8WideBuffer : public std::wstreambuf {
public:
    explicit OvUtf8WideBuffer(std::ostream& target);

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char_type* text, std::streamsize count) override;
    int sync() override;

private:
    bool Write(const std::string& bytes);
    std::ostream& target_;
};

// Makes std::wcout write UTF-8 into std::cout's buffer, whatever the locale.
// Wide and narrow writes to the C library's one stdout do not mix: the wide
// ones come out in the locale's encoding or not at all. Idempotent.
void OvRouteWideOutputThroughNarrow();

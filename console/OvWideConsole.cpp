// UTF-8 wide console output routed through the narrow standard output.
#include "console/OvWideConsole.h"

#include <iostream>
#include <type_traits>

OvUtf8WideBuffer::OvUtf8WideBuffer(std::ostream& target) : target_(target) {}

void OvAppendUtf8(std::string& out, wchar_t c)
{
    const auto code = static_cast<unsigned long>(static_cast<std::make_unsigned_t<wchar_t>>(c));
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code >= 0xDC80 && code <= 0xDCFF) {
        out += static_cast<char>(code - 0xDC00);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code >= 0xD800 && code <= 0xDFFF) {
        out += '?';
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x110000) {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += '?';
    }
}

bool OvUtf8WideBuffer::Write(const std::string& bytes)
{
    std::streambuf* buffer = target_.rdbuf();
    const auto size = static_cast<std::streamsize>(bytes.size());
    return buffer != nullptr && buffer->sputn(bytes.data(), size) == size;
}

OvUtf8WideBuffer::int_type OvUtf8WideBuffer::overflow(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    std::string bytes;
    OvAppendUtf8(bytes, traits_type::to_char_type(c));
    return Write(bytes) ? c : traits_type::eof();
}

std::streamsize OvUtf8WideBuffer::xsputn(const char_type* text, std::streamsize count)
{
    std::string bytes;
    for (std::streamsize i = 0; i < count; ++i) OvAppendUtf8(bytes, text[i]);
    return Write(bytes) ? count : 0;
}

int OvUtf8WideBuffer::sync()
{
    std::streambuf* buffer = target_.rdbuf();
    return buffer != nullptr ? buffer->pubsync() : 0;
}

namespace {

// Lives as long as the process; gives std::wcout its own buffer back when
// static objects are destroyed, so nothing writes through a dead buffer.
struct WideRoute {
    WideRoute() : buffer(std::cout), previous(std::wcout.rdbuf(&buffer)) {}
    ~WideRoute()
    {
        std::wcout.flush();
        if (std::wcout.rdbuf() == &buffer) std::wcout.rdbuf(previous);
    }
    OvUtf8WideBuffer buffer;
    std::wstreambuf* previous;
};

}  // namespace

void OvRouteWideOutputThroughNarrow()
{
    static WideRoute route;
    (void)route;
}

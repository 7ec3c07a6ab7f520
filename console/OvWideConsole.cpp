// UTF-8 wide console output routed through the narrow standard output.
#include "console/OvWideConsole.h"

#include <iostream>

#include "framework/OvString.h"

OvUtf8WideBuffer::OvUtf8WideBuffer(std::ostream& target) : target_(target) {}

bool OvUtf8WideBuffer::Write(const std::string& bytes)
{
    std::streambuf* buffer = target_.rdbuf();
    const auto size = static_cast<std::streamsize>(bytes.size());
    return buffer != nullptr && buffer->sputn(bytes.data(), size) == size;
}

OvUtf8WideBuffer::int_type OvUtf8WideBuffer::overflow(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char_type character = traits_type::to_char_type(c);
    const std::string bytes = OvUtf8FromWide(std::wstring_view(&character, 1));
    return Write(bytes) ? c : traits_type::eof();
}

std::streamsize OvUtf8WideBuffer::xsputn(const char_type* text, std::streamsize count)
{
    const std::string bytes =
        OvUtf8FromWide(std::wstring_view(text, static_cast<std::size_t>(count)));
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

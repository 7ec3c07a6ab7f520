// Narrow and wide strings and the locale-independent UTF-8 conversions between them.
#include "framework/OvString.h"

#include <cstdint>
#include <ostream>

#include "platform/base/Utf8.h"

OvString::OvString() = default;
OvString::OvString(const char* text) : text_(text != nullptr ? text : "") {}
OvString::OvString(const std::string& text) : text_(text) {}
OvString::OvString(const OvString& other) = default;
OvString& OvString::operator=(const OvString& other) = default;
OvString::~OvString() = default;

std::ostream& operator<<(std::ostream& out, const OvString& text) { return out << text.str(); }

OvWString::OvWString(const wchar_t* text) : std::wstring(text != nullptr ? text : L"") {}
OvWString::OvWString(const std::wstring& text) : std::wstring(text) {}
OvWString::OvWString(std::size_t) {}
OvWString::~OvWString() = default;

std::wostream& operator<<(std::wostream& out, OvWString& text)
{
    return out << static_cast<const std::wstring&>(text);
}

namespace {

// Stray bytes travel as low surrogates, which valid UTF-8 can never produce.
constexpr std::uint32_t kStrayByteBase = 0xDC00;

}  // namespace

std::string makeString(const OvWString& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t codePoint = static_cast<std::uint32_t>(text[i]);
        if (sizeof(wchar_t) == 2 && codePoint >= 0xD800 && codePoint <= 0xDBFF &&
            i + 1 < text.size()) {
            // A 16-bit wide text carries code points above U+FFFF as surrogate pairs.
            const auto low = static_cast<std::uint32_t>(text[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (codePoint >= kStrayByteBase + 0x80 && codePoint <= kStrayByteBase + 0xFF) {
            out += static_cast<char>(codePoint - kStrayByteBase);
        } else if ((codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF) {
            out += '?';
        } else {
            ovutf8::Encode(codePoint, out);
        }
    }
    return out;
}

OvWString makeWideString(const std::string& text)
{
    OvWString out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        std::uint32_t codePoint = 0;
        const std::size_t length = ovutf8::Decode(text, i, codePoint);
        if (length == 0) {
            out += static_cast<wchar_t>(kStrayByteBase + static_cast<unsigned char>(text[i]));
            ++i;
            continue;
        }
        if (sizeof(wchar_t) == 2 && codePoint >= 0x10000) {
            codePoint -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (codePoint >> 10));
            out += static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF));
        } else {
            out += static_cast<wchar_t>(codePoint);
        }
        i += length;
    }
    return out;
}

std::string_view OvTrim(std::string_view text, std::string_view blanks)
{
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string OvAsciiLower(std::string_view text)
{
    std::string out(text);
    for (char& c : out) c = OvAsciiLower(c);
    return out;
}

bool OvEqualsIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (OvAsciiLower(a[i]) != OvAsciiLower(b[i])) return false;
    return true;
}

bool OvStartsWithIgnoringAsciiCase(std::string_view text, std::string_view start)
{
    return start.size() <= text.size() &&
           OvEqualsIgnoringAsciiCase(text.substr(0, start.size()), start);
}

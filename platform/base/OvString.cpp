// Narrow and wide strings and the locale-independent UTF-8 conversions between them.
#include "framework/OvString.h"

#include <cstdint>
#include <cwchar>
#include <ostream>

#include "platform/base/Utf8.h"

OvString::OvString() = default;
OvString::OvString(const char* text) : text_(text != nullptr ? text : "") {}
OvString::OvString(const std::string& text) : text_(text) {}
OvString::OvString(const OvString& other) = default;
OvString& OvString::operator=(const OvString& other) = default;
OvString::~OvString() = default;

std::ostream& operator<<(std::ostream& out, const OvString& text) { return out << text.str(); }

namespace {

// Stray bytes travel as low surrogates, which valid UTF-8 can never produce.
constexpr std::uint32_t kStrayByteBase = 0xDC00;

}  // namespace

std::string OvUtf8FromWide(std::wstring_view text)
{
    const std::size_t size = text.size();
    std::string out;
    out.reserve(size);
    for (std::size_t i = 0; i < size; ++i) {
        std::uint32_t codePoint = static_cast<std::uint32_t>(text[i]);
        if (sizeof(wchar_t) == 2 && codePoint >= 0xD800 && codePoint <= 0xDBFF && i + 1 < size) {
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

std::wstring OvWideFromUtf8(std::string_view text)
{
    std::wstring out;
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

// The text is made in its place: a secret leaves no copy behind in a
// temporary.
OvWString::OvWString(const wchar_t* text)
    : text_(text != nullptr ? OvUtf8FromWide(std::wstring_view(text, std::wcslen(text)))
                            : std::string())
{
}

OvWString::OvWString(const std::wstring& text) : text_(OvUtf8FromWide(text)) {}

OvWString::OvWString(std::size_t) {}

OvWString::~OvWString() = default;

OvWString OvWString::FromUtf8(std::string&& text)
{
    OvWString out;
    out.text_ = std::move(text);
    return out;
}

std::wstring OvWString::wide() const { return OvWideFromUtf8(text_); }

std::wostream& operator<<(std::wostream& out, OvWString& text) { return out << text.wide(); }

std::string makeString(const OvWString& text) { return text.utf8(); }

OvWString makeWideString(const std::string& text)
{
    OvWString out;
    out.utf8() = text;
    return out;
}

OvWString makeWideString(std::string&& text) { return OvWString::FromUtf8(std::move(text)); }

void OvAppendPrintable(std::string& out, std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    const auto escape = [&out](char byte) {
        const auto value = static_cast<unsigned char>(byte);
        out += '\\';
        out += kHex[value >> 4];
        out += kHex[value & 0x0F];
    };
    for (std::size_t i = 0; i < text.size();) {
        // Runs of plain ASCII, what nearly every name is, go over at once.
        std::size_t plain = i;
        while (plain < text.size() && text[plain] >= 0x20 && text[plain] < 0x7F) ++plain;
        out.append(text, i, plain - i);
        i = plain;
        if (i == text.size()) break;
        std::uint32_t codePoint = 0;
        const std::size_t length = ovutf8::Decode(text, i, codePoint);
        if (length == 0) {
            escape(text[i++]);
            continue;
        }
        const bool control = codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F);
        for (std::size_t k = 0; k < length; ++k) {
            if (control) {
                escape(text[i + k]);
            } else {
                out += text[i + k];
            }
        }
        i += length;
    }
}

std::string OvPrintable(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    OvAppendPrintable(out, text);
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

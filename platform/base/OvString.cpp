// Narrow and wide strings and the locale-independent UTF-8 conversions between them.
#include "framework/OvString.h"

#include <cstdint>
#include <ostream>

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

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the well-formed UTF-8 sequence at text[i], with its code point, or
// 0 when the bytes there are not one (overlong forms, surrogates, values above
// U+10FFFF and cut sequences included).
std::size_t DecodeOne(const std::string& text, std::size_t i, std::uint32_t& codePoint)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length;
    std::uint32_t minimum;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        minimum = 0x80;
        codePoint = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        minimum = 0x800;
        codePoint = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        minimum = 0x10000;
        codePoint = lead & 0x07u;
    } else {
        return 0;
    }
    if (text.size() - i < length) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto byte = static_cast<unsigned char>(text[i + k]);
        if (!IsContinuation(byte)) return 0;
        codePoint = (codePoint << 6) | (byte & 0x3Fu);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF) return 0;
    if (codePoint >= 0xD800 && codePoint <= 0xDFFF) return 0;
    return length;
}

void EncodeOne(std::uint32_t codePoint, std::string& out)
{
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

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
            EncodeOne(codePoint, out);
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
        const std::size_t length = DecodeOne(text, i, codePoint);
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

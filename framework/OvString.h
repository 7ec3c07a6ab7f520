// Narrow and wide strings of the framework base library, and the conversions
// between them. Conversion is UTF-8 in both directions and never consults the
// process locale, so directory names survive the round trip unchanged.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>

class OvString {
public:
    OvString();
    OvString(const char* text);
    OvString(const std::string& text);
    OvString(const OvString& other);
    OvString& operator=(const OvString& other);
    virtual ~OvString();

    const char* c_str() const { return text_.c_str(); }
    const std::string& str() const { return text_; }
    bool empty() const { return text_.empty(); }

private:
    std::string text_;
};

std::ostream& operator<<(std::ostream& out, const OvString& text);

// The framework's wide text. Callers build it from and read it as wide
// characters, but it keeps its text in UTF-8, the form it is printed and
// searched in: a quarter of the memory of wchar_t here, and no conversion
// between a service's answer and the console. The UTF-8 is what makeString
// gives; a wide character with no UTF-8 form is kept as '?'.
class OvWString {
public:
    OvWString() = default;
    OvWString(const wchar_t* text);
    OvWString(const std::wstring& text);
    // The size form makes an empty text; callers pass 0.
    explicit OvWString(std::size_t);
    OvWString(const OvWString& other) = default;
    OvWString(OvWString&& other) noexcept = default;
    OvWString& operator=(const OvWString& other) = default;
    OvWString& operator=(OvWString&& other) noexcept = default;
    ~OvWString();

    // The text taken over as it is, in UTF-8 (stray bytes included), as
    // makeWideString reads it but without a copy.
    static OvWString FromUtf8(std::string&& text);

    bool empty() const { return text_.empty(); }
    void clear() { text_.clear(); }
    void swap(OvWString& other) noexcept { text_.swap(other.text_); }
    // The wide characters, made on each call.
    std::wstring wide() const;
    // The UTF-8 held, for reading without a copy, and for wiping in place.
    const std::string& utf8() const { return text_; }
    std::string& utf8() { return text_; }

    friend bool operator==(const OvWString& a, const OvWString& b) { return a.text_ == b.text_; }
    friend bool operator!=(const OvWString& a, const OvWString& b) { return a.text_ != b.text_; }

private:
    std::string text_;
};

std::wostream& operator<<(std::wostream& out, OvWString& text);

// UTF-8 to and from wide text. Bytes that are not valid UTF-8 are carried
// through as the code points U+DC80..U+DCFF and come back as the same bytes;
// a wide character with no UTF-8 form comes out as '?'.
std::string makeString(const OvWString& text);
OvWString makeWideString(const std::string& text);
OvWString makeWideString(std::string&& text);

// The same two conversions for text that need not be held in an OvWString:
// the UTF-8 of wide text (as makeString gives it) and the wide characters of
// UTF-8 text (as OvWString::wide gives them).
std::string OvUtf8FromWide(std::wstring_view text);
std::wstring OvWideFromUtf8(std::string_view text);

// A text from a directory or a file as it is shown on the console: every
// byte that could act on a terminal, or that is not part of well-formed
// UTF-8, is written as a backslash and two lower-case hex digits: C0
// controls (tab and line feed included, "\09", "\0a"), DEL ("\7f"), the C1
// controls U+0080..U+009F (each of their two bytes: "\c2\9b"), and stray or
// overlong bytes. Everything else, accented letters and backslashes
// included, is kept as it is. In a DN the form is RFC 4514's own escape and
// reads back as the same value. The one rule for every such text the
// program prints.
std::string OvPrintable(std::string_view text);
// The same, appended to out (no copy of its own, for long listings).
void OvAppendPrintable(std::string& out, std::string_view text);

// The text without the given blanks at either end; the one trimmer of names
// (kOvNameBlanks) and of parameter-file lines (kOvLineBlanks).
constexpr const char* kOvNameBlanks = " \t";
constexpr const char* kOvLineBlanks = " \t\r\n";
std::string_view OvTrim(std::string_view text, std::string_view blanks);
// Without name blanks (space, tab) at either end.
inline std::string_view OvTrimNameBlanks(std::string_view text)
{
    return OvTrim(text, kOvNameBlanks);
}
// Without line blanks (space, tab, CR, LF) at either end.
inline std::string_view OvTrimLineBlanks(std::string_view text)
{
    return OvTrim(text, kOvLineBlanks);
}

// ASCII letters in lower case, every other byte as it is: the one case rule
// for names that are ASCII by definition (parameter-file sections and keys,
// LDAP attribute and class names, URL schemes and host names). Never depends
// on the process locale.
inline char OvAsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
std::string OvAsciiLower(std::string_view text);

// The value of a hexadecimal digit of either case; -1 for any other byte.
inline int OvHexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
bool OvEqualsIgnoringAsciiCase(std::string_view a, std::string_view b);
bool OvStartsWithIgnoringAsciiCase(std::string_view text, std::string_view start);

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

class OvWString : public std::wstring {
public:
    OvWString() = default;
    OvWString(const wchar_t* text);
    OvWString(const std::wstring& text);
    // The size form makes an empty text; callers pass 0.
    explicit OvWString(std::size_t);
    ~OvWString();
};

std::wostream& operator<<(std::wostream& out, OvWString& text);

// UTF-8 to and from wide text. Bytes that are not valid UTF-8 are carried
// through as the code points U+DC80..U+DCFF and come back as the same bytes;
// a wide character with no UTF-8 form comes out as '?'.
std::string makeString(const OvWString& text);
OvWString makeWideString(const std::string& text);

// The text without the given blanks at either end; the one trimmer of names
// (kOvNameBlanks) and of parameter-file lines (kOvLineBlanks).
constexpr const char* kOvNameBlanks = " \t";
constexpr const char* kOvLineBlanks = " \t\r\n";
std::string_view OvTrim(std::string_view text, std::string_view blanks);

// ASCII letters in lower case, every other byte as it is: the one case rule
// for names that are ASCII by definition (parameter-file sections and keys,
// LDAP attribute and class names, URL schemes and host names). Never depends
// on the process locale.
inline char OvAsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
std::string OvAsciiLower(std::string_view text);
bool OvEqualsIgnoringAsciiCase(std::string_view a, std::string_view b);
bool OvStartsWithIgnoringAsciiCase(std::string_view text, std::string_view start);

// Parsing and printing of the names the services read and answer with.
#include "platform/directory/Names.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "framework/OvString.h"
#include "platform/base/Utf8.h"
#include "platform/directory/Directory.h"

namespace ovdir {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::uint32_t FoldCodePoint(std::uint32_t cp)
{
    if (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) return cp + 0x20;  // Latin-1
    if (cp >= 0x100 && cp <= 0x137 && cp % 2 == 0) return cp + 1;  // Latin Extended-A
    if (cp >= 0x139 && cp <= 0x148 && cp % 2 == 1) return cp + 1;
    if (cp >= 0x14A && cp <= 0x177 && cp % 2 == 0) return cp + 1;
    if (cp == 0x178) return 0xFF;
    if (cp >= 0x179 && cp <= 0x17E && cp % 2 == 1) return cp + 1;
    if (cp >= 0x391 && cp <= 0x3AB && cp != 0x3A2) return cp + 0x20;  // Greek
    if (cp >= 0x410 && cp <= 0x42F) return cp + 0x20;                 // Cyrillic
    if (cp >= 0x400 && cp <= 0x40F) return cp + 0x50;
    return cp;
}

// Characters that RFC 4514 wants escaped anywhere in a value.
bool NeedsEscape(char c)
{
    return c == '\\' || c == '"' || c == '+' || c == ',' || c == ';' || c == '<' || c == '>';
}

void AppendEscapedValue(const Ava& ava, std::string_view value, std::string& out)
{
    if (ava.hex) {
        out += value;
        return;
    }
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '\0') {
            out += "\\00";
            continue;
        }
        const bool edge = i == 0 || i + 1 == value.size();
        if (c == '\t' && edge) {
            // Read back, a bare tab at either end would be a blank around
            // the value and dropped.
            out += "\\09";
            continue;
        }
        if (NeedsEscape(c) || (c == ' ' && edge) || (i == 0 && c == '#')) out += '\\';
        out += c;
    }
}

// RFC 4514 text of the RDNs from the first'th on.
void AppendRdns(const std::vector<std::vector<Ava>>& rdns, std::size_t first, std::string& out)
{
    for (std::size_t r = first; r < rdns.size(); ++r) {
        if (r > first) out += ',';
        for (std::size_t a = 0; a < rdns[r].size(); ++a) {
            if (a > 0) out += '+';
            out += rdns[r][a].type;
            out += '=';
            AppendEscapedValue(rdns[r][a], rdns[r][a].value, out);
        }
    }
}

// An AVA as the normalised key has it: type in lower case, value prepared.
void AppendNormalizedAva(const Ava& ava, std::string& out)
{
    for (char c : ava.type) out += OvAsciiLower(c);
    out += '=';
    AppendEscapedValue(ava, ava.hex ? ava.value : PrepareValue(ava.value), out);
}

bool IsTypeChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.';
}

}  // namespace

// A host name (letters, digits, '-', '.', '_'; not beginning with '-' or
// '.'), an IPv4 address or a bracketed IPv6 address, then optionally ':' and
// a port of 1 to 65535. Nothing else may stand there: the server becomes part
// of an LDAP URL.
bool ValidServer(std::string_view server)
{
    std::string_view host = server;
    std::string_view port;
    if (!server.empty() && server.front() == '[') {
        const std::size_t close = server.find(']');
        if (close == std::string_view::npos || close < 3) return false;
        for (char c : server.substr(1, close - 1))
            if (OvHexDigit(c) < 0 && c != ':' && c != '.') return false;
        const std::string_view rest = server.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return false;
            port = rest.substr(1);
            if (port.empty()) return false;
        }
        host = {};
    } else {
        const std::size_t colon = server.find(':');
        if (colon != std::string_view::npos) {
            host = server.substr(0, colon);
            port = server.substr(colon + 1);
            if (port.empty()) return false;
        }
        if (host.empty() || host.front() == '-' || host.front() == '.') return false;
        for (char c : host)
            if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '.' || c == '-' || c == '_'))
                return false;
    }
    if (port.size() > 5) return false;
    unsigned value = 0;
    for (char c : port) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return port.empty() || (value >= 1 && value <= 65535);
}

std::string_view StripUniqueId(std::string_view value)
{
    const std::size_t hash = value.rfind("#'");
    if (hash != std::string_view::npos && value.size() >= hash + 3 && value.back() == 'B' &&
        value[value.size() - 2] == '\'')
        return value.substr(0, hash);
    return value;
}

std::string FoldCase(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out += OvAsciiLower(static_cast<char>(c));
            ++i;
            continue;
        }
        std::uint32_t cp = 0;
        const std::size_t length = ovutf8::Decode(text, i, cp);
        if (length == 0) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        ovutf8::Encode(FoldCodePoint(cp), out);
        i += length;
    }
    return out;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    // Plain ASCII, the usual case, compares in place; anything else folds.
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        if (static_cast<unsigned char>(a[i]) >= 0x80 || static_cast<unsigned char>(b[i]) >= 0x80)
            return FoldCase(a.substr(i)) == FoldCase(b.substr(i));
        if (OvAsciiLower(a[i]) != OvAsciiLower(b[i])) return false;
    }
    if (a.size() == b.size()) return true;
    const std::string_view rest = a.size() > b.size() ? a.substr(common) : b.substr(common);
    for (char c : rest)
        if (static_cast<unsigned char>(c) >= 0x80) return FoldCase(a) == FoldCase(b);
    return false;
}

std::string PrepareValue(std::string_view text)
{
    text = OvTrimNameBlanks(text);
    std::string out;
    out.reserve(text.size());
    bool blank = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (IsBlank(c)) {
            blank = true;
            continue;
        }
        if (blank) out += ' ';
        blank = false;
        if (static_cast<unsigned char>(c) >= 0x80) {
            // Rare enough to take the general path for the rest.
            std::string rest = FoldCase(text.substr(i));
            for (char r : rest) {
                if (IsBlank(r)) {
                    blank = true;
                    continue;
                }
                if (blank) out += ' ';
                blank = false;
                out += r;
            }
            return out;
        }
        out += OvAsciiLower(c);
    }
    return out;
}

namespace {

// Reads the attribute-value assertions of a DN's text, one at a time.
class AvaReader {
public:
    explicit AvaReader(std::string_view text) : text_(text), n_(text.size()) {}

    bool AtEnd() const { return i_ == n_; }
    void SkipBlanks()
    {
        while (i_ < n_ && IsBlank(text_[i_])) ++i_;
    }
    char Next() { return text_[i_++]; }

    // "type = value", blanks around '=' ignored; false when it does not parse.
    bool Read(Ava& ava)
    {
        SkipBlanks();
        const std::size_t typeStart = i_;
        while (i_ < n_ && IsTypeChar(text_[i_])) ++i_;
        if (i_ == typeStart) return false;
        ava.type.assign(text_.substr(typeStart, i_ - typeStart));
        SkipBlanks();
        if (i_ == n_ || text_[i_] != '=') return false;
        ++i_;
        SkipBlanks();
        if (i_ < n_ && text_[i_] == '#') return ReadHexValue(ava);
        if (i_ < n_ && text_[i_] == '"') return ReadQuotedValue(ava);
        return ReadStringValue(ava);
    }

private:
    // "#" and an even number of hex digits, kept as written.
    bool ReadHexValue(Ava& ava)
    {
        const std::size_t start = i_++;
        while (i_ < n_ && OvHexDigit(text_[i_]) >= 0) ++i_;
        if ((i_ - start) % 2 == 0 || i_ - start < 3) return false;
        ava.value.assign(text_.substr(start, i_ - start));
        ava.hex = true;
        SkipBlanks();
        return true;
    }

    // A value in double quotes; a backslash takes the next character as it is.
    bool ReadQuotedValue(Ava& ava)
    {
        ++i_;
        while (i_ < n_) {
            const char c = text_[i_++];
            if (c == '"') {
                SkipBlanks();
                return true;
            }
            if (c == '\\') {
                if (i_ == n_) return false;
                ava.value += text_[i_++];
            } else {
                ava.value += c;
            }
        }
        return false;
    }

    // A value up to the next unescaped ',' or '+', its escapes resolved.
    // Unescaped blanks at the end are not part of the value; escaped ones
    // are, so the reader remembers how much of the value is significant.
    bool ReadStringValue(Ava& ava)
    {
        std::size_t significant = 0;
        while (i_ < n_ && text_[i_] != ',' && text_[i_] != '+') {
            // Runs without escapes are taken whole.
            std::size_t run = i_;
            while (run < n_ && text_[run] != ',' && text_[run] != '+' && text_[run] != '\\') ++run;
            if (run > i_) {
                ava.value.append(text_.substr(i_, run - i_));
                std::size_t last = ava.value.size();
                while (last > significant && IsBlank(ava.value[last - 1])) --last;
                significant = last;
                i_ = run;
                continue;
            }
            ++i_;  // the backslash
            if (!ReadEscape(ava)) return false;
            significant = ava.value.size();
        }
        ava.value.resize(significant);
        return true;
    }

    // After a backslash: two hex digits (one byte) or one character as it is.
    bool ReadEscape(Ava& ava)
    {
        if (i_ == n_) return false;
        const int high = OvHexDigit(text_[i_]);
        if (high >= 0 && i_ + 1 < n_ && OvHexDigit(text_[i_ + 1]) >= 0) {
            ava.value += static_cast<char>(high * 16 + OvHexDigit(text_[i_ + 1]));
            i_ += 2;
            return true;
        }
        if (high >= 0) return false;
        ava.value += text_[i_++];
        return true;
    }

    std::string_view text_;
    std::size_t i_ = 0;
    std::size_t n_;
};

}  // namespace

bool Dn::Parse(std::string_view text, Dn& out)
{
    out.rdns_.clear();
    AvaReader reader(text);
    reader.SkipBlanks();
    if (reader.AtEnd()) return true;
    std::size_t separators = 1;
    for (char c : text) separators += c == ',' ? 1 : 0;
    out.rdns_.reserve(separators);
    std::vector<Ava> rdn;
    while (true) {
        Ava ava;
        if (!reader.Read(ava)) return false;
        rdn.push_back(std::move(ava));
        if (reader.AtEnd()) {
            out.rdns_.push_back(std::move(rdn));
            return true;
        }
        const char separator = reader.Next();
        if (separator == ',') {
            out.rdns_.push_back(std::move(rdn));
            rdn.clear();
        } else if (separator != '+') {
            return false;
        }
    }
}

const std::string& Dn::RdnValue() const
{
    static const std::string none;
    return rdns_.empty() ? none : rdns_.front().front().value;
}

Dn Dn::Parent() const
{
    Dn parent;
    if (rdns_.size() > 1) parent.rdns_.assign(rdns_.begin() + 1, rdns_.end());
    return parent;
}

bool Dn::IsWithin(const Dn& ancestor) const
{
    if (ancestor.rdns_.size() > rdns_.size()) return false;
    Dn tail;
    tail.rdns_.assign(rdns_.end() - static_cast<std::ptrdiff_t>(ancestor.rdns_.size()),
                      rdns_.end());
    return tail.Normalized() == ancestor.Normalized();
}

std::string Dn::Format() const
{
    std::string out;
    AppendRdns(rdns_, 0, out);
    return out;
}

std::string Dn::FormatParent() const
{
    std::string out;
    AppendRdns(rdns_, 1, out);
    return out;
}

std::string Dn::Normalized() const
{
    std::string out;
    out.reserve(64);
    for (std::size_t r = 0; r < rdns_.size(); ++r) {
        if (r > 0) out += ',';
        if (rdns_[r].size() == 1) {
            AppendNormalizedAva(rdns_[r].front(), out);
            continue;
        }
        // A multi-valued RDN names the same entry in any order of its AVAs.
        std::vector<std::string> avas;
        for (const Ava& ava : rdns_[r]) {
            std::string text;
            AppendNormalizedAva(ava, text);
            avas.push_back(std::move(text));
        }
        std::sort(avas.begin(), avas.end());
        for (std::size_t a = 0; a < avas.size(); ++a) {
            if (a > 0) out += '+';
            out += avas[a];
        }
    }
    return out;
}

std::string NormalizeDn(std::string_view text)
{
    Dn dn;
    if (Dn::Parse(text, dn)) return dn.Normalized();
    return "\x01" + FoldCase(text);
}

std::string_view NormalizedParent(std::string_view normalized)
{
    for (std::size_t i = 0; i < normalized.size(); ++i) {
        if (normalized[i] == '\\')
            ++i;
        else if (normalized[i] == ',')
            return normalized.substr(i + 1);
    }
    return std::string_view();
}

std::string DomainShortName(const Dn& dn)
{
    for (std::size_t r = 0; r < dn.Size(); ++r)
        for (const Ava& ava : dn.Rdn(r))
            if (EqualsIgnoringCase(ava.type, "dc")) return ava.value;
    return std::string();
}

std::string FormatEntryName(const std::string& server, const Dn& dn)
{
    return "LDAP://" + server + " " + dn.FormatParent() + "/" + dn.RdnValue();
}

EntryNameFormatter::EntryNameFormatter(const std::string& server)
    : prefix_("LDAP://" + server + " ")
{
}

bool EntryNameFormatter::Format(const std::string& dnText, std::string& out)
{
    const std::size_t comma = dnText.find(',');
    if (comma != std::string::npos) {
        const std::string_view rdn(dnText.data(), comma);
        const std::size_t equals = rdn.find('=');
        const auto plainType = [](std::string_view type) {
            return !type.empty() && std::all_of(type.begin(), type.end(), IsTypeChar);
        };
        // Control characters (tabs among them) take the full parser.
        bool plain = equals != std::string_view::npos &&
                     rdn.find_first_of("\\\"+=#;<>", equals + 1) == std::string_view::npos;
        for (char c : rdn)
            if (static_cast<unsigned char>(c) < 0x20) plain = false;
        if (plain) {
            const std::string_view type = OvTrimNameBlanks(rdn.substr(0, equals));
            const std::string_view value = OvTrimNameBlanks(rdn.substr(equals + 1));
            if (plainType(type) && !value.empty()) {
                const std::string parentText = dnText.substr(comma + 1);
                auto found = parents_.find(parentText);
                if (found == parents_.end()) {
                    Dn parent;
                    if (Dn::Parse(parentText, parent) && !parent.Empty())
                        found = parents_.emplace(parentText, parent.Format()).first;
                }
                if (found != parents_.end()) {
                    out.clear();
                    out.reserve(prefix_.size() + found->second.size() + value.size() + 1);
                    out.append(prefix_).append(found->second).append(1, '/').append(value);
                    return true;
                }
            }
        }
    }
    Dn dn;
    if (!Dn::Parse(dnText, dn) || dn.Empty()) return false;
    out = prefix_ + dn.FormatParent() + "/" + dn.RdnValue();
    return true;
}

std::string FormatContext(const std::string& server, const Dn& dn)
{
    return "LDAP://" + server + " " + dn.Format();
}

}  // namespace ovdir

// Filter text and directory URLs as the ldap backend writes and reads them.
#include "platform/ldapclient/LdapText.h"

#include "framework/OvString.h"

#include <ldap.h>

namespace ovdir {
namespace ldap {

std::string EscapeFilterValue(std::string_view value)
{
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        if (c == '*' || c == '(' || c == ')' || c == '\\' || c == '\0') {
            const auto byte = static_cast<unsigned char>(c);
            out += '\\';
            out += hex[byte >> 4];
            out += hex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

bool RenderFilter(const Filter& filter, std::string& text)
{
    switch (filter.kind) {
        case Filter::Kind::And:
        case Filter::Kind::Or:
            text += filter.kind == Filter::Kind::And ? "(&" : "(|";
            for (const Filter& child : filter.children) {
                if (!RenderFilter(child, text)) return false;
            }
            text += ')';
            return true;
        case Filter::Kind::Not:
            if (filter.children.size() != 1) return false;
            text += "(!";
            if (!RenderFilter(filter.children.front(), text)) return false;
            text += ')';
            return true;
        case Filter::Kind::Equals:
        case Filter::Kind::Contains:
        case Filter::Kind::Initial:
        case Filter::Kind::Present:
            break;
    }
    if (!ValidAttributeName(filter.attribute)) return false;
    text += '(';
    text += filter.attribute;
    text += '=';
    if (filter.kind == Filter::Kind::Equals) {
        text += EscapeFilterValue(filter.value);
    } else if (filter.kind == Filter::Kind::Initial) {
        text += EscapeFilterValue(filter.value);
        text += '*';
    } else {
        // Contains with an empty text matches every value, as presence does.
        text += '*';
        if (filter.kind == Filter::Kind::Contains && !filter.value.empty()) {
            text += EscapeFilterValue(filter.value);
            text += '*';
        }
    }
    text += ')';
    return true;
}

bool SplitDirectoryUrl(std::string_view url, std::string& scheme, std::string& server)
{
    const auto sep = url.find("://");
    if (sep == std::string_view::npos) return false;
    const std::string lowered = OvAsciiLower(url.substr(0, sep));
    if (lowered != "ldap" && lowered != "ldaps") return false;
    std::string_view rest = url.substr(sep + 3);
    if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
    if (!ValidServer(rest)) return false;
    scheme = lowered;
    server = std::string(rest);
    return true;
}

bool NormaliseDn(const std::string& dn, std::string& normalised)
{
    if (dn.empty()) {
        normalised.clear();
        return true;
    }
    if (dn.find('\0') != std::string::npos) return false;
    LDAPDN parsed = nullptr;
    if (ldap_str2dn(dn.c_str(), &parsed, LDAP_DN_FORMAT_LDAPV3) != LDAP_SUCCESS) return false;
    char* text = nullptr;
    // Pretty: UTF-8 stays as it is rather than in hex escapes.
    const int rc = ldap_dn2str(parsed, &text, LDAP_DN_FORMAT_LDAPV3 | LDAP_DN_PRETTY);
    ldap_dnfree(parsed);
    if (rc != LDAP_SUCCESS || text == nullptr) return false;
    normalised = text;
    ldap_memfree(text);
    return true;
}

}  // namespace ldap
}  // namespace ovdir

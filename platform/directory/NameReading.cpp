// Reading the forms of names typed at the prompts: contexts, FQDNs and logins.
#include <algorithm>
#include <utility>

#include "framework/OvString.h"
#include "platform/directory/Directory.h"
#include "platform/directory/Names.h"

namespace ovdir {

bool IsSupportedType(std::string_view type)
{
    return EqualsIgnoringCase(type, "LDAP") || EqualsIgnoringCase(type, "ADS") ||
           EqualsIgnoringCase(type, "NDS") || EqualsIgnoringCase(type, "IPLANET");
}

unsigned ParseContext(std::string_view text, Context& out, bool dnRequired)
{
    text = OvTrimNameBlanks(text);
    const std::size_t scheme = text.find("://");
    if (scheme == std::string_view::npos || scheme == 0) return kStatusMalformedName;
    const std::string_view type = text.substr(0, scheme);
    for (char c : type)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return kStatusMalformedName;
    std::string_view rest = text.substr(scheme + 3);
    const std::size_t blank = std::min(rest.find_first_of(kOvNameBlanks), rest.size());
    const std::string_view server = rest.substr(0, blank);
    if (!ValidServer(server)) return kStatusMalformedName;
    const std::string_view dnText = OvTrimNameBlanks(rest.substr(blank));
    Context context;
    if (!Dn::Parse(dnText, context.dn)) return kStatusMalformedName;
    if (dnRequired && context.dn.Empty()) return kStatusMalformedName;
    if (!IsSupportedType(type)) return kStatusUnsupportedType;
    context.type.assign(type);
    context.server.assign(server);
    out = std::move(context);
    return 0;
}

namespace {

// The text that OvPrintable shows as `shown`, when `shown` holds escapes and
// is exactly how that text is printed.
bool ReadPrinted(std::string_view shown, std::string& text)
{
    text.clear();
    for (std::size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] == '\\' && i + 2 < shown.size() && OvHexDigit(shown[i + 1]) >= 0 &&
            OvHexDigit(shown[i + 2]) >= 0) {
            text += static_cast<char>(OvHexDigit(shown[i + 1]) * 16 + OvHexDigit(shown[i + 2]));
            i += 2;
        } else {
            text += shown[i];
        }
    }
    return text != shown && OvPrintable(text) == shown;
}

}  // namespace

unsigned ReadFqdn(std::string_view text, std::vector<FqdnReading>& readings)
{
    readings.clear();
    text = OvTrimNameBlanks(text);
    FqdnReading whole;
    unsigned status = ParseContext(text, whole.context);
    if (status == kStatusUnsupportedType) return status;
    if (status == 0) readings.push_back(std::move(whole));
    const std::size_t scheme = text.find("://");
    const std::size_t first = scheme == std::string_view::npos ? 0 : scheme + 3;
    for (std::size_t slash = text.rfind('/'); slash != std::string_view::npos && slash >= first;
         slash = slash == 0 ? std::string_view::npos : text.rfind('/', slash - 1)) {
        FqdnReading reading;
        reading.name.assign(OvTrimNameBlanks(text.substr(slash + 1)));
        if (reading.name.empty()) continue;
        status = ParseContext(text.substr(0, slash), reading.context);
        if (status == kStatusUnsupportedType) return status;
        if (status != 0) continue;
        // A name pasted as the program prints it (OvPrintable) is also read
        // with its escapes undone, after the name as it stands.
        std::string printed;
        const bool escaped = ReadPrinted(reading.name, printed);
        readings.push_back(reading);
        if (escaped) {
            reading.name = std::move(printed);
            readings.push_back(std::move(reading));
        }
    }
    return readings.empty() ? static_cast<unsigned>(kStatusMalformedName) : 0u;
}

unsigned ParseDomainLogin(std::string_view text, Login& out)
{
    text = OvTrimNameBlanks(text);
    constexpr std::string_view prefix = "default://";
    if (text.size() < prefix.size() || !EqualsIgnoringCase(text.substr(0, prefix.size()), prefix))
        return kStatusMalformedName;
    text.remove_prefix(prefix.size());
    const std::size_t backslash = text.find('\\');
    if (backslash == std::string_view::npos) return kStatusMalformedName;
    Login login;
    login.domain.assign(OvTrimNameBlanks(text.substr(0, backslash)));
    login.login.assign(OvTrimNameBlanks(text.substr(backslash + 1)));
    if (login.domain.empty() || login.login.empty()) return kStatusMalformedName;
    out = std::move(login);
    return 0;
}

unsigned ParsePlainLogin(std::string_view text, Login& out)
{
    text = OvTrimNameBlanks(text);
    Login login;
    const std::size_t backslash = text.find('\\');
    if (backslash != std::string_view::npos) {
        login.domain.assign(OvTrimNameBlanks(text.substr(0, backslash)));
        if (login.domain.empty()) return kStatusMalformedName;
        text = OvTrimNameBlanks(text.substr(backslash + 1));
    }
    login.login.assign(text);
    if (login.login.empty()) return kStatusMalformedName;
    out = std::move(login);
    return 0;
}

}  // namespace ovdir

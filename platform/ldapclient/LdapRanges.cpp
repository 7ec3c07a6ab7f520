// Range options of attribute descriptions (LdapRanges.h).
#include "platform/ldapclient/LdapRanges.h"

#include "framework/OvString.h"

#include <utility>

namespace ovdir::ldap {
namespace {

bool ParseNumber(std::string_view text, unsigned long& number)
{
    if (text.empty() || text.size() > 18) return false;
    number = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        number = number * 10 + static_cast<unsigned long>(c - '0');
    }
    return true;
}

}  // namespace

bool ParseValueRange(std::string_view description, ValueRange& range)
{
    constexpr std::string_view kOption = "range=";
    std::size_t start = description.find(';');
    while (start != std::string_view::npos) {
        const std::size_t end = description.find(';', start + 1);
        const std::string_view option = description.substr(
            start + 1, end == std::string_view::npos ? std::string_view::npos : end - start - 1);
        if (option.size() > kOption.size() &&
            OvEqualsIgnoringAsciiCase(option.substr(0, kOption.size()), kOption)) {
            const std::string_view bounds = option.substr(kOption.size());
            const std::size_t dash = bounds.find('-');
            if (dash == std::string_view::npos) return false;
            ValueRange parsed;
            if (!ParseNumber(bounds.substr(0, dash), parsed.low)) return false;
            const std::string_view high = bounds.substr(dash + 1);
            if (high == "*") {
                parsed.last = true;
            } else if (!ParseNumber(high, parsed.high) || parsed.high < parsed.low) {
                return false;
            }
            parsed.attribute = std::string(description.substr(0, start));
            if (end != std::string_view::npos) parsed.attribute += description.substr(end);
            if (parsed.attribute.empty() || parsed.attribute.front() == ';') return false;
            range = std::move(parsed);
            return true;
        }
        start = end;
    }
    return false;
}

std::string RangeFrom(const std::string& attribute, unsigned long low)
{
    return attribute + ";range=" + std::to_string(low) + "-*";
}

}  // namespace ovdir::ldap

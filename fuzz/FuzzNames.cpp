// Fuzz target: the context, FQDN, login and DN parsers. A DN that parses
// prints as a text that parses back to the same DN, and prints the same again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "framework/OvString.h"
#include "platform/directory/Names.h"

namespace {

void CheckDnRoundTrip(std::string_view text)
{
    ovdir::Dn dn;
    if (!ovdir::Dn::Parse(text, dn)) return;
    const std::string printed = dn.Format();
    ovdir::Dn again;
    if (!ovdir::Dn::Parse(printed, again)) __builtin_trap();
    if (again.Normalized() != dn.Normalized()) __builtin_trap();
    if (again.Format() != printed) __builtin_trap();
    if (again.Size() != dn.Size()) __builtin_trap();
    // As the console shows it, escaped, it reads back as the same DN.
    ovdir::Dn shown;
    if (!ovdir::Dn::Parse(OvPrintable(printed), shown) || shown.Normalized() != dn.Normalized())
        __builtin_trap();
    if (!dn.Empty()) {
        if (!dn.IsWithin(dn.Parent())) __builtin_trap();
        if (dn.FormatParent() != dn.Parent().Format()) __builtin_trap();
        // The listing's fast formatter names an entry as the general one does.
        ovdir::EntryNameFormatter formatter("h");
        std::string fast;
        if (!formatter.Format(std::string(text), fast)) __builtin_trap();
        if (fast != ovdir::FormatEntryName("h", dn)) __builtin_trap();
    }
    (void)ovdir::DomainShortName(dn);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckDnRoundTrip(text);
    (void)ovdir::NormalizeDn(text);

    ovdir::Context context;
    if (ovdir::ParseContext(text, context) == 0) CheckDnRoundTrip(context.dn.Format());
    ovdir::ParseContext(text, context, false);

    std::vector<ovdir::FqdnReading> readings;
    if (ovdir::ReadFqdn(text, readings) == 0 && readings.empty()) __builtin_trap();

    ovdir::Login login;
    ovdir::ParseDomainLogin(text, login);
    ovdir::ParsePlainLogin(text, login);

    std::vector<std::string> names{std::string(text), ovdir::FoldCase(text),
                                   ovdir::PrepareValue(text)};
    ovdir::SortNames(names);
    return 0;
}

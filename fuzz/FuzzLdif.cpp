// Fuzz target: the LDIF reader, and the embedded directory built from what it
// reads, searched and listed as the services do.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/embedded/EmbeddedDirectory.h"
#include "platform/embedded/Ldif.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<ovdir::Entry> entries;
    ovdir::LdifError error;
    std::vector<int> lines;
    std::vector<std::string> keys;
    const bool read = ovdir::ReadLdif(text, entries, error, &lines, &keys);
    if (read && (lines.size() != entries.size() || keys.size() != entries.size())) __builtin_trap();
    if (!read && error.line <= 0) __builtin_trap();

    auto directory = ovdir::EmbeddedDirectory::FromText(text, "fuzz");
    std::vector<std::string> contexts;
    if (directory->NamingContexts(contexts) != 0) return 0;
    for (const std::string& context : contexts) {
        ovdir::SearchRequest request;
        request.base = context;
        request.filter = ovdir::Filter::Or({ovdir::Filter::Equals("objectclass", "person"),
                                            ovdir::Filter::Contains("member", "cn="),
                                            ovdir::Filter::Present("uid")});
        request.attributes = {"cn", "uid", "member"};
        std::vector<ovdir::Entry> found;
        directory->Search(request, found);
        bool accepted = false;
        directory->CheckPassword(context, "secret", accepted);
    }
    return 0;
}

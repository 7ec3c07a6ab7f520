// Fuzz target: the sessions reader of the trans-id service.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/userservices/TransIdService.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string sessions(reinterpret_cast<const char*>(data), size);
    std::string user;
    // 127.0.0.1 and 192.0.2.31 in network byte order, and an address of the input's own.
    const unsigned addresses[] = {
        0x0100007Fu, 0x1F0200C0u,
        size >= 4 ? static_cast<unsigned>(data[0]) | static_cast<unsigned>(data[1]) << 8 |
                        static_cast<unsigned>(data[2]) << 16 | static_cast<unsigned>(data[3]) << 24
                  : 0u};
    for (unsigned address : addresses) {
        user.clear();
        if (ovdir::TransIdService::FindSession(sessions, address, user) == 0 && user.empty())
            __builtin_trap();
    }
    return 0;
}

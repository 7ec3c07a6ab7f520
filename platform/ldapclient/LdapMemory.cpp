// The layer that wipes what libldap wrote once it is written.
#include "platform/ldapclient/LdapMemory.h"

#include "platform/directory/Secret.h"

namespace ovdir::ldap {
namespace {

int Setup(Sockbuf_IO_Desc*, void*) { return 0; }
int Remove(Sockbuf_IO_Desc*) { return 0; }
int Close(Sockbuf_IO_Desc*) { return 0; }

int Control(Sockbuf_IO_Desc* sbiod, int option, void* argument)
{
    return LBER_SBIOD_CTRL_NEXT(sbiod, option, argument);
}

ber_slen_t Read(Sockbuf_IO_Desc* sbiod, void* buffer, ber_len_t length)
{
    return LBER_SBIOD_READ_NEXT(sbiod, buffer, length);
}

// The bytes come straight from the request's encoding; with referrals not
// chased, nothing reads them again once they went out.
ber_slen_t Write(Sockbuf_IO_Desc* sbiod, void* buffer, ber_len_t length)
{
    const ber_slen_t written = LBER_SBIOD_WRITE_NEXT(sbiod, buffer, length);
    if (written > 0) WipeBytes(buffer, static_cast<std::size_t>(written));
    return written;
}

}  // namespace

Sockbuf_IO& WipeWrittenLayer()
{
    static Sockbuf_IO layer{&Setup, &Remove, &Control, &Read, &Write, &Close};
    return layer;
}

}  // namespace ovdir::ldap

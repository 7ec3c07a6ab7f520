// The libldap call table of the ldap backend, pointing at libldap itself.
#include "platform/ldapclient/LdapSeam.h"

namespace ovdir::ldapseam {

const Calls& Library()
{
    static const Calls calls{ldap_initialize, ldap_set_option, ldap_start_tls_s, ldap_sasl_bind,
                             ldap_search_ext, ldap_result,     ldap_unbind_ext};
    return calls;
}

Calls& Active()
{
    static Calls calls = Library();
    return calls;
}

}  // namespace ovdir::ldapseam

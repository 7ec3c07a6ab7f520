// The libldap calls the ldap backend makes, routed through one table so that
// a test can make any of them fail (a lost connection, a refused StartTLS)
// without a misbehaving server.
#pragma once

#include <ldap.h>

namespace ovdir::ldapseam {

struct Calls {
    int (*initialize)(LDAP** ld, const char* url);
    int (*setOption)(LDAP* ld, int option, const void* value);
    int (*startTls)(LDAP* ld, LDAPControl** serverControls, LDAPControl** clientControls);
    int (*saslBind)(LDAP* ld, const char* dn, const char* mechanism, struct berval* credentials,
                    LDAPControl** serverControls, LDAPControl** clientControls, int* msgid);
    int (*searchExt)(LDAP* ld, const char* base, int scope, const char* filter, char** attributes,
                     int attributesOnly, LDAPControl** serverControls, LDAPControl** clientControls,
                     struct timeval* timeout, int sizeLimit, int* msgid);
    int (*result)(LDAP* ld, int msgid, int all, struct timeval* timeout, LDAPMessage** message);
    int (*unbind)(LDAP* ld, LDAPControl** serverControls, LDAPControl** clientControls);
};

// The table in use: libldap's own functions unless a test replaced some.
Calls& Active();

// libldap's own functions.
const Calls& Library();

}  // namespace ovdir::ldapseam

// libldap's memory, wiped when the library frees it: a bind request holds
// the password in clear text until the buffer is released.
#pragma once

namespace ovdir::ldap {

// Installs, once per process, allocation functions for libldap and liblber
// that overwrite every block before it is freed or moved.
void WipeLibraryMemoryOnFree();

}  // namespace ovdir::ldap

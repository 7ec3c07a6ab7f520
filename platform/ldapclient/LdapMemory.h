// What libldap writes to a connection is overwritten once it is written: a
// bind request holds its password in clear text, and the library frees the
// request's buffer without wiping it.
#pragma once

#include <lber.h>

namespace ovdir::ldap {

// A socket-buffer layer for the top of a connection's stack: it passes reads
// on, and after each write wipes the bytes that went out.
Sockbuf_IO& WipeWrittenLayer();

}  // namespace ovdir::ldap

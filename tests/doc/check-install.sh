#!/usr/bin/env bash
# Installs the build into a fresh prefix with cmake --install, checks that
# every file is where an administrator looks for it, and runs the installed
# program on the built-in sample directory.
#
#   check-install.sh BUILD-DIR
set -u
build=$1
prefix=$(mktemp -d "${TMPDIR:-/tmp}/install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
status=0
fail() { echo "$*"; status=1; }

cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "cmake --install failed"; exit 1; }
for file in bin/UserServiceCommand share/man/man1/UserServiceCommand.1.gz \
            share/doc/userservicecommand/README.md \
            share/doc/userservicecommand/copyright \
            share/doc/userservicecommand/changelog.gz \
            share/doc/userservicecommand/examples/orvane.ini \
            bin/userservice share/man/man1/userservice.1.gz etc/userservicecommand/orvane.ini \
            share/bash-completion/completions/userservice; do
    [ -f "$prefix/$file" ] || fail "not installed: $file"
done
[ -x "$prefix/bin/UserServiceCommand" ] || fail "bin/UserServiceCommand is not executable"
MANPATH=$prefix/share/man man -w UserServiceCommand >/dev/null 2>&1 ||
    fail "man does not find UserServiceCommand under $prefix/share/man"

# From a folder of its own with the example parameter file: no error records,
# the example's policy server, and an answer from the sample directory.
mkdir "$prefix/run"
cp "$prefix/share/doc/userservicecommand/examples/orvane.ini" "$prefix/run/"
output=$(cd "$prefix/run" &&
         printf '\n\n15\njsmith@example.com\n0\n' | "$prefix/bin/UserServiceCommand" 2>"$prefix/err")
rc=$?
[ $rc -eq 0 ] || fail "the installed program ended with status $rc"
[ -s "$prefix/err" ] && fail "the installed program wrote to standard error: $(cat "$prefix/err")"
grep -q 'Using PolicyServer location 127.0.0.1:55806$' <<<"$output" ||
    fail "no policy server location in the output"
grep -qx $'Login Name:\tjsmith' <<<"$output" || fail "no answer from the sample directory"
[ "$(cd "$prefix/run" && "$prefix/bin/userservice" fqdn 'EXAMPLE\jsmith')" = \
  "LDAP://localhost ou=Sales,dc=example,dc=com/John Smith" ] || fail "userservice gave no answer"
bash -n "$prefix/share/bash-completion/completions/userservice" || fail "the completion is no bash"
exit $status

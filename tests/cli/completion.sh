#!/usr/bin/env bash
# The bash completion of userservice, its function called as bash calls it:
# commands, a kind of search, formats, and a context from the directory.
#   completion.sh COMPLETION-FILE BUILD-DIR
set -u
source "$1"
PATH=$(cd "$2" && pwd):$PATH
work=$(mktemp -d "${TMPDIR:-/tmp}/ov-completion.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
compopt() { :; }  # only a completion that bash itself runs may call it
status=0
expect() {
    local want=$1
    shift
    COMP_WORDS=("$@") COMP_CWORD=$(($# - 1))
    _userservice
    local got
    got=$(printf '%s|' "${COMPREPLY[@]}")
    [[ $got == "$want" ]] || { echo "${COMP_WORDS[*]}: got '$got', expected '$want'"; status=1; }
}
expect 'users|user-groups|user-info|user-by-email|' userservice us
expect 'users|groups|ous|' userservice search ''
expect 'json|' userservice --format j
expect '--exact|' userservice search users --e
expect 'LDAP://localhost ou=Sales,dc=example,dc=com|' userservice users '"LDAP://localhost ou=S'
expect 'LDAP://localhost ou=Sales,dc=example,dc=com/Mary Jones|' \
    userservice show "'LDAP://localhost ou=Sales,dc=example,dc=com/M"
exit $status

// userservice config and userservice check: the settings in force, and a
// verdict on each directory server they name.
#pragma once

#include <ostream>
#include <string>

class UsSession;

// The file in use ("(none)": the built-in sample directory), then each
// setting as "[Section] Key = value", secrets as "(set)". Exit status.
int UsPrintConfig(const std::string& file, std::ostream& out);
// One verdict a line: the directory's servers each reached, TLS verified,
// the service account accepted, the naming contexts read; or the built-in
// sample or LDIF file loaded. Exit status of the worst verdict.
int UsCheck(UsSession& session, std::ostream& out);

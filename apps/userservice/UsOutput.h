// What userservice prints: one answer in the format asked for, on standard
// output, and a failure as one line on standard error.
#pragma once

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "framework/OvString.h"
#include "services/OvUserServiceBase.h"

enum class UsFormat { Text, Json, Dn };

// Exit statuses, as the manual page lists them.
enum UsExit : int {
    kUsSuccess = 0,
    kUsNothingFound = 1,  // nothing found, or the password was not accepted
    kUsUsage = 2,
    kUsUnreachable = 3,  // directory unreachable, time-out, TLS failure
    kUsCredentials = 4,  // the service account's or the given credentials refused
    kUsFailure = 5,      // any other failure of a service
};

// The exit status of a service's non-zero status.
UsExit UsExitForStatus(unsigned status);

// One labelled value of an answer: the label is its JSON field name too.
using UsField = std::pair<std::string, std::string>;

class UsPrinter {
public:
    // command and input name the answer in JSON; ascii: JSON escapes every
    // character outside ASCII (standard output is a terminal).
    UsPrinter(std::ostream& out, UsFormat format, std::string command, std::string input,
              bool ascii);

    // A listing of names (FQDNs or contexts): one a line, or JSON items with
    // the parts of each name. dns: the DN of each name (format dn), or empty.
    void Names(const std::vector<OvWString>& names, const std::vector<std::string>& dns);
    // An answer of labelled values: text alone when there is one, else
    // "label<TAB>value" lines; JSON fields.
    void Fields(const std::vector<UsField>& fields);
    // Rows of labelled values (domain controllers): one a line, the values
    // separated by tabs; JSON items.
    void Rows(const std::vector<std::vector<UsField>>& rows);
    // A whole entry: "dn: ..." then "name: value" per value, a value that is
    // not printable text as "name:: " and its base64, as LDIF writes it.
    void Entry(const std::string& dn, const std::vector<OvEntryAttribute>& attributes);
    // The bare DNs.
    void Dns(const std::vector<std::string>& dns);

private:
    void WriteJson(const void* document);
    // A text as a JSON string, quotes included.
    std::string Quoted(const std::string& text) const;

    std::ostream& out_;
    UsFormat format_;
    std::string command_;
    std::string input_;
    bool ascii_;
};

// The service's text for status, then its number in hexadecimal.
std::string UsStatusText(unsigned status);
// "userservice: " and UsStatusText, on one line of standard error.
void UsReportStatus(std::ostream& err, unsigned status);
// The parts of a printed name: its server and the text after the last "/"
// (empty for a context, which names a container; the whole of a name that is
// no FQDN, such as a workstation's).
std::string UsServerOfName(const std::string& name);
// The naming value of a printed name; context: what the listing was asked
// of, which the name's parent DN ends with.
std::string UsNamingValueOf(const std::string& name, const std::string& context = "");
// Whether a value prints as text: well-formed UTF-8 and no control characters.
bool UsIsText(const std::string& value);

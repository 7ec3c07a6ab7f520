// Printing userservice's answers (UsOutput.h).
#include "apps/userservice/UsOutput.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "console/OvPieceWriter.h"
#include "platform/directory/Directory.h"
#include "platform/embedded/Ldif.h"
#include "services/OvCommException.h"
#include "services/OvEventLogBase.h"
#include "services/ProxyHandle.h"

using Json = nlohmann::ordered_json;

namespace {

void Line(std::ostream& out, const std::string& text)
{
    std::string line;
    OvAppendPrintable(line, text);
    line += '\n';
    out.write(line.data(), static_cast<std::streamsize>(line.size()));
}

}  // namespace

UsExit UsExitForStatus(unsigned status)
{
    switch (status) {
        case 0:
            return kUsSuccess;
        case ovdir::kStatusNoSuchEntry:
        case ovdir::kStatusNoEmail:
        case ovdir::kStatusNoSession:
        case ovdir::kStatusNotUser:
        case ovdir::kStatusNotGroup:
        case ovdir::kStatusNotContainer:
            return kUsNothingFound;
        case ovdir::kStatusMalformedName:
        case ovdir::kStatusUnsupportedType:
            return kUsUsage;
        case ovdir::kStatusUnreachable:
        case ovdir::kStatusTimeout:
        case ovdir::kStatusTlsFailed:
        case ovdir::kStatusServerBusy:
        case ovdir::kStatusLoadFailed:
        case kOvNoFactoryFound:
        case kOvFactoryFailed:
        case kOvServiceUnreachable:
        case kOvServiceTimeout:
        case kOvServiceBusy:
            return kUsUnreachable;
        case ovdir::kStatusBindFailed:
        case ovdir::kStatusAnonymousRefused:
        case ovdir::kStatusProtectionRequired:
        case ovdir::kStatusTooManyAttempts:
            return kUsCredentials;
        default:
            return kUsFailure;
    }
}

std::string UsStatusText(unsigned status)
{
    // Kept to the end of the process: one event-log proxy serves every text.
    static ProxyHandle<OvEventLogBase> eventLog(0);
    OvWString message;
    eventLog.GetInterface()->GetErrorMessage(status, message);
    char number[16];
    std::snprintf(number, sizeof number, "0x%08x", status);
    return OvPrintable(message.utf8()) + " (error " + number + ")";
}

void UsReportStatus(std::ostream& err, unsigned status)
{
    err << "userservice: " << UsStatusText(status) << std::endl;
}

std::string UsServerOfName(const std::string& name)
{
    const std::size_t scheme = name.find("://");
    if (scheme == std::string::npos) return std::string();
    const std::size_t start = scheme + 3;
    const std::size_t end = name.find(' ', start);
    return name.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

namespace {

// The DN part of a printed context or name, "LDAP://SERVER DN", lower case.
std::string LoweredDnOf(const std::string& text, std::size_t end = std::string::npos)
{
    const std::size_t scheme = text.find("://");
    const std::size_t blank = scheme == std::string::npos ? scheme : text.find(' ', scheme + 3);
    if (blank == std::string::npos || blank >= end) return std::string();
    return OvAsciiLower(std::string_view(text).substr(blank + 1, end - blank - 1));
}

bool EndsWithRdns(const std::string& dn, const std::string& tail)
{
    if (tail.empty() || dn.size() < tail.size()) return false;
    return dn.compare(dn.size() - tail.size(), tail.size(), tail) == 0 &&
           (dn.size() == tail.size() || dn[dn.size() - tail.size() - 1] == ',');
}

}  // namespace

std::string UsNamingValueOf(const std::string& name, const std::string& context)
{
    const std::size_t scheme = name.find("://");
    if (scheme == std::string::npos) return name;  // a plain name: a workstation, a domain
    const std::size_t first = name.find('/', scheme + 3);
    if (first == std::string::npos) return std::string();
    if (name.find('/', first + 1) == std::string::npos) return name.substr(first + 1);
    // A "/" may stand in the parent DN as in the value: the split is the
    // first "/" whose left part ends with the context asked of, else with a
    // domain's dc= part, else the last one.
    const std::string wanted = LoweredDnOf(context);
    for (int rule = 0; rule < 2; ++rule) {
        for (std::size_t slash = first; slash != std::string::npos;
             slash = name.find('/', slash + 1)) {
            const std::string parent = LoweredDnOf(name, slash);
            const std::size_t comma = parent.rfind(',');
            const bool matches =
                rule == 0
                    ? EndsWithRdns(parent, wanted)
                    : parent.compare(comma == std::string::npos ? 0 : comma + 1, 3, "dc=") == 0;
            if (matches) return name.substr(slash + 1);
        }
    }
    return name.substr(name.rfind('/') + 1);
}

bool UsIsText(const std::string& value)
{
    if (OvPrintable(value) != value) return false;
    // A value that ends in a blank or begins with one, ":" or "<" would not
    // read back from an LDIF line either.
    return value.empty() || (value.front() != ' ' && value.front() != ':' && value.front() != '<' &&
                             value.back() != ' ');
}

UsPrinter::UsPrinter(std::ostream& out, UsFormat format, std::string command, std::string input,
                     bool ascii)
    : out_(out),
      format_(format),
      command_(std::move(command)),
      input_(std::move(input)),
      ascii_(ascii)
{
}

std::string UsPrinter::Quoted(const std::string& text) const
{
    return Json(text).dump(-1, ' ', ascii_, Json::error_handler_t::replace);
}

void UsPrinter::WriteJson(const void* document)
{
    const Json& json = *static_cast<const Json*>(document);
    // Text that is not UTF-8 (a directory may hold such values) is replaced,
    // so that the document always parses.
    out_ << json.dump(2, ' ', ascii_, Json::error_handler_t::replace) << '\n';
}

void UsPrinter::Names(const std::vector<OvWString>& names, const std::vector<std::string>& dns)
{
    if (format_ == UsFormat::Dn) return Dns(dns);
    OvPieceWriter writer(out_);
    std::string& piece = writer.Text();
    if (format_ == UsFormat::Text) {
        for (const OvWString& name : names) {
            OvAppendPrintable(piece, name.utf8());
            piece += '\n';
            writer.Next();
        }
        return;
    }
    // Streamed, one item a line: a listing of a hundred thousand names as
    // one document in memory would cost more than the listing itself. The
    // library still writes every text.
    piece = "{\n  \"command\": " + Quoted(command_) + ",\n  \"input\": " + Quoted(input_) +
            ",\n  \"items\": [";
    const char* separator = "\n    ";
    for (const OvWString& name : names) {
        const std::string& text = name.utf8();
        piece += separator;
        piece += "{\"fqdn\": " + Quoted(text) + ", \"server\": " + Quoted(UsServerOfName(text)) +
                 ", \"name\": " + Quoted(UsNamingValueOf(text, input_)) + "}";
        separator = ",\n    ";
        writer.Next();
    }
    piece += names.empty() ? "]\n}\n" : "\n  ]\n}\n";
}

void UsPrinter::Fields(const std::vector<UsField>& fields)
{
    if (format_ == UsFormat::Json) {
        Json document{{"command", command_}, {"input", input_}};
        for (const UsField& field : fields) document[field.first] = field.second;
        return WriteJson(&document);
    }
    if (fields.size() == 1) return Line(out_, fields.front().second);
    for (const UsField& field : fields)
        out_ << field.first << '\t' << OvPrintable(field.second) << '\n';
}

void UsPrinter::Rows(const std::vector<std::vector<UsField>>& rows)
{
    if (format_ == UsFormat::Json) {
        Json items = Json::array();
        for (const std::vector<UsField>& row : rows) {
            Json item = Json::object();
            for (const UsField& field : row) item[field.first] = field.second;
            items.push_back(std::move(item));
        }
        Json document{{"command", command_}, {"input", input_}, {"items", std::move(items)}};
        return WriteJson(&document);
    }
    for (const std::vector<UsField>& row : rows) {
        std::string line;
        for (const UsField& field : row) {
            if (!line.empty()) line += '\t';
            line += OvPrintable(field.second);
        }
        out_ << line << '\n';
    }
}

void UsPrinter::Entry(const std::string& dn, const std::vector<OvEntryAttribute>& attributes)
{
    if (format_ == UsFormat::Dn) return Dns({dn});
    if (format_ == UsFormat::Json) {
        Json list = Json::array();
        for (const OvEntryAttribute& attribute : attributes) {
            bool binary = false;
            for (const std::string& value : attribute.values) binary = binary || !UsIsText(value);
            Json values = Json::array();
            for (const std::string& value : attribute.values)
                values.push_back(binary ? ovdir::EncodeBase64(value) : value);
            list.push_back(Json{{"name", attribute.name},
                                {"encoding", binary ? "base64" : "text"},
                                {"values", std::move(values)}});
        }
        Json document{
            {"command", command_}, {"input", input_}, {"dn", dn}, {"attributes", std::move(list)}};
        return WriteJson(&document);
    }
    Line(out_, "dn: " + dn);
    for (const OvEntryAttribute& attribute : attributes) {
        for (const std::string& value : attribute.values) {
            if (UsIsText(value))
                Line(out_, attribute.name + ": " + value);
            else
                Line(out_, attribute.name + ":: " + ovdir::EncodeBase64(value));
        }
    }
}

void UsPrinter::Dns(const std::vector<std::string>& dns)
{
    for (const std::string& dn : dns) Line(out_, dn);
}

// LDIF reading: unfolds lines, decodes base64 values and collects records.
#include "platform/services/Ldif.h"

#include <unordered_map>
#include <utility>

#include "platform/services/Names.h"

namespace ovdir {
namespace {

int Base64Value(char c)
{
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// One logical line: the text with its folded continuations joined, and the
// number of the physical line it starts on.
struct LogicalLine {
    std::string_view view;  // into the file's text
    std::string joined;     // the line with its continuations, when it has any
    bool folded = false;
    int line = 0;

    std::string_view Text() const { return folded ? std::string_view(joined) : view; }
};

std::string LowerAscii(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// Records of at most this many attribute lines are grouped by looking
// through the names seen so far; longer ones through a hash table.
constexpr std::size_t kShortRecord = 16;

bool Fail(LdifError& error, int line, std::string message)
{
    error.line = line;
    error.message = std::move(message);
    return false;
}

// Splits "name: value" / "name:: base64" into a lower-case name and the value.
bool SplitAttribute(const LogicalLine& line, std::string& name, std::string& value,
                    LdifError& error)
{
    const std::string_view text = line.Text();
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) return Fail(error, line.line, "line without a colon");
    if (colon == 0) return Fail(error, line.line, "attribute name missing");
    std::string_view description(text.data(), colon);
    for (char c : description)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-' || c == ';' || c == '.'))
            return Fail(error, line.line, "bad attribute name");
    description = description.substr(0, description.find(';'));
    name = LowerAscii(description);
    std::size_t i = colon + 1;
    if (i < text.size() && text[i] == '<')
        return Fail(error, line.line, "values read from a URL are not supported");
    const bool base64 = i < text.size() && text[i] == ':';
    if (base64) ++i;
    while (i < text.size() && text[i] == ' ') ++i;
    if (!base64) {
        value.assign(text.substr(i));
        return true;
    }
    if (!DecodeBase64(text.substr(i), value)) return Fail(error, line.line, "bad base64 value");
    return true;
}

}  // namespace

bool DecodeBase64(std::string_view text, std::string& out)
{
    out.clear();
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (text.size() % 4 != 0) return false;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        int v[4];
        int padding = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text[i + static_cast<std::size_t>(k)];
            if (c == '=') {
                // Padding only in the last group, only at its end.
                if (i + 4 != text.size() || k < 2) return false;
                ++padding;
                v[k] = 0;
                continue;
            }
            if (padding > 0) return false;
            v[k] = Base64Value(c);
            if (v[k] < 0) return false;
        }
        const unsigned group = (static_cast<unsigned>(v[0]) << 18) |
                               (static_cast<unsigned>(v[1]) << 12) |
                               (static_cast<unsigned>(v[2]) << 6) | static_cast<unsigned>(v[3]);
        out += static_cast<char>((group >> 16) & 0xFF);
        if (padding < 2) out += static_cast<char>((group >> 8) & 0xFF);
        if (padding < 1) out += static_cast<char>(group & 0xFF);
    }
    return true;
}

std::string EncodeBase64(std::string_view bytes)
{
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        unsigned group = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            group |= static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        if (i + 2 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 2]);
        out += alphabet[(group >> 18) & 63];
        out += alphabet[(group >> 12) & 63];
        out += i + 1 < bytes.size() ? alphabet[(group >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? alphabet[group & 63] : '=';
    }
    return out;
}

bool ReadLdif(std::string_view text, std::vector<Entry>& entries, LdifError& error,
              std::vector<int>* dnLines, std::vector<std::string>* normalizedDns)
{
    entries.clear();
    if (dnLines != nullptr) dnLines->clear();
    if (normalizedDns != nullptr) normalizedDns->clear();
    error = LdifError();

    // Physical lines into logical ones; comments (with their own folded
    // continuations) drop out, an empty line ends a record.
    std::vector<LogicalLine> record;
    bool inComment = false;
    bool versionAllowed = true;
    int lineNumber = 0;
    std::size_t position = 0;
    std::string name;
    std::string value;
    std::vector<std::pair<std::string, std::string>> split;  // kept from record to record
    // The attribute of each line, by name, and the number of values of each.
    std::unordered_map<std::string_view, std::size_t> slots;
    std::vector<std::string_view> names;  // distinct names in order
    std::vector<std::size_t> slotOf;
    std::vector<std::size_t> counts;

    std::size_t used = 0;  // lines of record in use; the rest keep their storage
    const auto finishRecord = [&]() -> bool {
        if (used == 0) return true;
        const std::size_t count = used;
        used = 0;
        const std::vector<LogicalLine>& lines = record;
        std::size_t first = 0;
        if (versionAllowed) {
            versionAllowed = false;
            if (!SplitAttribute(lines[0], name, value, error)) return false;
            if (name == "version") {
                if (value != "1") return Fail(error, lines[0].line, "unsupported LDIF version");
                first = 1;
                if (first == count) return true;
            }
        }
        if (!SplitAttribute(lines[first], name, value, error)) return false;
        if (name != "dn") return Fail(error, lines[first].line, "record does not start with dn:");
        Dn dn;
        if (!Dn::Parse(value, dn) || dn.Empty())
            return Fail(error, lines[first].line, "malformed DN");
        Entry entry;
        entry.dn = std::move(value);
        // Split every line first, so each attribute's values are counted and
        // stored without growing.
        std::size_t parts = 0;
        for (std::size_t k = first + 1; k < count; ++k) {
            if (lines[k].Text() == "-")
                return Fail(error, lines[k].line, "change records are not supported");
            if (parts == split.size()) split.emplace_back();
            auto& part = split[parts++];
            if (!SplitAttribute(lines[k], part.first, part.second, error)) return false;
            if (part.first == "changetype" || part.first == "control")
                return Fail(error, lines[k].line, "change records are not supported");
            if (part.first == "dn") return Fail(error, lines[k].line, "second dn: in one record");
        }
        // Lines of one name become one attribute, in the order of first
        // appearance; each line finds its attribute through a table, so that
        // a record of many distinct attributes costs no more than its size.
        // A short record is looked through instead: no table to fill.
        slotOf.resize(parts);
        names.clear();
        const bool useTable = parts > kShortRecord;
        if (useTable) {
            // A large table left by a large record is not cleared bucket by
            // bucket for every small record after it.
            if (slots.bucket_count() > 4096)
                std::unordered_map<std::string_view, std::size_t>().swap(slots);
            else
                slots.clear();
        }
        for (std::size_t k = 0; k < parts; ++k) {
            const std::string_view attributeName = split[k].first;
            std::size_t slot = names.size();
            if (useTable) {
                slot = slots.emplace(attributeName, slot).first->second;
            } else {
                for (std::size_t m = 0; m < names.size(); ++m)
                    if (names[m] == attributeName) slot = m;
            }
            if (slot == names.size()) {
                names.push_back(attributeName);
                if (slot == counts.size()) counts.emplace_back();
                counts[slot] = 0;
            }
            slotOf[k] = slot;
            ++counts[slot];
        }
        const std::size_t distinct = names.size();
        entry.attributes.resize(distinct);
        for (std::size_t k = 0; k < parts; ++k) {
            auto& attribute = entry.attributes[slotOf[k]];
            if (attribute.second.empty()) {
                attribute.first = split[k].first;
                attribute.second.reserve(counts[slotOf[k]]);
            }
            attribute.second.push_back(std::move(split[k].second));
        }
        entries.push_back(std::move(entry));
        if (dnLines != nullptr) dnLines->push_back(lines[first].line);
        if (normalizedDns != nullptr) normalizedDns->push_back(dn.Normalized());
        return true;
    };

    while (position < text.size() || position == 0) {
        std::size_t end = text.find('\n', position);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(position, end - position);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        ++lineNumber;
        position = end + 1;

        if (!line.empty() && line.front() == ' ') {
            if (inComment) continue;
            if (used == 0)
                return Fail(error, lineNumber, "continuation line without a line before it");
            LogicalLine& last = record[used - 1];
            if (!last.folded) last.joined.assign(last.view);
            last.folded = true;
            last.joined.append(line.substr(1));
        } else if (line.empty()) {
            inComment = false;
            if (!finishRecord()) return false;
        } else if (line.front() == '#') {
            inComment = true;
        } else {
            inComment = false;
            if (used == record.size()) record.emplace_back();
            record[used].view = line;
            record[used].folded = false;
            record[used].line = lineNumber;
            ++used;
        }
        if (end >= text.size()) break;
    }
    return finishRecord();
}

}  // namespace ovdir

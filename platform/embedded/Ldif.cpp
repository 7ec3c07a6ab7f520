// LDIF reading: unfolds lines, decodes base64 values and collects records.
#include "platform/embedded/Ldif.h"

#include <unordered_map>
#include <utility>

#include "framework/OvString.h"
#include "platform/directory/Names.h"

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
    name = OvAsciiLower(description);
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

namespace {

// Reads the records of one LDIF text: lines are added one at a time, an
// empty line (or the end) finishes a record into an entry. The buffers are
// kept from record to record so that a long file reuses their storage.
class LdifReader {
public:
    LdifReader(const LdifRecordHandler& take, LdifError& error) : take_(take), error_(error) {}

    // One physical line, without its line end; false on an error.
    bool AddLine(std::string_view line, int lineNumber);
    // The record read so far becomes an entry; false on an error.
    bool FinishRecord();

private:
    bool SkipVersion(std::size_t count, std::size_t& first);
    bool SplitValueLines(std::size_t first, std::size_t count, std::size_t& parts);
    void GroupByName(std::size_t parts);
    void FillAttributes(std::size_t parts, Entry& entry);

    const LdifRecordHandler& take_;
    LdifError& error_;
    Entry entry_;  // the record being finished; its storage is handed on

    std::vector<LogicalLine> record_;
    std::size_t used_ = 0;  // lines of record_ in use; the rest keep their storage
    bool inComment_ = false;
    bool versionAllowed_ = true;
    std::string name_;
    std::string value_;
    std::vector<std::pair<std::string, std::string>> split_;
    // The attribute of each line, by name, and the number of values of each.
    std::unordered_map<std::string_view, std::size_t> slots_;
    std::vector<std::string_view> names_;  // distinct names in order
    std::vector<std::size_t> slotOf_;
    std::vector<std::size_t> counts_;
};

bool LdifReader::AddLine(std::string_view line, int lineNumber)
{
    // Comments (with their own folded continuations) drop out.
    if (!line.empty() && line.front() == ' ') {
        if (inComment_) return true;
        if (used_ == 0)
            return Fail(error_, lineNumber, "continuation line without a line before it");
        LogicalLine& last = record_[used_ - 1];
        if (!last.folded) last.joined.assign(last.view);
        last.folded = true;
        last.joined.append(line.substr(1));
    } else if (line.empty()) {
        inComment_ = false;
        return FinishRecord();
    } else if (line.front() == '#') {
        inComment_ = true;
    } else {
        inComment_ = false;
        if (used_ == record_.size()) record_.emplace_back();
        record_[used_].view = line;
        record_[used_].folded = false;
        record_[used_].line = lineNumber;
        ++used_;
    }
    return true;
}

// The first record may begin with "version: 1"; first is then the next line.
bool LdifReader::SkipVersion(std::size_t count, std::size_t& first)
{
    first = 0;
    if (!versionAllowed_) return true;
    versionAllowed_ = false;
    if (!SplitAttribute(record_[0], name_, value_, error_)) return false;
    if (name_ != "version") return true;
    if (value_ != "1") return Fail(error_, record_[0].line, "unsupported LDIF version");
    first = count > 1 ? 1 : count;
    return true;
}

// Splits every line after the dn, so each attribute's values are counted and
// stored without growing.
bool LdifReader::SplitValueLines(std::size_t first, std::size_t count, std::size_t& parts)
{
    parts = 0;
    for (std::size_t k = first + 1; k < count; ++k) {
        const LogicalLine& line = record_[k];
        if (line.Text() == "-") return Fail(error_, line.line, "change records are not supported");
        if (parts == split_.size()) split_.emplace_back();
        auto& part = split_[parts++];
        if (!SplitAttribute(line, part.first, part.second, error_)) return false;
        if (part.first == "changetype" || part.first == "control")
            return Fail(error_, line.line, "change records are not supported");
        if (part.first == "dn") return Fail(error_, line.line, "second dn: in one record");
    }
    return true;
}

// Lines of one name become one attribute, in the order of first appearance;
// each line finds its attribute through a table, so that a record of many
// distinct attributes costs no more than its size. A short record is looked
// through instead: no table to fill.
void LdifReader::GroupByName(std::size_t parts)
{
    slotOf_.resize(parts);
    names_.clear();
    const bool useTable = parts > kShortRecord;
    if (useTable) {
        // A large table left by a large record is not cleared bucket by
        // bucket for every small record after it.
        if (slots_.bucket_count() > 4096)
            std::unordered_map<std::string_view, std::size_t>().swap(slots_);
        else
            slots_.clear();
    }
    for (std::size_t k = 0; k < parts; ++k) {
        const std::string_view attributeName = split_[k].first;
        std::size_t slot = names_.size();
        if (useTable) {
            slot = slots_.emplace(attributeName, slot).first->second;
        } else {
            for (std::size_t m = 0; m < names_.size(); ++m)
                if (names_[m] == attributeName) slot = m;
        }
        if (slot == names_.size()) {
            names_.push_back(attributeName);
            if (slot == counts_.size()) counts_.emplace_back();
            counts_[slot] = 0;
        }
        slotOf_[k] = slot;
        ++counts_[slot];
    }
}

void LdifReader::FillAttributes(std::size_t parts, Entry& entry)
{
    entry.attributes.resize(names_.size());
    for (std::size_t k = 0; k < parts; ++k) {
        auto& attribute = entry.attributes[slotOf_[k]];
        if (attribute.second.empty()) {
            attribute.first = split_[k].first;
            attribute.second.reserve(counts_[slotOf_[k]]);
        }
        attribute.second.push_back(std::move(split_[k].second));
    }
}

bool LdifReader::FinishRecord()
{
    if (used_ == 0) return true;
    const std::size_t count = used_;
    used_ = 0;
    std::size_t first = 0;
    if (!SkipVersion(count, first)) return false;
    if (first == count) return true;
    const LogicalLine& dnLine = record_[first];
    if (!SplitAttribute(dnLine, name_, value_, error_)) return false;
    if (name_ != "dn") return Fail(error_, dnLine.line, "record does not start with dn:");
    Dn dn;
    if (!Dn::Parse(value_, dn) || dn.Empty()) return Fail(error_, dnLine.line, "malformed DN");
    std::size_t parts = 0;
    if (!SplitValueLines(first, count, parts)) return false;
    entry_.dn = std::move(value_);
    entry_.attributes.clear();
    GroupByName(parts);
    FillAttributes(parts, entry_);
    take_(entry_, dnLine.line, dn.Normalized());
    return true;
}

}  // namespace

bool ReadLdif(std::string_view text, std::vector<Entry>& entries, LdifError& error,
              std::vector<int>* dnLines, std::vector<std::string>* normalizedDns)
{
    entries.clear();
    if (dnLines != nullptr) dnLines->clear();
    if (normalizedDns != nullptr) normalizedDns->clear();
    const auto take = [&](Entry& entry, int dnLine, std::string&& key) {
        entries.push_back(std::move(entry));
        if (dnLines != nullptr) dnLines->push_back(dnLine);
        if (normalizedDns != nullptr) normalizedDns->push_back(std::move(key));
    };
    return ReadLdifEach(text, take, error);
}

bool ReadLdifEach(std::string_view text, const LdifRecordHandler& take, LdifError& error)
{
    error = LdifError();
    LdifReader reader(take, error);
    int lineNumber = 0;
    std::size_t position = 0;
    while (position < text.size() || position == 0) {
        std::size_t end = text.find('\n', position);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(position, end - position);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        position = end + 1;
        if (!reader.AddLine(line, ++lineNumber)) return false;
        if (end >= text.size()) break;
    }
    return reader.FinishRecord();
}

}  // namespace ovdir

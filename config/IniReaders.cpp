// The parameter file's key readers: a line-oriented text reader under a shared
// lock, and a byte reader under a read lock on the head of the file.
#include "config/IniReaders.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "config/IniFileSystem.h"
#include "framework/OvBoundedFile.h"
#include "framework/OvPath.h"
#include "framework/OvString.h"
#include "services/OvCommFramework.h"

namespace {

constexpr const char* kBlanks = kOvLineBlanks;
// What separates a header's word from the rest of its line (as isspace).
constexpr const char* kSpaces = " \t\r\n\v\f";
constexpr int kLockAttempts = 10;
// Longest line the text reader takes; a longer one ends its scan.
constexpr std::size_t kMaxTextLine = 4095;
// The byte reader handles the file in pieces of at most this many bytes.
constexpr std::size_t kBytePiece = 1023;
constexpr std::size_t kHeaderWord = 127;
// The byte reader's lock covers the head of the file, where the keys are.
constexpr off_t kLockedBytes = 10000;

unsigned g_lastIniReadStatus = 0;

bool IsBlank(char c) { return std::strchr(kBlanks, c) != nullptr && c != '\0'; }

// Reads the file line by line through the seam. A line longer than the
// text reader takes, or a failed read, ends the scan instead of being retried.
class LineReader {
public:
    enum Outcome { kLine, kEnd, kTooLong, kFailed };

    explicit LineReader(int fd) : fd_(fd) {}
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;
    ~LineReader() { explicit_bzero(buffer_, sizeof buffer_); }

    Outcome Next(std::string& line)
    {
        // The caller's line never grows past its room: the bytes of the
        // last line are all there is to overwrite.
        explicit_bzero(line.data(), line.size());
        line.clear();
        for (;;) {
            if (position_ == filled_) {
                if (atEnd_) return line.empty() ? kEnd : kLine;
                const ssize_t got = CurrentIniFileSystem().read(fd_, buffer_, sizeof buffer_);
                if (got < 0) return kFailed;
                if (got == 0) {
                    atEnd_ = true;
                    continue;
                }
                filled_ = static_cast<std::size_t>(got);
                position_ = 0;
                // A file that keeps growing under the reader ends its scan.
                total_ += filled_;
                if (total_ > kOvParameterFileLimit) return kTooLong;
            }
            const char c = buffer_[position_++];
            if (c == '\n') return kLine;
            line += c;
            if (line.size() > kMaxTextLine) return kTooLong;
        }
    }

private:
    int fd_;
    char buffer_[4096];
    std::size_t filled_ = 0;
    std::size_t position_ = 0;
    std::size_t total_ = 0;
    bool atEnd_ = false;
};

bool Fail(unsigned status)
{
    g_lastIniReadStatus = status;
    return false;
}

// Whether the open descriptor is something the readers take: a regular file
// within the parameter file's size limit. Anything else (a FIFO, a device such
// as /dev/zero, a huge file) reads as an empty file, at once; a folder too,
// except that the text reader counts it as missing, as it always has.
bool Readable(int fd, bool& folder)
{
    const int problem = OvCheckRegularFile(fd, kOvParameterFileLimit);
    folder = problem == EISDIR;
    return problem == 0;
}

// Opens the file and takes the shared lock; -1 after the last attempt failed.
// For a file the readers do not take, -1 at once with notReadable set.
int OpenLocked(const char* path, bool& notReadable, bool& folder)
{
    IniFileSystem& fs = CurrentIniFileSystem();
    notReadable = false;
    for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
        const int fd = fs.open(path);
        if (fd >= 0) {
            if (!Readable(fd, folder)) {
                fs.close(fd);
                notReadable = true;
                return -1;
            }
            if (fs.lockShared(fd) == 0) return fd;
            fs.close(fd);
        }
        fs.sleep(fs.retryWaitMilliseconds);
    }
    return -1;
}

// Copies at most kIniValueSize - 1 characters and terminates.
void CopyValue(char* value, const char* text)
{
    std::size_t length = std::strlen(text);
    if (length > kIniValueSize - 1) length = kIniValueSize - 1;
    std::memcpy(value, text, length);
    value[length] = '\0';
}

// atoi without its undefined overflow: leading blanks and sign, then digits,
// saturated at the limits of int.
int ParseLeadingInt(const char* text)
{
    char* end = nullptr;
    const long number = std::strtol(text, &end, 10);
    if (end == text) return 0;
    if (number > INT_MAX) return INT_MAX;
    if (number < INT_MIN) return INT_MIN;
    return static_cast<int>(number);
}

}  // namespace

void TrimLineBlanksInPlace(char* text)
{
    if (text == nullptr) return;
    std::size_t start = 0;
    while (IsBlank(text[start])) ++start;
    std::size_t length = std::strlen(text + start);
    std::memmove(text, text + start, length + 1);
    while (length > 0 && IsBlank(text[length - 1])) text[--length] = '\0';
}

unsigned GetLastIniReadStatus() { return g_lastIniReadStatus; }

bool ReadIniString(const std::string& fileName, const std::string& section, const std::string& key,
                   std::string& value)
{
    const std::string header = "[" + section + "]";
    if (!OvFileSystem::Exists(OvPath(fileName))) return Fail(kIniFileMissing);
    bool notReadable = false;
    bool folder = false;
    const int fd = OpenLocked(fileName.c_str(), notReadable, folder);
    if (notReadable) return Fail(folder ? kIniFileMissing : kIniSectionMissing);
    if (fd < 0) return Fail(kIniFileMissing);

    LineReader reader(fd);
    unsigned status = kIniSectionMissing;
    // Room for the longest line taken, so that the text is never moved (and
    // a copy left behind) while a line grows. The line is only looked at,
    // never copied whole: a copy passes through registers that a later call
    // may spill to the stack, where a password would outlive its wiping.
    std::string line;
    line.reserve(kMaxTextLine + 1);
    for (;;) {
        const LineReader::Outcome outcome = reader.Next(line);
        if (outcome == LineReader::kFailed) {
            status = kIniFileMissing;
            break;
        }
        if (outcome != LineReader::kLine) break;
        const std::string_view trimmed = OvTrimLineBlanks(line);
        if (trimmed.empty() || trimmed[0] == '#') continue;
        if (status == kIniSectionMissing) {
            if (trimmed == header) status = kIniKeyMissing;
            continue;
        }
        if (trimmed[0] == '[') break;
        const std::size_t equals = trimmed.find('=');
        if (equals == std::string::npos) continue;
        if (OvTrimLineBlanks(trimmed.substr(0, equals)) == key) {
            value.assign(OvTrimLineBlanks(trimmed.substr(equals + 1)));
            status = 0;
            break;
        }
    }
    CurrentIniFileSystem().close(fd);
    // The file may hold a password (the services' section does).
    OvWipe(line);
    return status == 0 || Fail(status);
}

namespace {

// Takes the byte reader's lock on the file's first bytes, retrying while
// another process holds it; false once the attempts are spent or the lock
// fails for another reason.
bool LockRange(IniFileSystem& fs, int fd)
{
    for (int attempt = 1;; ++attempt) {
        if (fs.lockRange(fd, true, kLockedBytes) == 0) return true;
        const bool heldByOther = errno == EACCES || errno == EAGAIN;
        if (!heldByOther || attempt == kLockAttempts) return false;
        fs.sleep(fs.retryWaitMilliseconds);
    }
}

// Reads the file one line at a time into a buffer of its own: a piece of at
// most kBytePiece bytes, cut after its first line feed, the bytes after it
// handed back to the file. The buffer is wiped when the reader goes.
class PieceReader {
public:
    PieceReader(IniFileSystem& fs, int fd) : fs_(fs), fd_(fd) {}
    PieceReader(const PieceReader&) = delete;
    PieceReader& operator=(const PieceReader&) = delete;
    ~PieceReader() { explicit_bzero(piece_, sizeof piece_); }

    // The next line, zero-terminated (its line feed kept); null at the end,
    // on a failed read or seek, and once the file grew past its limit.
    char* Next()
    {
        // A file that keeps growing under the reader ends its scan.
        if (consumed_ > kOvParameterFileLimit) return nullptr;
        const ssize_t got = fs_.read(fd_, piece_, kBytePiece);
        if (got <= 0) return nullptr;
        std::size_t length = static_cast<std::size_t>(got);
        const void* newline = std::memchr(piece_, '\n', length);
        if (newline != nullptr) {
            const std::size_t lineLength =
                static_cast<std::size_t>(static_cast<const char*>(newline) - piece_) + 1;
            if (lineLength < length) {
                // Hand the bytes after the line back to the file for the next turn.
                if (fs_.seek(fd_, static_cast<off_t>(lineLength) - static_cast<off_t>(length),
                             SEEK_CUR) < 0) {
                    return nullptr;
                }
                length = lineLength;
            }
        }
        piece_[length] = '\0';
        consumed_ += length;
        return piece_;
    }

private:
    IniFileSystem& fs_;
    int fd_;
    char piece_[kBytePiece + 1];
    std::size_t consumed_ = 0;
};

// Whether a header line (its first character '[') names the section
// `header`: the first blank-delimited word after the '[', cut at its ']' and
// trimmed. A word without ']' names no section.
bool HeaderNames(const char* piece, const char* header)
{
    const char* word = piece + 1;
    while (*word != '\0' && std::strchr(kSpaces, *word) != nullptr) ++word;
    char name[kHeaderWord + 1];
    std::size_t nameLength = 0;
    while (nameLength < kHeaderWord && word[nameLength] != '\0' &&
           std::strchr(kSpaces, word[nameLength]) == nullptr) {
        name[nameLength] = word[nameLength];
        ++nameLength;
    }
    name[nameLength] = '\0';
    char* close = std::strchr(name, ']');
    if (close == nullptr) return false;
    *close = '\0';
    TrimLineBlanksInPlace(name);
    return std::strcmp(name, header) == 0;
}

// For a line "key = value" of the key `wanted`: copies the value into value
// and gives true. The line is cut in place.
bool TakeValue(char* piece, const char* wanted, char* value)
{
    char* equals = std::strchr(piece, '=');
    if (equals == nullptr) return false;
    *equals = '\0';
    TrimLineBlanksInPlace(piece);
    if (std::strcmp(piece, wanted) != 0) return false;
    char* text = equals + 1;
    TrimLineBlanksInPlace(text);
    CopyValue(value, text);
    return true;
}

// Scans the lines for the key `wanted` in the section `header`: 0,
// kIniKeyMissing or kIniSectionMissing. Only a '[' in the first column starts a header; the
// section's first header counts, and the next header after it ends it.
unsigned ScanForValue(PieceReader& reader, const char* header, const char* wanted, char* value)
{
    unsigned result = kIniSectionMissing;
    bool inSection = false;
    while (char* piece = reader.Next()) {
        if (piece[0] == '[') {
            if (HeaderNames(piece, header)) {
                inSection = true;
                result = kIniKeyMissing;
                continue;
            }
            if (inSection) break;
            continue;
        }
        if (inSection && TakeValue(piece, wanted, value)) return 0;
    }
    return result;
}

}  // namespace

int ReadIniValue(const char* fileName, const char* section, const char* key, char* value)
{
    if (fileName == nullptr || section == nullptr || key == nullptr || value == nullptr) {
        return static_cast<int>(kIniFileMissing);
    }
    IniFileSystem& fs = CurrentIniFileSystem();
    const int fd = fs.open(fileName);
    if (fd < 0) return static_cast<int>(kIniFileMissing);
    bool folder = false;
    if (!Readable(fd, folder)) {
        fs.close(fd);
        return static_cast<int>(kIniSectionMissing);
    }
    if (!LockRange(fs, fd)) {
        fs.close(fd);
        return static_cast<int>(kIniFileMissing);
    }
    unsigned result;
    {
        PieceReader reader(fs, fd);
        result = ScanForValue(reader, section, key, value);
    }
    fs.lockRange(fd, false, kLockedBytes);
    fs.close(fd);
    return static_cast<int>(result);
}

int ReadIniInt(const char* fileName, const char* section, const char* key, int& value)
{
    char text[kIniValueSize] = {};
    const int status = ReadIniValue(fileName, section, key, text);
    if (status == 0) value = ParseLeadingInt(text);
    return status;
}

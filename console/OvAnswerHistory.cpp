// The history of answers and its file: one line per answer, "kind<TAB>answer",
// appended as answers are typed and written afresh when it grows too long.
#include "console/OvAnswerHistory.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "framework/OvApplication.h"
#include "framework/OvSystem.h"

namespace {

// Every kind that is kept, with its name in the file.
struct KindName {
    OvAnswerKind kind;
    const char* name;
};
constexpr KindName kKindNames[] = {
    {OvAnswerKind::Selection, "selection"},
    {OvAnswerKind::PolicyHost, "policy-host"},
    {OvAnswerKind::PolicyPort, "policy-port"},
    {OvAnswerKind::Context, "context"},
    {OvAnswerKind::User, "user"},
    {OvAnswerKind::Name, "name"},
    {OvAnswerKind::Type, "type"},
    {OvAnswerKind::Domain, "domain"},
    {OvAnswerKind::Address, "address"},
    {OvAnswerKind::Flag, "flag"},
};

const std::vector<std::string> kNone;

bool IsBlankLine(const std::string& text)
{
    return text.find_first_not_of(" \t") == std::string::npos;
}

// The most of the file read back; a larger one is passed over. Far above
// what the kept answers and the growth allowed before compaction fill.
constexpr std::size_t kFileLimit = 16u << 20;

// Whether a folder or file may hold the user's history: the user's own, and
// not writable by anyone else, who could otherwise plant answers in it or
// read what is typed (the rule ssh keeps for ~/.ssh).
bool Private(const struct stat& info)
{
    return info.st_uid == ::geteuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Opens the file in the history folder for the user alone: created with mode
// 0600, never through a symbolic link, and only when it is a regular file of
// the user's that nobody else may write. Non-blocking, so that a FIFO in its
// place is refused at once instead of waiting for a writer.
int OpenPrivate(int folder, const char* name, int flags)
{
    const int fd = OvSystem().openAt(folder, name, flags | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK,
                                     S_IRUSR | S_IWUSR);
    if (fd < 0) return -1;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || !Private(info)) {
        ::close(fd);
        return -1;
    }
    // A file of the user's left readable by others is made private.
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) fchmod(fd, S_IRUSR | S_IWUSR);
    return fd;
}

bool WriteAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t put = OvSystem().write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

// Creates the folders of the path that are missing, for the user alone.
void MakeParents(const std::string& path)
{
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1))
        ::mkdir(path.substr(0, slash).c_str(), S_IRWXU);
}

}  // namespace

const char* OvAnswerKindName(OvAnswerKind kind)
{
    for (const KindName& entry : kKindNames)
        if (entry.kind == kind) return entry.name;
    return nullptr;
}

OvAnswerHistory::OvAnswerHistory(std::string path) : path_(std::move(path))
{
    if (path_.empty()) return;
    const std::string why = OpenFolder();
    if (why.empty()) {
        if (!path_.empty()) Load();
        return;
    }
    path_.clear();
    if (OvApplication::Exists())
        OvApplication::Itself().GetErrorStream(kOvHistoryNotPrivate, kOvConsoleModuleId,
                                               folderPath_.c_str(), 0, -1)
            << why + "; answers are kept for this session only" << ::ends;
}

OvAnswerHistory::~OvAnswerHistory()
{
    if (folder_ >= 0) ::close(folder_);
}

std::string OvAnswerHistory::OpenFolder()
{
    const std::size_t slash = path_.rfind('/');
    folderPath_ = slash == std::string::npos ? "." : slash == 0 ? "/" : path_.substr(0, slash);
    name_ = path_.substr(slash + 1);
    MakeParents(path_);
    // The folder is judged by what it is, a symbolic link by what it points
    // to; the file is then opened in the folder that was judged, never by
    // its path again.
    folder_ = OvSystem().open(folderPath_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    struct stat info {};
    if (folder_ < 0 || fstat(folder_, &info) != 0) {
        // No folder to be had (no home, a read-only one): the session keeps
        // the history, without a word, as when the file cannot be written.
        path_.clear();
        return std::string();
    }
    if (!Private(info))
        return "the history folder belongs to another user or others may write to it";
    const int fd = OvSystem().openAt(folder_, name_.c_str(),
                                     O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0);
    if (fd < 0)
        return errno == ENOENT
                   ? std::string()
                   : std::string("the history file cannot be opened: ") + std::strerror(errno);
    const bool usable = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && Private(info);
    ::close(fd);
    if (!usable)
        return "the history file is not a regular file of the user's, or others may write to it";
    return std::string();
}

std::string OvAnswerHistory::DefaultPath()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    std::string folder;
    if (state != nullptr && state[0] == '/') {
        folder = state;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] != '/') return std::string();
        folder = std::string(home) + "/.local/state";
    }
    return folder + "/UserServiceCommand/history";
}

const std::vector<std::string>& OvAnswerHistory::Entries(OvAnswerKind kind) const
{
    const auto found = entries_.find(kind);
    return found == entries_.end() ? kNone : found->second;
}

bool OvAnswerHistory::Add(OvAnswerKind kind, const std::string& answer)
{
    const char* name = OvAnswerKindName(kind);
    if (name == nullptr || IsBlankLine(answer) || answer.find('\n') != std::string::npos)
        return false;
    std::vector<std::string>& kept = entries_[kind];
    if (!kept.empty() && kept.back() == answer) return false;
    kept.push_back(answer);
    if (kept.size() > kKeptPerKind) kept.erase(kept.begin());
    if (path_.empty()) return true;
    const int fd = OpenPrivate(folder_, name_.c_str(), O_WRONLY | O_CREAT | O_APPEND);
    if (fd < 0) return true;
    // One write: sessions appending at the same time do not mix their lines.
    WriteAll(fd, std::string(name) + '\t' + answer + '\n');
    ::close(fd);
    return true;
}

void OvAnswerHistory::Load()
{
    const int fd = OpenPrivate(folder_, name_.c_str(), O_RDONLY);
    if (fd < 0) return;
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
        if (text.size() > kFileLimit) {
            ::close(fd);
            // Far more than this program ever keeps: started anew, not left
            // to grow by every later answer.
            Compact(std::numeric_limits<std::size_t>::max());
            return;
        }
    }
    ::close(fd);
    std::size_t lines = 0;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        // A last line without its line feed was cut short by a crash: dropped.
        if (end == std::string::npos) break;
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lines;
        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        const std::string name = line.substr(0, tab);
        for (const KindName& entry : kKindNames) {
            if (name != entry.name) continue;
            std::vector<std::string>& kept = entries_[entry.kind];
            std::string answer = line.substr(tab + 1);
            if (!IsBlankLine(answer) && (kept.empty() || kept.back() != answer))
                kept.push_back(std::move(answer));
            break;
        }
    }
    for (auto& [kind, kept] : entries_)
        if (kept.size() > kKeptPerKind) kept.erase(kept.begin(), kept.end() - kKeptPerKind);
    Compact(lines);
}

void OvAnswerHistory::Compact(std::size_t linesInFile)
{
    std::size_t kept = 0;
    for (const auto& entry : entries_) kept += entry.second.size();
    if (linesInFile <= 2 * kKeptPerKind || linesInFile <= 2 * kept) return;
    std::string text;
    for (const auto& [kind, answers] : entries_)
        for (const std::string& answer : answers)
            text += std::string(OvAnswerKindName(kind)) + '\t' + answer + '\n';
    // Written beside the file and renamed over it, so that no reader ever
    // sees half of it.
    const std::string fresh = name_ + ".new";
    ::unlinkat(folder_, fresh.c_str(), 0);
    const int fd =
        OvSystem().openAt(folder_, fresh.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, S_IRUSR | S_IWUSR);
    if (fd < 0) return;
    const bool written = WriteAll(fd, text) && ::fsync(fd) == 0;
    ::close(fd);
    if (!written || ::renameat(folder_, fresh.c_str(), folder_, name_.c_str()) != 0)
        ::unlinkat(folder_, fresh.c_str(), 0);
}

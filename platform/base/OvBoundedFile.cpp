// The bounded whole-file reader behind every file the program and its services read.
#include "framework/OvBoundedFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "framework/OvSystem.h"
#include "services/OvCommFramework.h"

namespace {

// Pieces read at a time; the string grows by at most this much per read.
constexpr std::size_t kPiece = 64 * 1024;

std::string ErrnoName(int error)
{
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 32))
    if (const char* name = ::strerrorname_np(error)) return name;
#endif
    return "errno " + std::to_string(error);
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    // Don't retry close on EINTR: the descriptor is gone either way on Linux.
    ~Descriptor()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

// Makes the text size bytes long. A text that outgrows its buffer moves to a
// larger one and the old buffer is wiped, so that no copy of what was read is
// left behind in freed memory.
void Grow(std::string& content, std::size_t size)
{
    if (size <= content.capacity()) {
        content.resize(size);
        return;
    }
    std::string larger;
    larger.reserve(std::max(size, content.capacity() * 2));
    larger.assign(content);
    larger.resize(size);
    OvWipe(content);
    content.swap(larger);
}

}  // namespace

int OvOpenForReading(const std::string& path)
{
    // Non-blocking: opening a FIFO without a writer would wait for ever.
    return OvSystem().open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0);
}

namespace {

// OvCheckRegularFile, with the size fstat gave for a file it accepts.
int CheckRegularFile(int fd, std::size_t limit, std::size_t& size)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0) return errno;
    if (S_ISDIR(info.st_mode)) return EISDIR;
    if (!S_ISREG(info.st_mode)) return kOvNotRegularFile;
    if (info.st_size < 0 || static_cast<unsigned long long>(info.st_size) > limit)
        return kOvFileTooLarge;
    size = static_cast<std::size_t>(info.st_size);
    return 0;
}

}  // namespace

int OvCheckRegularFile(int fd, std::size_t limit)
{
    std::size_t size = 0;
    return CheckRegularFile(fd, limit, size);
}

int OvCheckFileAt(const std::string& path, std::size_t limit)
{
    if (path.empty()) return ENOENT;
    const Descriptor file(OvOpenForReading(path));
    if (file.get() < 0) return errno;
    return OvCheckRegularFile(file.get(), limit);
}

int OvReadBoundedFile(const std::string& path, std::size_t limit, std::string& content)
{
    content.clear();
    if (path.empty()) return ENOENT;
    const Descriptor file(OvOpenForReading(path));
    if (file.get() < 0) return errno;
    std::size_t size = 0;
    if (const int problem = CheckRegularFile(file.get(), limit, size)) return problem;

    // The size from fstat is only a hint: the file may grow or shrink while
    // it is read, so the loop stops at the end or at the limit, whichever
    // comes first, and a file that grows past the limit is refused.
    if (size > 0) content.reserve(size);
    for (;;) {
        const std::size_t room = limit - content.size();
        // One byte beyond the limit tells a file at the limit from a larger one.
        const std::size_t want = room < kPiece ? room + 1 : kPiece;
        const std::size_t old = content.size();
        Grow(content, old + want);
        const ssize_t got = ::read(file.get(), &content[old], want);
        if (got < 0) {
            const int error = errno;
            if (error == EINTR) {
                content.resize(old);
                continue;
            }
            OvWipe(content);
            return error;
        }
        content.resize(old + static_cast<std::size_t>(got));
        if (got == 0) return 0;
        if (content.size() > limit) {
            OvWipe(content);
            return kOvFileTooLarge;
        }
    }
}

std::string OvFileErrorText(int error, std::size_t limit)
{
    switch (error) {
        case kOvNotRegularFile:
            return "not a regular file (a FIFO, device or socket)";
        case kOvFileTooLarge:
            return limit == 0 ? "larger than the size limit"
                              : "larger than the size limit of " + std::to_string(limit) + " bytes";
        default:
            return std::string(std::strerror(error)) + " (" + ErrnoName(error) + ")";
    }
}

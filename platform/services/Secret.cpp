// Secrets in buffers of their own, wiped when released.
#include "platform/services/Secret.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

namespace ovdir {
namespace {

// Longest password file taken; a larger file is not a password.
constexpr std::size_t kLargestSecretFile = 4096;

}  // namespace

void WipeBytes(void* data, std::size_t size)
{
    if (data != nullptr && size > 0) OPENSSL_cleanse(data, size);
}

void WipeText(std::string& text)
{
    // The whole capacity: a text that shrank still holds the longer tail.
    text.resize(text.capacity());
    WipeBytes(text.data(), text.size());
    text.clear();
}

void ProtectProcessMemory()
{
    // Once a secret was in memory, pieces of it may sit in buffers of the
    // libraries that carried it; the process stays protected to its end.
    static const int result = prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    (void)result;
}

Secret::Secret(Secret&& other) noexcept : data_(other.data_), size_(other.size_)
{
    other.data_ = nullptr;
    other.size_ = 0;
}

Secret& Secret::operator=(const Secret& other)
{
    if (this != &other) Assign(other.View());
    return *this;
}

Secret& Secret::operator=(Secret&& other) noexcept
{
    if (this != &other) {
        clear();
        data_ = other.data_;
        size_ = other.size_;
        other.data_ = nullptr;
        other.size_ = 0;
    }
    return *this;
}

Secret& Secret::operator=(std::string_view text)
{
    Assign(text);
    return *this;
}

void Secret::Assign(std::string_view text)
{
    // A view into this very buffer stays readable until the copy is made.
    char* fresh = nullptr;
    if (!text.empty()) {
        ProtectProcessMemory();
        fresh = static_cast<char*>(std::malloc(text.size() + 1));
        if (fresh == nullptr) throw std::bad_alloc();
        std::memcpy(fresh, text.data(), text.size());
        fresh[text.size()] = '\0';
    }
    clear();
    data_ = fresh;
    size_ = text.size();
}

void Secret::clear()
{
    if (data_ != nullptr) {
        WipeBytes(data_, size_ + 1);
        std::free(data_);
    }
    data_ = nullptr;
    size_ = 0;
}

bool ReadSecretFile(const std::string& path, Secret& secret, std::string& reason)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        reason = std::strerror(errno);
        ::close(fd);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        reason = std::strerror(S_ISDIR(status.st_mode) ? EISDIR : EINVAL);
        ::close(fd);
        return false;
    }
    ProtectProcessMemory();
    // One byte more than the largest file taken tells a larger file apart.
    char buffer[kLargestSecretFile + 1];
    std::size_t filled = 0;
    bool ok = true;
    while (filled < sizeof buffer) {
        const ssize_t got = ::read(fd, buffer + filled, sizeof buffer - filled);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            reason = std::strerror(errno);
            ok = false;
            break;
        }
        if (got == 0) break;
        filled += static_cast<std::size_t>(got);
    }
    ::close(fd);
    if (ok && filled > kLargestSecretFile) {
        reason = std::strerror(EFBIG);
        ok = false;
    }
    if (ok) {
        std::size_t length = filled;
        if (length > 0 && buffer[length - 1] == '\n') --length;
        if (length > 0 && buffer[length - 1] == '\r') --length;
        secret = std::string_view(buffer, length);
    }
    WipeBytes(buffer, sizeof buffer);
    return ok;
}

bool ReadableByOthers(const std::string& path)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return false;
    return (status.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

}  // namespace ovdir

// Secrets in buffers of their own, wiped when released.
#include "platform/directory/Secret.h"

#include "framework/OvBoundedFile.h"
#include "services/OvCommFramework.h"

#include <openssl/crypto.h>
#include <sys/prctl.h>
#include <sys/stat.h>

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
    ProtectProcessMemory();
    // The one bounded reader of whole files; it wipes every buffer it drops.
    std::string content;
    const int error = OvReadBoundedFile(path, kLargestSecretFile, content);
    if (error != 0) {
        // Said as the system says it: a FIFO or device is no argument the
        // call takes, a larger file is too large.
        reason = std::strerror(error == kOvFileTooLarge     ? EFBIG
                               : error == kOvNotRegularFile ? EINVAL
                                                            : error);
        OvWipe(content);
        return false;
    }
    std::size_t length = content.size();
    if (length > 0 && content[length - 1] == '\n') --length;
    if (length > 0 && content[length - 1] == '\r') --length;
    secret = std::string_view(content.data(), length);
    OvWipe(content);
    return true;
}

bool ReadableByOthers(const std::string& path)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return false;
    return (status.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

bool WritableByOthers(const std::string& path)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return false;
    return (status.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

bool ReplaceableByOthers(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : path.substr(0, slash);
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0) return false;
    return (status.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (status.st_mode & S_ISVTX) == 0;
}

}  // namespace ovdir

// The real system calls behind the parameter-file readers.
#include "config/IniFileSystem.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "framework/OvOS.h"
#include "framework/OvSystem.h"

namespace {

int OpenReadOnly(const char* path)
{
    // Non-blocking, so that a FIFO in place of the file reads as empty
    // instead of waiting for a writer forever.
    return OvSystem().open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0);
}

int SetReadLock(int fd, short type, off_t length)
{
    struct flock region {};
    region.l_type = type;
    region.l_whence = SEEK_SET;
    region.l_start = 0;
    region.l_len = length;
    return ::fcntl(fd, F_SETLK, &region);
}

int LockShared(int fd)
{
    // Writers may use either BSD or POSIX locks; take both so that neither
    // kind can write while a key is read.
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0) return -1;
    if (SetReadLock(fd, F_RDLCK, 0) != 0) {
        const int error = errno;
        ::flock(fd, LOCK_UN);
        errno = error;
        return -1;
    }
    return 0;
}

int LockRange(int fd, bool locking, off_t length)
{
    return SetReadLock(fd, locking ? F_RDLCK : F_UNLCK, length);
}

ssize_t ReadBytes(int fd, void* buffer, std::size_t size)
{
    ssize_t got;
    do {
        got = ::read(fd, buffer, size);
    } while (got < 0 && errno == EINTR);
    return got;
}

off_t Seek(int fd, off_t offset, int whence) { return ::lseek(fd, offset, whence); }

// Don't retry close on EINTR: the descriptor is gone either way on Linux.
int Close(int fd) { return ::close(fd); }

void SleepFor(unsigned milliseconds) { OvOS::Sleep(milliseconds); }

}  // namespace

IniFileSystem DefaultIniFileSystem()
{
    return IniFileSystem{OpenReadOnly, LockShared, LockRange, ReadBytes,
                         Seek,         Close,      SleepFor,  1000};
}

IniFileSystem& CurrentIniFileSystem()
{
    static IniFileSystem current = DefaultIniFileSystem();
    return current;
}

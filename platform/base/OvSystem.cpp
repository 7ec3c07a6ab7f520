// The real system calls behind the framework's system seam.
#include "framework/OvSystem.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace {

void SleepMicroseconds(unsigned microseconds)
{
    timespec pause{static_cast<time_t>(microseconds / 1000000),
                   static_cast<long>(microseconds % 1000000) * 1000};
    // Woken by a signal: sleeps the rest.
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

int BytesWaiting(int fd, int& count) { return ::ioctl(fd, FIONREAD, &count); }

int Open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }

int OpenAt(int folder, const char* name, int flags, mode_t mode)
{
    return ::openat(folder, name, flags, mode);
}

ssize_t Write(int fd, const void* data, std::size_t size) { return ::write(fd, data, size); }

void TrimMemory() { malloc_trim(0); }

}  // namespace

const OvSystemCalls& OvRealSystem()
{
    static const OvSystemCalls calls{&SleepMicroseconds, &BytesWaiting, &Open, &OpenAt, &Write,
                                     &TrimMemory};
    return calls;
}

OvSystemCalls& OvSystem()
{
    static OvSystemCalls calls = OvRealSystem();
    return calls;
}

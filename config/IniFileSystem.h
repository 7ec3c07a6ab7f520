// The system calls of the parameter-file readers, behind one seam so that a
// test can make opening, locking or reading fail and shorten the retry wait.
#pragma once

#include <sys/types.h>

#include <cstddef>

struct IniFileSystem {
    // A read-only descriptor, or -1 with errno set.
    int (*open)(const char* path);
    // A non-blocking shared lock on the whole file that keeps writers out;
    // 0, or -1 with errno set. Closing the descriptor releases it.
    int (*lockShared)(int fd);
    // A non-blocking read lock (locking true) or its release (false) on the
    // first `length` bytes; 0, or -1 with errno set.
    int (*lockRange)(int fd, bool locking, off_t length);
    ssize_t (*read)(int fd, void* buffer, std::size_t size);
    off_t (*seek)(int fd, off_t offset, int whence);
    int (*close)(int fd);
    void (*sleep)(unsigned milliseconds);
    // Pause between two attempts to open or lock the file. The program keeps
    // the default; only tests shorten it.
    unsigned retryWaitMilliseconds;
};

// The calls in use; tests may replace members and must put the old value back.
IniFileSystem& CurrentIniFileSystem();

// The real system calls with the 1000 ms wait.
IniFileSystem DefaultIniFileSystem();

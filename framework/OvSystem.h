// The system calls the program makes where a test may want to stand in for
// the system: sleeping, asking how many bytes wait on a socket, opening and
// writing files, and handing freed memory back. They go through one table;
// the real calls unless a test replaced some.
#pragma once

#include <sys/types.h>

#include <cstddef>

struct OvSystemCalls {
    void (*sleepMicroseconds)(unsigned microseconds);
    // The bytes that can be read from fd without waiting (FIONREAD): 0, or
    // -1 with errno set.
    int (*bytesWaiting)(int fd, int& count);
    int (*open)(const char* path, int flags, mode_t mode);
    int (*openAt)(int folder, const char* name, int flags, mode_t mode);
    ssize_t (*write)(int fd, const void* data, std::size_t size);
    // Freed memory from the allocator's free lists back to the system.
    void (*trimMemory)();
};

// The table in use.
OvSystemCalls& OvSystem();

// The real system calls.
const OvSystemCalls& OvRealSystem();

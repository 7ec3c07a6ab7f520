// Operating-system services of the framework base library: mutexes, critical
// sections, a reader/writer lock and sleeping.
#pragma once

#include <mutex>
#include <shared_mutex>
#include <string>

// The lock that guards the reference count of the framework's smart pointer.
struct CRITICAL_SECTION {
    std::mutex mutex;
};

class OvOS {
public:
    // A mutex handle is an opaque pointer made by InitializeMutex. All four
    // return 0 on success; callers in this program ignore the result.
    static int InitializeMutex(void*& handle);
    static int LockMutex(void*& handle);
    static int UnlockMutex(void*& handle);
    static int DeleteMutex(void*& handle);

    static int LockCriticalSection(CRITICAL_SECTION& section);
    static int UnlockCriticalSection(CRITICAL_SECTION& section);

    static void Sleep(unsigned milliseconds);
};

class OvRWMutex {
public:
    explicit OvRWMutex(const std::string& name);
    OvRWMutex(const OvRWMutex&) = delete;
    OvRWMutex& operator=(const OvRWMutex&) = delete;
    virtual ~OvRWMutex();

    virtual void ReadLock();
    virtual void ReadUnlock();
    virtual void WriteLock();
    virtual void WriteUnlock();

    const std::string& GetName() const { return name_; }

private:
    std::string name_;
    std::shared_mutex mutex_;
};

// Operating-system services: mutex handles, critical sections, the reader/writer lock, sleeping.
#include "framework/OvOS.h"

#include "framework/OvSystem.h"

int OvOS::InitializeMutex(void*& handle)
{
    handle = new std::mutex;
    return 0;
}

int OvOS::LockMutex(void*& handle)
{
    if (handle == nullptr) return -1;
    static_cast<std::mutex*>(handle)->lock();
    return 0;
}

int OvOS::UnlockMutex(void*& handle)
{
    if (handle == nullptr) return -1;
    static_cast<std::mutex*>(handle)->unlock();
    return 0;
}

int OvOS::DeleteMutex(void*& handle)
{
    delete static_cast<std::mutex*>(handle);
    handle = nullptr;
    return 0;
}

int OvOS::LockCriticalSection(CRITICAL_SECTION& section)
{
    section.mutex.lock();
    return 0;
}

int OvOS::UnlockCriticalSection(CRITICAL_SECTION& section)
{
    section.mutex.unlock();
    return 0;
}

void OvOS::Sleep(unsigned milliseconds) { OvSystem().sleepMicroseconds(milliseconds * 1000u); }

OvRWMutex::OvRWMutex(const std::string& name) : name_(name) {}
OvRWMutex::~OvRWMutex() = default;
void OvRWMutex::ReadLock() { mutex_.lock_shared(); }
void OvRWMutex::ReadUnlock() { mutex_.unlock_shared(); }
void OvRWMutex::WriteLock() { mutex_.lock(); }
void OvRWMutex::WriteUnlock() { mutex_.unlock(); }

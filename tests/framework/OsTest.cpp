// Mutexes, critical sections, the reader/writer lock, sleeping, paths and exceptions.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <type_traits>

#include "framework/OvException.h"
#include "framework/OvOS.h"
#include "framework/OvPath.h"

namespace {

TEST(Mutex, LocksExcludeEachOther)
{
    void* handle = nullptr;
    ASSERT_EQ(OvOS::InitializeMutex(handle), 0);
    ASSERT_NE(handle, nullptr);
    int counter = 0;
    auto work = [&] {
        for (int i = 0; i < 10000; ++i) {
            OvOS::LockMutex(handle);
            ++counter;
            OvOS::UnlockMutex(handle);
        }
    };
    std::thread other(work);
    work();
    other.join();
    EXPECT_EQ(counter, 20000);
    EXPECT_EQ(OvOS::DeleteMutex(handle), 0);
    EXPECT_EQ(handle, nullptr);
}

TEST(Mutex, NullHandleIsRefused)
{
    void* handle = nullptr;
    EXPECT_NE(OvOS::LockMutex(handle), 0);
    EXPECT_NE(OvOS::UnlockMutex(handle), 0);
}

TEST(CriticalSection, LockAndUnlock)
{
    CRITICAL_SECTION section;
    EXPECT_EQ(OvOS::LockCriticalSection(section), 0);
    EXPECT_FALSE(section.mutex.try_lock());
    EXPECT_EQ(OvOS::UnlockCriticalSection(section), 0);
    EXPECT_TRUE(section.mutex.try_lock());
    section.mutex.unlock();
}

TEST(RWMutex, ReadersShareWritersExclude)
{
    OvRWMutex lock("");
    lock.ReadLock();
    bool otherReader = false;
    std::thread reader([&] {
        lock.ReadLock();
        otherReader = true;
        lock.ReadUnlock();
    });
    reader.join();
    EXPECT_TRUE(otherReader);
    lock.ReadUnlock();
    lock.WriteLock();
    lock.WriteUnlock();
    EXPECT_EQ(lock.GetName(), "");
}

TEST(Sleep, WaitsAtLeastTheTime)
{
    const auto start = std::chrono::steady_clock::now();
    OvOS::Sleep(20);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
}

TEST(FileSystem, ExistsForFilesAndDirectories)
{
    char folder[] = "/tmp/ovpathXXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string file = std::string(folder) + "/orvane.ini";
    std::ofstream(file) << "[PolicyServer]\n";
    EXPECT_TRUE(OvFileSystem::Exists(OvPath(file)));
    EXPECT_TRUE(OvFileSystem::Exists(OvPath(folder)));
    EXPECT_FALSE(OvFileSystem::Exists(OvPath(std::string(folder) + "/missing.ini")));
    EXPECT_FALSE(OvFileSystem::Exists(OvPath("")));
    ::unlink(file.c_str());
    ::rmdir(folder);
}

TEST(FileSystem, PathIsKeptAsTyped) { EXPECT_EQ(OvPath("orvane.ini").str(), "orvane.ini"); }

TEST(Exception, IsNotARuntimeError)
{
    static_assert(std::is_base_of<std::exception, OvException>::value, "");
    static_assert(!std::is_base_of<std::runtime_error, OvException>::value, "");
    OvException error("message");
    EXPECT_STREQ(error.what(), "message");
    EXPECT_EQ(OvException(error).GetMessage(), "message");
}

}  // namespace

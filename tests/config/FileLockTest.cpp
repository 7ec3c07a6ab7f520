// The readers against a lock that another process holds on the parameter file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "ConfigTestSupport.h"
#include "config/IniReaders.h"

namespace {

using configtest::SeamGuard;
using configtest::TempFolder;
using configtest::WaitLog;

enum class LockKind { kPosixWrite, kBsdExclusive };

// A child process that takes a write lock on the file and keeps it until it
// is told to go, or for holdMilliseconds when that is not 0.
class LockingProcess {
public:
    LockingProcess(const std::string& file, LockKind kind, unsigned holdMilliseconds = 0)
    {
        int ready[2];
        int go[2];
        if (::pipe(ready) != 0 || ::pipe(go) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(go[1]);
            const int fd = ::open(file.c_str(), O_RDWR);
            bool locked = false;
            if (fd >= 0 && kind == LockKind::kPosixWrite) {
                struct flock region {};
                region.l_type = F_WRLCK;
                region.l_whence = SEEK_SET;
                locked = ::fcntl(fd, F_SETLK, &region) == 0;
            } else if (fd >= 0) {
                locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
            }
            const char answer = locked ? 'L' : 'F';
            if (::write(ready[1], &answer, 1) != 1) ::_exit(2);
            if (holdMilliseconds != 0) {
                ::usleep(holdMilliseconds * 1000);
            } else {
                char ignored;
                while (::read(go[0], &ignored, 1) > 0) {
                }
            }
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(go[0]);
        go_ = go[1];
        char answer = 0;
        locked_ = ::read(ready[0], &answer, 1) == 1 && answer == 'L';
        ::close(ready[0]);
    }
    ~LockingProcess()
    {
        if (go_ >= 0) ::close(go_);
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    }
    LockingProcess(const LockingProcess&) = delete;
    LockingProcess& operator=(const LockingProcess&) = delete;

    bool Locked() const { return locked_; }

private:
    pid_t pid_ = -1;
    int go_ = -1;
    bool locked_ = false;
};

class OtherProcessLock : public ::testing::Test {
protected:
    OtherProcessLock() : seam_(20), file_(folder_.Write("orvane.ini", "[S]\nKey=12\n")) {}
    TempFolder folder_;
    SeamGuard seam_;
    std::string file_;
};

TEST_F(OtherProcessLock, ByteReaderWaitsItsAttemptsThenReportsMissing)
{
    LockingProcess writer(file_, LockKind::kPosixWrite);
    ASSERT_TRUE(writer.Locked());
    int value = 0;
    EXPECT_EQ(ReadIniInt(file_.c_str(), "S", "Key", value), static_cast<int>(kIniFileMissing));
    EXPECT_EQ(WaitLog::Count(), 9);
    EXPECT_EQ(value, 0);
}

TEST_F(OtherProcessLock, TextReaderWaitsForAPosixWriteLock)
{
    LockingProcess writer(file_, LockKind::kPosixWrite);
    ASSERT_TRUE(writer.Locked());
    std::string value;
    EXPECT_FALSE(ReadIniString(file_, "S", "Key", value));
    EXPECT_EQ(GetLastIniReadStatus(), kIniFileMissing);
    EXPECT_EQ(WaitLog::Count(), 10);
}

TEST_F(OtherProcessLock, TextReaderWaitsForAnExclusiveFileLock)
{
    LockingProcess writer(file_, LockKind::kBsdExclusive);
    ASSERT_TRUE(writer.Locked());
    std::string value;
    EXPECT_FALSE(ReadIniString(file_, "S", "Key", value));
    EXPECT_EQ(GetLastIniReadStatus(), kIniFileMissing);
    EXPECT_EQ(WaitLog::Count(), 10);
}

TEST_F(OtherProcessLock, ReadersGoOnOnceTheLockIsGone)
{
    {
        LockingProcess writer(file_, LockKind::kPosixWrite, 60);
        ASSERT_TRUE(writer.Locked());
        int value = 0;
        EXPECT_EQ(ReadIniInt(file_.c_str(), "S", "Key", value), 0);
        EXPECT_EQ(value, 12);
        EXPECT_GE(WaitLog::Count(), 1);
    }
    WaitLog::Count() = 0;
    LockingProcess writer(file_, LockKind::kBsdExclusive, 60);
    ASSERT_TRUE(writer.Locked());
    std::string text;
    EXPECT_TRUE(ReadIniString(file_, "S", "Key", text));
    EXPECT_EQ(text, "12");
    EXPECT_GE(WaitLog::Count(), 1);
}

TEST_F(OtherProcessLock, ReaderLocksKeepWritersOut)
{
    // While a reader holds its locks, another process cannot take a write lock.
    CurrentIniFileSystem().sleep = [](unsigned) {};
    const int fd = CurrentIniFileSystem().open(file_.c_str());
    ASSERT_GE(fd, 0);
    ASSERT_EQ(CurrentIniFileSystem().lockShared(fd), 0);
    LockingProcess posixWriter(file_, LockKind::kPosixWrite);
    EXPECT_FALSE(posixWriter.Locked());
    LockingProcess bsdWriter(file_, LockKind::kBsdExclusive);
    EXPECT_FALSE(bsdWriter.Locked());
    CurrentIniFileSystem().close(fd);
}

}  // namespace

// The bounded whole-file reader: what it takes, what it refuses and why,
// and that nothing it is given can make it wait or read without end.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>

#include "framework/OvBoundedFile.h"

namespace {

class BoundedFileTest : public ::testing::Test {
protected:
    BoundedFileTest()
    {
        char pattern[] = "/tmp/ovboundedXXXXXX";
        folder_ = ::mkdtemp(pattern);
    }
    ~BoundedFileTest() override
    {
        const std::string command = "rm -rf '" + folder_ + "'";
        if (std::system(command.c_str()) != 0) ADD_FAILURE() << "cannot remove " << folder_;
    }
    std::string Path(const std::string& name) const { return folder_ + "/" + name; }
    std::string Write(const std::string& name, const std::string& content) const
    {
        std::ofstream(Path(name), std::ios::binary) << content;
        return Path(name);
    }

    std::string folder_;
};

TEST_F(BoundedFileTest, ReadsARegularFileWhole)
{
    std::string content = "old";
    EXPECT_EQ(OvReadBoundedFile(Write("a", "line 1\nline 2"), 100, content), 0);
    EXPECT_EQ(content, "line 1\nline 2");
    EXPECT_EQ(OvReadBoundedFile(Write("empty", ""), 100, content), 0);
    EXPECT_EQ(content, "");
    // Exactly at the limit is taken; one byte more is not.
    EXPECT_EQ(OvReadBoundedFile(Write("ten", "0123456789"), 10, content), 0);
    EXPECT_EQ(content, "0123456789");
    EXPECT_EQ(OvReadBoundedFile(Path("ten"), 9, content), kOvFileTooLarge);
    EXPECT_EQ(content, "");
}

// Everything that is not a regular file is refused at once with its reason;
// none of these may block (a FIFO without a writer) or read for ever
// (/dev/zero, /dev/urandom), through a symlink as well.
TEST_F(BoundedFileTest, RefusesWhatIsNotARegularFile)
{
    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir(Path("folder").c_str(), 0700), 0);
    ASSERT_EQ(::symlink("/dev/zero", Path("zero-link").c_str()), 0);
    ASSERT_EQ(::symlink("/dev/urandom", Path("urandom-link").c_str()), 0);
    ASSERT_EQ(::symlink(Path("fifo").c_str(), Path("fifo-link").c_str()), 0);
    const struct {
        std::string path;
        int error;
    } cases[] = {
        {Path("missing"), ENOENT},
        {Path("folder"), EISDIR},
        {Path("fifo"), kOvNotRegularFile},
        {Path("fifo-link"), kOvNotRegularFile},
        {"/dev/zero", kOvNotRegularFile},
        {Path("zero-link"), kOvNotRegularFile},
        {Path("urandom-link"), kOvNotRegularFile},
        {"", ENOENT},
    };
    for (const auto& c : cases) {
        std::string content = "old";
        EXPECT_EQ(OvReadBoundedFile(c.path, kOvParameterFileLimit, content), c.error) << c.path;
        EXPECT_EQ(content, "") << c.path;
    }
}

TEST_F(BoundedFileTest, ReasonsNameTheSystemError)
{
    EXPECT_EQ(OvFileErrorText(ENOENT), "No such file or directory (ENOENT)");
    EXPECT_EQ(OvFileErrorText(EISDIR), "Is a directory (EISDIR)");
    EXPECT_EQ(OvFileErrorText(EACCES), "Permission denied (EACCES)");
    EXPECT_EQ(OvFileErrorText(kOvNotRegularFile), "not a regular file (a FIFO, device or socket)");
    EXPECT_EQ(OvFileErrorText(kOvFileTooLarge, 10), "larger than the size limit of 10 bytes");
}

}  // namespace

// Terminal echo off and on again, on a pseudo-terminal and on a pipe.
#include <cstdlib>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "console/OvConsoleIo.h"
#include "console/OvTerminal.h"

namespace {

class PseudoTerminal {
public:
    PseudoTerminal()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
        const char* name = ptsname(master);
        if (name != nullptr) slave = open(name, O_RDWR | O_NOCTTY);
    }
    ~PseudoTerminal()
    {
        if (slave >= 0) close(slave);
        if (master >= 0) close(master);
    }
    bool Echoes() const
    {
        struct termios settings;
        tcgetattr(slave, &settings);
        return (settings.c_lflag & ECHO) != 0;
    }
    int master = -1;
    int slave = -1;
};

TEST(TerminalEchoTest, EchoIsOffWhileHiddenAndBackAfterwards)
{
    PseudoTerminal terminal;
    if (terminal.slave < 0) GTEST_SKIP() << "no pseudo-terminal";
    ASSERT_TRUE(terminal.Echoes());
    OvTerminalEcho echo(terminal.slave);
    ASSERT_TRUE(echo.HideInput());
    EXPECT_FALSE(terminal.Echoes());
    echo.ShowInput();
    EXPECT_TRUE(terminal.Echoes());
}

TEST(TerminalEchoTest, SignalPathRestoresEcho)
{
    PseudoTerminal terminal;
    if (terminal.slave < 0) GTEST_SKIP() << "no pseudo-terminal";
    OvTerminalEcho echo(terminal.slave);
    ASSERT_TRUE(echo.HideInput());
    OvRestoreTerminalAfterSignal();
    EXPECT_TRUE(terminal.Echoes());
    echo.ShowInput();  // nothing left to restore; must not disturb the terminal
    EXPECT_TRUE(terminal.Echoes());
}

TEST(TerminalEchoTest, HiddenReadOnATerminalRestoresEchoAtEndOfInput)
{
    PseudoTerminal terminal;
    if (terminal.slave < 0) GTEST_SKIP() << "no pseudo-terminal";
    OvTerminalEcho echo(terminal.slave);
    std::istringstream in("");
    std::ostringstream out;
    std::wostringstream wideOut;
    OvConsoleIo io(in, out, wideOut, &echo);
    std::string answer;
    EXPECT_FALSE(io.ReadHiddenLine(answer));
    EXPECT_TRUE(terminal.Echoes());
    EXPECT_EQ(out.str(), "\n");
}

TEST(TerminalEchoTest, PipeIsNoTerminal)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    OvTerminalEcho echo(fds[0]);
    EXPECT_FALSE(echo.HideInput());
    echo.ShowInput();
    close(fds[0]);
    close(fds[1]);
}

}  // namespace

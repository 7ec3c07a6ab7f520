// Terminal echo through tcgetattr/tcsetattr, restorable from a signal handler.
#include "console/OvTerminal.h"

#include <csignal>
#include <cstdio>
#include <cstring>

#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The settings to put back. Written before echo goes off, so that a signal
// arriving at any moment after that finds them complete.
struct termios g_saved;
int g_savedFd = -1;
volatile std::sig_atomic_t g_hidden = 0;
// The settings before the line editor first took the terminal.
struct termios g_beforeEditor;
int g_editorFd = -1;

void RestoreEcho() noexcept
{
    if (g_hidden != 0) {
        tcsetattr(g_savedFd, TCSANOW, &g_saved);
        g_hidden = 0;
    }
}

}  // namespace

OvEchoControl::~OvEchoControl() = default;

OvTerminalEcho::OvTerminalEcho(int fd) : fd_(fd) {}

bool OvTerminalEcho::HideInput()
{
    if (g_hidden != 0 || !isatty(fd_)) return false;
    struct termios settings;
    if (tcgetattr(fd_, &settings) != 0) return false;
    g_saved = settings;
    g_savedFd = fd_;
    g_hidden = 1;
    // ECHONL would still show the line end; the reader writes it instead.
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
    if (tcsetattr(fd_, TCSANOW, &settings) != 0) {
        g_hidden = 0;
        return false;
    }
    return true;
}

void OvTerminalEcho::ShowInput()
{
    if (g_savedFd == fd_) RestoreEcho();
}

void OvTerminalEcho::ProtectMemory()
{
    // For the rest of the run: pieces of an answer may outlive its call in
    // buffers that are not the program's own.
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

void OvTerminalEcho::ForgetInput()
{
    // Standard input is read through the C library's buffer, which keeps a
    // line after it was handed over until later input overwrites it.
#ifdef __GLIBC__
    if (fd_ == STDIN_FILENO && stdin->_IO_read_base != nullptr &&
        stdin->_IO_read_ptr > stdin->_IO_read_base) {
        explicit_bzero(stdin->_IO_read_base,
                       static_cast<std::size_t>(stdin->_IO_read_ptr - stdin->_IO_read_base));
    }
#endif
}

void OvRestoreTerminalAfterSignal() noexcept
{
    RestoreEcho();
    if (g_editorFd >= 0) tcsetattr(g_editorFd, TCSANOW, &g_beforeEditor);
}

void OvKeepTerminalSettingsForSignal(int fd) noexcept
{
    struct termios settings;
    if (tcgetattr(fd, &settings) != 0) return;
    g_beforeEditor = settings;
    g_editorFd = fd;
}

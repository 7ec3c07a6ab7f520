// Terminal echo and the care of hidden answers, behind a seam so that tests
// can stand in.
#pragma once

class OvEchoControl {
public:
    virtual ~OvEchoControl();
    // Stops the terminal from showing what is typed. False when input is not
    // a terminal (or its settings cannot be changed): nothing was changed.
    virtual bool HideInput() = 0;
    // Puts back what HideInput changed; harmless when it changed nothing.
    virtual void ShowInput() = 0;
    // Before a secret is read: keeps the process from being dumped or read
    // by other processes while it is in memory.
    virtual void ProtectMemory() {}
    // After a secret was read: overwrites what the input's buffer still
    // holds of the lines already taken from it.
    virtual void ForgetInput() {}
};

// The real terminal behind a file descriptor (standard input by default).
class OvTerminalEcho final : public OvEchoControl {
public:
    explicit OvTerminalEcho(int fd = 0);
    bool HideInput() override;
    void ShowInput() override;
    void ProtectMemory() override;
    void ForgetInput() override;

private:
    int fd_;
};

// Restores the terminal settings that a HideInput left changed.
// Async-signal-safe: the signal handlers call it before the process ends.
void OvRestoreTerminalAfterSignal() noexcept;

// Remembers the terminal settings of fd as they are now, to be put back by
// OvRestoreTerminalAfterSignal should a signal end the process while a line
// editor has changed them.
void OvKeepTerminalSettingsForSignal(int fd) noexcept;

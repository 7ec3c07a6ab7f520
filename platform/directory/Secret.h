// A secret (the service account's password, a typed password) held in one
// buffer of its own: never copied by a reallocation, wiped with OpenSSL's
// cleanse when released, and the process kept from dumping its memory while
// any secret is held.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ovdir {

class Secret {
public:
    Secret() = default;
    Secret(std::string_view text) { Assign(text); }  // NOLINT: as a text is
    Secret(const Secret& other) { Assign(other.View()); }
    Secret(Secret&& other) noexcept;
    Secret& operator=(const Secret& other);
    Secret& operator=(Secret&& other) noexcept;
    Secret& operator=(std::string_view text);
    ~Secret() { clear(); }

    bool empty() const { return size_ == 0; }
    std::size_t size() const { return size_; }
    // Zero-terminated.
    const char* c_str() const { return data_ != nullptr ? data_ : ""; }
    const char* data() const { return c_str(); }
    std::string_view View() const { return std::string_view(c_str(), size_); }
    // Wipes and releases the buffer.
    void clear();

    friend bool operator==(const Secret& a, std::string_view b) { return a.View() == b; }
    friend bool operator!=(const Secret& a, std::string_view b) { return a.View() != b; }

private:
    void Assign(std::string_view text);

    char* data_ = nullptr;
    std::size_t size_ = 0;
};

// Overwrites a buffer that held a secret (OpenSSL's cleanse: the stores are
// never dropped as dead). A whole text is wiped with the framework's OvWipe.
void WipeBytes(void* data, std::size_t size);

// Keeps the process from being dumped or read by other processes of its
// user from now on: a secret is, or was, in its memory.
void ProtectProcessMemory();

// Reads a password file as ldapsearch -y does: the file holds the password
// alone; one line end at its end is not part of it. False with the system's
// reason when the file cannot be read or is not a regular file of at most
// 4 KiB.
bool ReadSecretFile(const std::string& path, Secret& secret, std::string& reason);

// Whether users other than the owner (group or others) may read the file.
bool ReadableByOthers(const std::string& path);
// Whether users other than the owner may write the file.
bool WritableByOthers(const std::string& path);
// Whether users other than the owner may put another file in its place: its
// folder is writable by them and not sticky (as /tmp is, where they may not).
bool ReplaceableByOthers(const std::string& path);

}  // namespace ovdir

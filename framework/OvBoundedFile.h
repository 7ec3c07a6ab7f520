// Reading a file of the installation whole and within limits: opened without
// blocking, read only when it is a regular file no larger than the caller's
// limit, with a read loop that ends whatever the file does meanwhile.
#pragma once

#include <cstddef>
#include <string>

// Size limits of the files the program and its services read.
constexpr std::size_t kOvParameterFileLimit = 1u << 20;              // orvane.ini: 1 MiB
constexpr std::size_t kOvDirectoryFileLimit = std::size_t{1} << 30;  // an LDIF directory: 1 GiB
constexpr std::size_t kOvSessionsFileLimit = 64u << 20;              // a sessions file: 64 MiB
constexpr std::size_t kOvCertificateFileLimit = 16u << 20;           // CA certificates: 16 MiB

// Reasons of a failed read besides the system's errno values.
constexpr int kOvNotRegularFile = -1;  // a FIFO, device or socket
constexpr int kOvFileTooLarge = -2;    // larger than the limit

// Opens path read-only, non-blocking, close-on-exec, never as a controlling
// terminal; -1 with errno set when it cannot.
int OvOpenForReading(const std::string& path);

// 0 when the open descriptor is a regular file of at most limit bytes;
// otherwise EISDIR for a folder, kOvNotRegularFile, kOvFileTooLarge, or the
// errno of a failed fstat.
int OvCheckRegularFile(int fd, std::size_t limit);

// The whole file into content: 0, or the reason it was not read (an errno
// value or one of the two above). content is cleared on failure.
int OvReadBoundedFile(const std::string& path, std::size_t limit, std::string& content);

// Whether a file that another library will open and read (OpenSSL's CA
// file) is a regular file within the limit: 0, or the reason as above.
int OvCheckFileAt(const std::string& path, std::size_t limit);

// The reason as an administrator reads it: the system's text and the errno
// name, e.g. "No such file or directory (ENOENT)"; limit is the one the read
// was given, named when the file was larger.
std::string OvFileErrorText(int error, std::size_t limit = 0);

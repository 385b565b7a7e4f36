#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

// An open file descriptor, closed when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor();
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    // Closes now; closing reports the last write errors of some file systems.
    bool Close();

private:
    int m_fd;
};

// Writes all bytes, resuming after interruptions. Returns 0 or the errno.
int WriteAll(int fd, std::string_view bytes);

// Replaces the file's contents in one step: the bytes go to a temporary file
// beside it with the given permissions, flushed to the disk, which is then
// renamed over the file. A crash or a full disk leaves the old file or the
// new one, never part of one, and no temporary file behind. Returns 0 or the
// errno of the step that failed.
int ReplaceFile(const std::string& path, std::string_view bytes, mode_t mode);

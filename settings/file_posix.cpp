#include "file_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

FileDescriptor::~FileDescriptor() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool FileDescriptor::Close() {
    return ::close(std::exchange(m_fd, -1)) == 0;
}

int WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n < 0 ? errno : EIO;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

int ReplaceFile(const std::string& path, std::string_view bytes, mode_t mode) {
    std::string temporary = path + ".XXXXXX";
    FileDescriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!file.Valid()) {
        return errno;
    }
    int error = ::fchmod(file.Get(), mode) == 0 ? WriteAll(file.Get(), bytes) : errno;
    // Some file systems report a full disk only when the data is flushed or
    // the file closed.
    if (error == 0 && ::fsync(file.Get()) != 0) {
        error = errno;
    }
    if (error == 0 && !file.Close()) {
        error = errno;
    }
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temporary.c_str());
    }
    return error;
}

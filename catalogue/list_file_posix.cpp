#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <utility>

#include "list_file.h"

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return m_fd; }
    // Closing reports the last write errors of some file systems.
    bool Close() { return ::close(std::exchange(m_fd, -1)) == 0; }

private:
    int m_fd;
};

std::string Parent(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

FileError FromErrno(int error, const std::string& path) {
    switch (error) {
        case ENOENT: {
            // A missing folder is a bad path, as Windows tells it.
            struct stat info {};
            return ::stat(Parent(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode)
                       ? FileError::FileNotFound
                       : FileError::BadPath;
        }
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
            return FileError::BadPath;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return FileError::AccessDenied;
        case ETXTBSY:
            return FileError::SharingViolation;
        case EMFILE:
        case ENFILE:
            return FileError::TooManyOpenFiles;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return FileError::DiskFull;
        case EIO:
            return FileError::HardIO;
        default:
            return FileError::Generic;
    }
}

}  // namespace

FileError ReadWholeFile(const std::string& path, std::string& bytes) {
    bytes.clear();
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) {
        return FromErrno(errno, path);
    }
    std::array<char, 65536> block;
    for (;;) {
        ssize_t n = ::read(file.Get(), block.data(), block.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return FromErrno(errno, path);
        }
        if (n == 0) {
            return FileError::None;
        }
        bytes.append(block.data(), static_cast<std::size_t>(n));
    }
}

FileError WriteWholeFile(const std::string& path, std::string_view bytes) {
    // A file that may not be written keeps refusing, as it always has, though
    // the folder would let us replace it.
    if (::access(path.c_str(), F_OK) == 0 && ::access(path.c_str(), W_OK) != 0) {
        return FromErrno(errno, path);
    }
    // The bytes go to a file beside the old one and replace it only once all
    // of them are on the disk: a full disk or a crash half-way through never
    // costs the file we had. Errors are told for the file asked for.
    const std::string temporary = path + ".new";
    Descriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (file.Get() < 0) {
        return FromErrno(errno, path);
    }
    auto fail = [&](int error) {
        file.Close();
        ::unlink(temporary.c_str());
        return FromErrno(error, path);
    };
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0) {
        ::fchmod(file.Get(), old.st_mode & 07777);
    }
    while (!bytes.empty()) {
        ssize_t n = ::write(file.Get(), bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return fail(n < 0 ? errno : EIO);
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    // Some file systems report a full disk only when the data is flushed.
    if (::fsync(file.Get()) != 0) {
        return fail(errno);
    }
    if (!file.Close()) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return FromErrno(error, path);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return FromErrno(error, path);
    }
    return FileError::None;
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string FullPath(const std::string& path) {
    if (!path.empty() && path.front() == '/') {
        return path;
    }
    std::array<char, PATH_MAX> cwd{};
    if (::getcwd(cwd.data(), cwd.size()) == nullptr) {
        return path;
    }
    std::string full(cwd.data());
    if (full.empty() || full.back() != '/') {
        full += '/';
    }
    return full + path;
}

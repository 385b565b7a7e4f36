#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <utility>

#include "file_posix.h"
#include "list_file.h"

namespace {

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
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
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
    // The bytes replace the old file only once all of them are on the disk:
    // a full disk or a crash half-way through never costs the file we had.
    // Errors are told for the file asked for.
    struct stat old {};
    const mode_t mode = ::stat(path.c_str(), &old) == 0 ? old.st_mode & 07777 : 0644;
    const int error = ReplaceFile(path, bytes, mode);
    return error == 0 ? FileError::None : FromErrno(error, path);
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

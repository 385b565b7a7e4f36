#include <windows.h>

#include <algorithm>
#include <array>
#include <memory>

#include "list_file.h"

namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using FileHandle = std::unique_ptr<void, HandleCloser>;

FileHandle Open(const std::string& path, DWORD access, DWORD disposition) {
    HANDLE h = ::CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    return FileHandle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

FileError LastError() {
    switch (::GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
            return FileError::FileNotFound;
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_DRIVE:
        case ERROR_FILENAME_EXCED_RANGE:
            return FileError::BadPath;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
            return FileError::AccessDenied;
        case ERROR_SHARING_VIOLATION:
            return FileError::SharingViolation;
        case ERROR_LOCK_VIOLATION:
            return FileError::LockViolation;
        case ERROR_TOO_MANY_OPEN_FILES:
            return FileError::TooManyOpenFiles;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return FileError::DiskFull;
        case ERROR_CRC:
        case ERROR_READ_FAULT:
        case ERROR_WRITE_FAULT:
        case ERROR_GEN_FAILURE:
            return FileError::HardIO;
        default:
            return FileError::Generic;
    }
}

}  // namespace

FileError ReadWholeFile(const std::string& path, std::string& bytes) {
    bytes.clear();
    FileHandle file = Open(path, GENERIC_READ, OPEN_EXISTING);
    if (!file) {
        return LastError();
    }
    std::array<char, 65536> block;
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(file.get(), block.data(), block.size(), &n, nullptr)) {
            return LastError();
        }
        if (n == 0) {
            return FileError::None;
        }
        bytes.append(block.data(), n);
    }
}

FileError WriteWholeFile(const std::string& path, std::string_view bytes) {
    // The bytes go to a file beside the old one and replace it only once all
    // of them are written: a full disk or a crash half-way through never
    // costs the file we had. A read-only file still refuses the replacement.
    const std::string temporary = path + ".new";
    FileError error = FileError::None;
    {
        FileHandle file = Open(temporary, GENERIC_WRITE, CREATE_ALWAYS);
        if (!file) {
            return LastError();
        }
        while (error == FileError::None && !bytes.empty()) {
            DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
            DWORD written = 0;
            if (!::WriteFile(file.get(), bytes.data(), chunk, &written, nullptr) || written == 0) {
                error = LastError();
            }
            bytes.remove_prefix(written);
        }
        if (error == FileError::None && !::FlushFileBuffers(file.get())) {
            error = LastError();
        }
    }
    if (error == FileError::None &&
        !::MoveFileExA(temporary.c_str(), path.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = LastError();
    }
    if (error != FileError::None) {
        ::DeleteFileA(temporary.c_str());
    }
    return error;
}

bool FileExists(const std::string& path) {
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string FullPath(const std::string& path) {
    std::array<char, 32768> full{};
    DWORD n = ::GetFullPathNameA(path.c_str(), full.size(), full.data(), nullptr);
    return n > 0 && n < full.size() ? std::string(full.data(), n) : path;
}

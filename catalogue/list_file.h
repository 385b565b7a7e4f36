// Whole-file reads and writes, with the failure told the way the file-error
// messages need it.
#pragma once

#include <string>
#include <string_view>

enum class FileError {
    None,
    Generic,
    FileNotFound,
    BadPath,
    TooManyOpenFiles,
    AccessDenied,
    SharingViolation,
    LockViolation,
    DiskFull,
    HardIO,
};

// Reads every byte of the file into `bytes`.
FileError ReadWholeFile(const std::string& path, std::string& bytes);
// Creates or replaces the file with the bytes. The old file stays as it was
// unless every byte could be written (a full disk leaves it intact).
FileError WriteWholeFile(const std::string& path, std::string_view bytes);
bool FileExists(const std::string& path);
// The absolute form of the path, as the messages name files.
std::string FullPath(const std::string& path);

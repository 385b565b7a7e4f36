#include "proxy_list.h"

#include "application_name.h"
#include "download_text.h"
#include "vendor_url.h"

namespace {

constexpr char kCtrlZ = '\x1A';

}  // namespace

void AddProxyEntries(std::string_view text, ISelectionList& list) {
    for (std::string_view line : EntryLines(text)) {
        list.AddItem(std::string(line));
    }
}

std::string ToStoredForm(std::string_view text) {
    std::string bytes;
    bytes.reserve(text.size() + text.size() / 8);
    for (char c : text) {
        if (c == '\n') {
            bytes += '\r';
        }
        bytes += c;
    }
    return bytes;
}

std::string FromStoredForm(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == kCtrlZ || c == '\0') {
            break;  // the end of the data, and the end of the text
        }
        if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            continue;
        }
        text += c;
    }
    return text;
}

std::string FileErrorText(FileError error, const std::string& path) {
    const char* pattern = "An unknown error occurred while accessing %1.";
    switch (error) {
        case FileError::FileNotFound:
            pattern = "%1 was not found.";
            break;
        case FileError::BadPath:
            pattern = "%1 contains an invalid path.";
            break;
        case FileError::TooManyOpenFiles:
            pattern = "The file could not be opened because there are too many open files.";
            break;
        case FileError::AccessDenied:
            pattern = "Access to %1 was denied.";
            break;
        case FileError::SharingViolation:
            pattern = "A sharing violation occurred while accessing %1.";
            break;
        case FileError::LockViolation:
            pattern = "A locking violation occurred while accessing %1.";
            break;
        case FileError::DiskFull:
            pattern = "Disk full while accessing %1.";
            break;
        case FileError::HardIO:
            pattern = "A hardware I/O error was reported while accessing %1.";
            break;
        case FileError::None:
        case FileError::Generic:
            break;
    }
    std::string text(pattern);
    if (std::size_t at = text.find("%1"); at != std::string::npos) {
        text.replace(at, 2, FullPath(path));
    }
    return text;
}

void ShowFileError(IMessageBox& messages, FileError error, const std::string& path) {
    messages.Show(FileErrorText(error, path), ApplicationName(), MessageIcon::Stop);
}

ProxyListFile::ProxyListFile(std::string_view appPath, IMessageBox& messages)
    : m_path(std::string(appPath) + kProxyListFileName), m_messages(messages) {}

bool ProxyListFile::StoreProxyList(const std::string& text) {
    FileError error = WriteWholeFile(m_path, ToStoredForm(text));
    if (error != FileError::None) {
        ShowFileError(m_messages, error, m_path);
        return false;
    }
    return true;
}

bool ProxyListFile::ReadProxyList(std::string& text) {
    const FileError error = ReadStoredList(text);
    if (error != FileError::None) {
        ShowFileError(m_messages, error, m_path);
        return false;
    }
    return true;
}

FileError ProxyListFile::ReadStoredList(std::string& text) const {
    std::string bytes;
    const FileError error = ReadWholeFile(m_path, bytes);
    text = error == FileError::None ? FromStoredForm(bytes) : "";
    return error;
}

bool ProxyListFile::FetchProxyList(std::string& text) {
    text = DownloadProxyList({});
    return StoreFetchedList(text);
}

std::string ProxyListFile::DownloadProxyList(std::stop_token stop) {
    return DownloadText(VendorUrl(kProxyListUrlPath), stop);
}

bool ProxyListFile::StoreFetchedList(std::string& text) {
    if (text.empty() && FileExists(m_path)) {
        // A failed download is no reason to lose the list we have.
        return true;
    }
    if (!StoreProxyList(text)) {
        // The list we had is still there: the user sees it, not nothing.
        ReadStoredList(text);
        return false;
    }
    return true;
}

bool ProxyListFile::LoadProxyList(ISelectionList& list) {
    std::string text;
    if (!ReadProxyList(text)) {
        return false;
    }
    AddProxyEntries(text, list);
    return true;
}

bool ProxyListFile::FetchProxyList(ISelectionList& list) {
    std::string text;
    const bool fetched = FetchProxyList(text);
    AddProxyEntries(text, list);
    return fetched;
}

// The proxy list: "proxylist.txt" in the application folder, fetched from the
// vendor and read into the Settings page's selection list.
//
// The file keeps the form a Windows text-mode write gives it, on every
// platform, so list files move freely between the two: each entry of the
// downloaded text (its text and CR LF) is stored as its text and CR CR LF.
// Reading turns each CR LF back into LF, leaves every other byte alone and
// stops at a Ctrl-Z byte; only lines that then still end in CR LF and can be
// an endpoint's text are entries.
#pragma once

#include <stop_token>
#include <string>
#include <string_view>

#include "list_file.h"
#include "message_box.h"
#include "proxy_entries.h"

inline constexpr const char* kProxyListFileName = "proxylist.txt";

// Takes a list's entries one by one, in the order of the file (the Settings
// page takes them sorted, as ProxyEntries).
class ISelectionList {
public:
    virtual ~ISelectionList() = default;
    virtual void AddItem(const std::string& text) = 0;
};

// Adds every entry of the text (EntryLines: each piece that ends in CR LF and
// is entry text, in order, an empty one included) to the list; text after the
// last CR LF is no entry.
void AddProxyEntries(std::string_view text, ISelectionList& list);

// The two translations of the stored form.
std::string ToStoredForm(std::string_view text);
std::string FromStoredForm(std::string_view bytes);

// The file-error message box: stop icon, the application's name as caption,
// the file named by its full path.
std::string FileErrorText(FileError error, const std::string& path);
void ShowFileError(IMessageBox& messages, FileError error, const std::string& path);

class ProxyListFile {
public:
    // The file's path: the AppPath text (a folder ending with a separator, or
    // empty for the current folder) followed by "proxylist.txt".
    ProxyListFile(std::string_view appPath, IMessageBox& messages);

    const std::string& Path() const { return m_path; }

    // Each of these returns false after a file error has been shown: the
    // user's operation ends there.

    // Creates or replaces the file with the text; a list that cannot be
    // stored whole leaves the old one.
    bool StoreProxyList(const std::string& text);
    // The whole file as text.
    bool ReadProxyList(std::string& text);
    // The same without a word: for any thread; the caller tells the user.
    FileError ReadStoredList(std::string& text) const;
    // Downloads the vendor's list and stores it; `text` is then what there
    // is to list: the download (the file is not read back), or, when it
    // could not be stored, the list stored before, read without a word (or
    // nothing, without one). A failed download stores nothing over a list
    // that exists and lists nothing; with no list file yet it leaves an
    // empty one.
    bool FetchProxyList(std::string& text);
    // The two halves of it: the download, which may run on any thread and
    // ends at once on a stop request, and the storing, which may tell the
    // user of a file error.
    static std::string DownloadProxyList(std::stop_token stop);
    bool StoreFetchedList(std::string& text);

    // The same, adding the entries of the text to the list.
    bool LoadProxyList(ISelectionList& list);
    bool FetchProxyList(ISelectionList& list);

private:
    std::string m_path;
    IMessageBox& m_messages;
};

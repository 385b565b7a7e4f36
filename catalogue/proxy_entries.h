// The entries of the Settings page's drop-down: the lines of a list text that
// can be an endpoint's text, sorted with case ignored, each text once.
//
// Building them (splitting, filtering, sorting, merging with what is listed)
// is the heavy part of showing a list and touches nothing but its arguments,
// so it may run on any thread; the view only takes the finished entries.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// A line longer than any host name and port is no endpoint, and such lines
// make the list slow to draw.
inline constexpr std::size_t kMaximumEntryLength = 255;

// Printable ASCII: what an endpoint's text is made of.
constexpr bool IsEntryCharacter(char c) {
    return c >= 0x20 && c <= 0x7E;
}
bool IsEntryText(std::string_view line);

// The list's order: bytes compared with ASCII letters folded to lower case
// (as a case-blind comparison of the Qt list did it before).
bool ListedBefore(std::string_view a, std::string_view b);

// The entries of a list text: each piece that ends in CR LF and is entry
// text, in the order of the text (repeats included). A DBCS lead byte of the
// system's code page takes the next byte with it, as when the file was read
// on Windows.
std::vector<std::string_view> EntryLines(std::string_view text);

// Entries in list order, each text once. Copies share the same entries,
// which never change.
class ProxyEntries {
public:
    ProxyEntries();

    std::size_t Size() const { return m_items->size(); }
    bool Empty() const { return m_items->empty(); }
    const std::string& operator[](std::size_t i) const { return (*m_items)[i]; }
    std::vector<std::string>::const_iterator begin() const { return m_items->begin(); }
    std::vector<std::string>::const_iterator end() const { return m_items->end(); }
    // The position of the text, or Size() when it is not listed.
    std::size_t Find(std::string_view text) const;
    // The same entries, not merely equal ones: nothing was added.
    bool SameAs(const ProxyEntries& other) const { return m_items == other.m_items; }

    // `listed` with the entries of the text that it lacks. Texts equal but
    // for case keep the order they came in, the listed ones first. Returns
    // `listed` itself when nothing is new.
    friend ProxyEntries WithEntriesOf(const ProxyEntries& listed, std::string_view text);

private:
    explicit ProxyEntries(std::vector<std::string> items);

    std::shared_ptr<const std::vector<std::string>> m_items;
};

ProxyEntries WithEntriesOf(const ProxyEntries& listed, std::string_view text);

// Textual neutralising of scripts, embedded objects and pop-up calls in what
// the upstream side sends towards the browser.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "registry_dword.h"

// The three settings that switch the rules; each counts as on only when it
// holds exactly 1.
struct FilterSwitches {
    RegistryDword& enableJS;
    RegistryDword& enableActiveX;
    RegistryDword& blockPopups;
};

// One reading of the switches.
struct FilterRules {
    bool scripts = false;
    bool objects = false;
    bool popups = false;

    static FilterRules Read(FilterSwitches& switches);
    bool Any() const { return scripts || objects || popups; }
};

// The rules as connections read them: the switches copied in by the
// interface thread, as one 32-bit word. A connection reads them at every
// response without touching the settings store, and a connection still
// relaying while the process ends reads nothing the end has destroyed: the
// filters share this object.
class LiveFilterRules {
public:
    explicit LiveFilterRules(FilterRules rules = {}) { Store(rules); }
    void Store(FilterRules rules) {
        m_bits.store(
            (rules.scripts ? 1u : 0u) | (rules.objects ? 2u : 0u) | (rules.popups ? 4u : 0u),
            std::memory_order_relaxed);
    }
    FilterRules Load() const {
        const std::uint32_t bits = m_bits.load(std::memory_order_relaxed);
        return FilterRules{(bits & 1u) != 0, (bits & 2u) != 0, (bits & 4u) != 0};
    }

private:
    std::atomic<std::uint32_t> m_bits{0};
};

// Applies the rules to `text` in their order; every byte counts, zero bytes
// included. Returns how many pop-up calls were rewritten.
int ApplyFilterRules(std::string& text, FilterRules rules);

// The same over the front of a text that goes on: found texts may start
// before `limit` only, and the pop-up rules apply when "window.open" starts
// there. Appends the rewritten front to `out`, adds the pop-up calls
// rewritten to `popups`, and returns how many bytes of `text` that front
// stands for: `limit`, or more when a found text runs past it. A text that
// goes on must hold the 10 bytes after `limit` that a found text may reach.
std::size_t FilterFront(std::string_view text, std::size_t limit, FilterRules rules,
                        std::string& out, int& popups);
inline constexpr std::size_t kLongestFoundText = 11;  // "window.open"
// The same inside `text`, for the front that starts at `offset`: that front
// is replaced by its rewritten form, the rest of `text` moving behind it, with
// no second copy of the window. `written` gets the rewritten front's size.
std::size_t FilterFrontInPlace(std::string& text, std::size_t offset, std::size_t limit,
                               FilterRules rules, std::size_t& written, int& popups);

// The filter over one chunk: its working text ends at the chunk's first zero
// byte, and the switches are read once per Filter.
class CContentFilter {
public:
    CContentFilter(const char* data, int length, FilterSwitches& switches);
    virtual ~CContentFilter() = default;

    // 0 when there is nothing to filter or no memory for the working copy;
    // 1 otherwise, with the rewritten text in Text().
    virtual int Filter();

    const std::string& Text() const { return m_text; }
    int PopupsRewritten() const { return m_popups; }

private:
    const char* m_data;
    int m_length;
    FilterSwitches& m_switches;
    std::string m_text;
    int m_popups = 0;
};

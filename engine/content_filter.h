// Textual neutralising of scripts, embedded objects and pop-up calls in what
// the upstream side sends towards the browser.
#pragma once

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

// Applies the rules to `text` in their order; every byte counts, zero bytes
// included. Returns how many pop-up calls were rewritten.
int ApplyFilterRules(std::string& text, FilterRules rules);

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

// Edits KDE configuration text (KConfig's INI dialect) line by line, so that
// everything it does not change stays exactly as it was: other groups, other
// keys, comments, blank lines and line ends.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct KConfigEntry {
    std::string key;
    std::string value;  // plain text; escaped when written
};

// Sets each entry in every section of `group` that holds its key; entries the
// group lacks are added after the group's last entry, and a missing group is
// added at the end.
std::string SetKConfigEntries(std::string_view text, std::string_view group,
                              const std::vector<KConfigEntry>& entries);

// The value as KConfig writes it: backslash, control characters and
// surrounding blanks escaped, so no value can start a line of its own.
std::string EscapeKConfigValue(std::string_view value);

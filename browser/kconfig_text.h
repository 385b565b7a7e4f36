// Edits KDE configuration text (KConfig's INI dialect) line by line, so that
// everything it does not change stays exactly as it was: other groups, other
// keys, comments, blank lines and line ends.
#pragma once

#include <optional>
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

// Every section of the group, header lines included, exactly as it stands;
// nullopt when the text has none.
std::optional<std::string> KConfigGroupText(std::string_view text, std::string_view group);

// The text with the group's sections replaced by groupText (where the first
// stood, else at the end), or removed when it is nullopt; every other line
// stays as it was.
std::string ReplaceKConfigGroup(std::string_view text, std::string_view group,
                                const std::optional<std::string>& groupText);

// The value of the group's entry for the key, escapes kept; nullopt when the
// group has none.
std::optional<std::string> KConfigValue(std::string_view text, std::string_view group,
                                        std::string_view key);

// The value as KConfig writes it: backslash, control characters and
// surrounding blanks escaped, so no value can start a line of its own.
std::string EscapeKConfigValue(std::string_view value);

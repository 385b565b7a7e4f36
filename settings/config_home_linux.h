#pragma once

#include <filesystem>

// $XDG_CONFIG_HOME, or ~/.config when it is unset or not absolute; empty when
// no home is known.
std::filesystem::path UserConfigHome();
// $XDG_DATA_HOME, or ~/.local/share, by the same rules.
std::filesystem::path UserDataHome();

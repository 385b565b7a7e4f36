#pragma once

#include <filesystem>

// $XDG_CONFIG_HOME, or ~/.config when it is unset or not absolute; empty when
// no home is known.
std::filesystem::path UserConfigHome();

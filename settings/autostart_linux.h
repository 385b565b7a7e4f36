#pragma once

#include <filesystem>
#include <memory>

#include "autostart.h"

// $XDG_CONFIG_HOME/autostart/quillon.desktop; empty when no home is known.
std::filesystem::path DefaultAutostartFile();

std::unique_ptr<IAutostartEntry> DesktopAutostartEntry(std::filesystem::path file);

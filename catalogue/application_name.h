#pragma once

#include <string>

// The executable's file name without its extension: the agent name of every
// download and the caption of the file-error messages.
std::string ApplicationName();

// The name part of an executable's path, without its extension.
std::string ApplicationNameFromPath(const std::string& path);

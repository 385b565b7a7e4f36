// Environment variables for tests, on both platforms.
#pragma once

#include <string>

void SetEnvironment(const std::string& name, const std::string& value);

// True for the Windows build running under Wine, whose WinINet does not end
// a blocked request when its handles are closed.
bool RunningUnderWine();

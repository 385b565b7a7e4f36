#include <windows.h>

#include <array>

#include "application_name.h"

std::string ApplicationName() {
    std::array<char, MAX_PATH + 1> path{};
    DWORD n = ::GetModuleFileNameA(nullptr, path.data(), MAX_PATH);
    return ApplicationNameFromPath(n > 0 && n < MAX_PATH ? std::string(path.data(), n)
                                                         : std::string());
}

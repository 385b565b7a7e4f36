#include <unistd.h>

#include <array>

#include "application_name.h"

std::string ApplicationName() {
    std::array<char, 4096> path{};
    ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
    return ApplicationNameFromPath(n > 0 ? std::string(path.data(), static_cast<std::size_t>(n))
                                         : std::string());
}

#include "application_name.h"

std::string ApplicationNameFromPath(const std::string& path) {
    std::string name = path.substr(path.find_last_of("/\\") + 1);
    std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) {
        name.erase(dot);
    }
    return name.empty() ? std::string("Quillon") : name;
}

#include <stdlib.h>

#include "test_environment.h"

void SetEnvironment(const std::string& name, const std::string& value) {
    ::setenv(name.c_str(), value.c_str(), 1);
}

bool RunningUnderWine() {
    return false;
}

#include <windows.h>

#include <stdlib.h>

#include "test_environment.h"

void SetEnvironment(const std::string& name, const std::string& value) {
    ::_putenv_s(name.c_str(), value.c_str());
}

bool RunningUnderWine() {
    HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

#include <iostream>
#include <string>
#include <vector>

#include "reg_tool.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    SqliteRegistryStore store(DefaultSettingsDatabasePath());
    return RunRegTool(args, store, std::cin, std::cout, std::cerr);
}

#include <iostream>
#include <string>
#include <vector>

#include "probe_tool.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return RunProbeTool(args, std::cin, std::cout, std::cerr);
}

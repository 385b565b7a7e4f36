// browser_proxy_tool set NAME SERVER | disable NAME | resolve URL
// Prints the result ("1"/"0", or the proxy URI) on standard output.
#include <cstdio>
#include <cstring>

#include "connection_options.h"
#include "proxy_resolver.h"

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "set") == 0) {
        std::printf("%d\n", SetConnectionOptions(argv[2], argv[3]) ? 1 : 0);
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "disable") == 0) {
        std::printf("%d\n", DisableConnectionProxy(argv[2]) ? 1 : 0);
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "resolve") == 0) {
        std::printf("%s\n", ProxyForUrl(argv[2]).c_str());
        return 0;
    }
    std::fprintf(stderr, "usage: %s set NAME SERVER | disable NAME | resolve URL\n", argv[0]);
    return 2;
}

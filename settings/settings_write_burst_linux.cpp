// settings_write_burst DATABASE: writes a counter and a text in a bounded loop,
// telling its parent on stdout once writes are under way.
#include <cstdio>
#include <string>

#include "registry_dword.h"
#include "registry_store_linux.h"
#include "registry_string.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: settings_write_burst DATABASE\n");
        return 2;
    }
    SqliteRegistryStore store(argv[1]);
    RegistryDword counter("Software\\Quillon\\Counter", 0, false, RegistryRoot::LocalMachine,
                          store);
    RegistryString text("Software\\Quillon\\Text", "", false, RegistryRoot::LocalMachine, store);
    for (std::uint32_t i = 1; i <= 100000; ++i) {
        counter.Set(i);
        text.Set("value " + std::to_string(i));
        if (i == 20) {
            std::puts("writing");
            std::fflush(stdout);
        }
    }
    return 0;
}

// KDE's kioslaverc edited as the program edits it: any text and any values
// give a text where each entry is one line of the group, and editing again
// with the same entries changes nothing.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "fuzz_support.h"
#include "kconfig_text.h"

namespace {

bool HasLine(std::string_view text, std::string_view line) {
    for (std::size_t at = text.find(line); at != std::string_view::npos;
         at = text.find(line, at + 1)) {
        const bool starts = at == 0 || text[at - 1] == '\n';
        const std::size_t end = at + line.size();
        const bool ends =
            end == text.size() || text[end] == '\n' || text.substr(end).starts_with("\r\n");
        if (starts && ends) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    std::vector<KConfigEntry> entries = {
        {"ProxyType", input.ConsumeRandomLengthString(32)},
        {"httpProxy", input.ConsumeRandomLengthString(64)},
        {"NoProxyFor", input.ConsumeRandomLengthString(64)},
    };
    const std::string text = input.ConsumeRemainingBytesAsString();

    const std::string once = SetKConfigEntries(text, "Proxy Settings", entries);
    for (const KConfigEntry& entry : entries) {
        const std::string escaped = EscapeKConfigValue(entry.value);
        FUZZ_CHECK(escaped.find_first_of("\r\n") == std::string::npos);
        FUZZ_CHECK(escaped.empty() || (escaped.front() != ' ' && escaped.back() != ' '));
        FUZZ_CHECK(HasLine(once, entry.key + "=" + escaped));
    }
    FUZZ_CHECK(once.find("[Proxy Settings]") != std::string::npos);
    FUZZ_CHECK(SetKConfigEntries(once, "Proxy Settings", entries) == once);
    return 0;
}

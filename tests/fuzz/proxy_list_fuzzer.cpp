// The list file: any bytes read from disk give a text that ends at the first
// Ctrl-Z or zero byte; any text stored and read back is the same text; the
// entries are exactly the CR LF-ended pieces of the text, in order.
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "proxy_list.h"

namespace {

class CollectedList final : public ISelectionList {
public:
    void AddItem(const std::string& text) override { items.push_back(text); }
    std::vector<std::string> items;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes = AsText(data, size);

    const std::string read = FromStoredForm(bytes);
    FUZZ_CHECK(read.size() <= bytes.size());
    FUZZ_CHECK(read.find_first_of(std::string_view("\x1A\0", 2)) == std::string::npos);

    std::string text(bytes.substr(0, bytes.find_first_of(std::string_view("\x1A\0", 2))));
    FUZZ_CHECK(FromStoredForm(ToStoredForm(text)) == text);

    CollectedList list;
    AddProxyEntries(text, list);
    std::string joined;
    for (const std::string& item : list.items) {
        FUZZ_CHECK(item.find("\r\n") == std::string::npos);
        joined += item + "\r\n";
    }
    const std::size_t lastEnd = text.rfind("\r\n");
    FUZZ_CHECK(joined == (lastEnd == std::string::npos ? "" : text.substr(0, lastEnd + 2)));
    return 0;
}

// The list file: any bytes read from disk give a text that ends at the first
// Ctrl-Z or zero byte; any text stored and read back is the same text; the
// entries are exactly the CR LF-ended pieces of the text that are entry
// text, in order; the drop-down's entries are those, sorted, each once.
#include <set>
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
    std::vector<std::string> pieces;
    for (std::string_view rest = text; rest.find("\r\n") != std::string_view::npos;) {
        const std::string_view piece = rest.substr(0, rest.find("\r\n"));
        if (IsEntryText(piece)) {
            pieces.emplace_back(piece);
        }
        rest.remove_prefix(piece.size() + 2);
    }
    FUZZ_CHECK(list.items == pieces);

    const ProxyEntries entries = WithEntriesOf({}, text);
    for (std::size_t i = 1; i < entries.Size(); ++i) {
        FUZZ_CHECK(!ListedBefore(entries[i], entries[i - 1]));
    }
    for (const std::string& item : list.items) {
        FUZZ_CHECK(entries.Find(item) < entries.Size());
    }
    FUZZ_CHECK(std::set<std::string>(entries.begin(), entries.end()).size() == entries.Size());
    FUZZ_CHECK(WithEntriesOf(entries, text).SameAs(entries));
    return 0;
}

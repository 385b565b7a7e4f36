// A download's body turned into CR LF lines, however the transfer cuts it:
// the same text as one whole feed, every line entry text (so no CR but before
// LF, no LF without CR, no zero byte), and the size check agreeing with the
// body.
#include <string>

#include "downloaded_text.h"
#include "fuzz_support.h"
#include "proxy_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view body = AsText(data + 1, size - 1);
    DownloadedText whole;
    const bool wholeFits = whole.Append(body.data(), body.size());
    DownloadedText pieces;
    bool piecesFit = true;
    ForEachPiece(body, data[0], [&](std::string_view piece) {
        piecesFit = pieces.Append(piece.data(), piece.size()) && piecesFit;
    });
    FUZZ_CHECK(whole.Text() == pieces.Text());
    FUZZ_CHECK(wholeFits == piecesFit);
    FUZZ_CHECK(wholeFits == (body.size() <= DownloadedText::kMaximumSize));

    std::string_view text = whole.Text();
    for (std::size_t end; (end = text.find("\r\n")) != std::string_view::npos;) {
        FUZZ_CHECK(IsEntryText(text.substr(0, end)));
        text.remove_prefix(end + 2);
    }
    FUZZ_CHECK(IsEntryText(text));
    return 0;
}

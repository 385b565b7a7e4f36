// A download's body turned into CR LF lines, however the transfer cuts it:
// the same text as one whole feed, no CR but before LF, no LF without CR, no
// zero byte, and the size check agreeing with the text.
#include <string>

#include "downloaded_text.h"
#include "fuzz_support.h"

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
    FUZZ_CHECK(wholeFits == (whole.Text().size() <= DownloadedText::kMaximumSize));

    const std::string& text = whole.Text();
    FUZZ_CHECK(text.find('\0') == std::string::npos);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            FUZZ_CHECK(i + 1 < text.size() && text[i + 1] == '\n');
        } else if (text[i] == '\n') {
            FUZZ_CHECK(i > 0 && text[i - 1] == '\r');
        }
    }
    return 0;
}

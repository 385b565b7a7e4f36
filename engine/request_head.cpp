#include "request_head.h"

#include "text_number.h"

namespace {

std::string_view TrimLeadingBlanks(std::string_view text) {
    std::size_t i = text.find_first_not_of(" \t");
    return i == std::string_view::npos ? std::string_view() : text.substr(i);
}

void NoteHeader(RequestHead& head, std::string_view line) {
    std::size_t colon = line.find(':');
    std::string_view name =
        colon == std::string_view::npos ? std::string_view() : line.substr(0, colon);
    std::string_view value =
        TrimLeadingBlanks(colon == std::string_view::npos ? line : line.substr(colon + 1));
    head.headers.emplace_back(name, value);
    if (name != "Host") {
        return;
    }
    std::size_t portColon = value.find(':');
    if (portColon != std::string_view::npos && portColon > 0) {
        head.targetHost = value.substr(0, portColon);
        head.targetPort = AtoiText(value.substr(portColon + 1));
    } else {
        head.targetHost = value;
        head.targetPort = 80;
    }
}

}  // namespace

RequestHead ParseRequestHead(std::string_view firstRead) {
    RequestHead head;
    std::string_view text = firstRead.substr(0, firstRead.find('\0'));
    std::size_t pos = 0;
    for (;;) {
        std::size_t end = text.find("\r\n", pos);
        if (end == std::string_view::npos) {
            break;
        }
        if (end == pos) {
            head.complete = true;
            pos += 2;
            break;
        }
        std::string_view line = text.substr(pos, end - pos);
        if (head.lineCount == 0) {
            head.requestLine = line;
        } else {
            NoteHeader(head, line);
        }
        ++head.lineCount;
        pos = end + 2;
    }
    head.consumed = pos;
    return head;
}

std::string RebuildRequestHead(const RequestHead& head, const UpstreamSettings& upstream) {
    if (!head.complete && head.lineCount == 0) {
        return {};
    }
    std::string out = head.requestLine + "\r\n";
    for (const auto& [name, value] : head.headers) {
        out += name;
        out += ": ";
        out += value;
        out += "\r\n";
    }
    if (upstream.authenticationFlag == 1) {
        out += upstream.authenticationLine;
    }
    if (head.complete) {
        out += "\r\n";
    }
    return out;
}

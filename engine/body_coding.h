#pragma once

#include <optional>
#include <string>
#include <string_view>

// The body with its Content-Encoding undone: identity, gzip (x-gzip) and
// deflate (zlib-wrapped, or raw as some servers send it). nullopt for other
// codings, damaged data, or content larger than `limit`.
std::optional<std::string> DecodeContent(std::string_view coding, std::string_view body,
                                         std::size_t limit);

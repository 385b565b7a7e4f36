// One HTTP GET through the proxy the browser would use for the URL, agent
// name = the application's name, HTTP/1.0.
#pragma once

#include <stop_token>
#include <string>

// The body as lines ended by CR LF (see DownloadedText), or the empty text
// when the download failed: no connection, a read error, or a status other
// than 2xx (an error page is no content). Writes the diagnostic line after a
// successful download. A stop request ends a running download at once, as a
// failure.
std::string DownloadText(const std::string& url, std::stop_token stop = {});

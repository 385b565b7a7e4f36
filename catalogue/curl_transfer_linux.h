// libcurl owners and the one transfer set-up that every download of the
// catalogue shares.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <stop_token>
#include <string>

#include "transfer_limits.h"

namespace curl {

struct EasyCleanup {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using Easy = std::unique_ptr<CURL, EasyCleanup>;

// An HTTP/1.0 GET of the URL with the application's agent name, through the
// proxy URI given for every host ("" goes direct), whatever the environment
// says; it fails with CURLE_OPERATION_TIMEDOUT once a limit has passed. Null
// when libcurl cannot set it up.
Easy NewGet(const std::string& url, const std::string& proxy, TransferLimits limits);

// Runs the transfer. With a stop token the transfer watches it and ends at
// once, with CURLE_ABORTED_BY_CALLBACK, when a stop is requested.
CURLcode Perform(CURL* easy, std::stop_token stop = {});

// Whether the transfer got an answer with a 2xx status.
bool SuccessStatus(CURL* easy);

}  // namespace curl

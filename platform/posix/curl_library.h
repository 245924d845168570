#pragma once

#include <curl/curl.h>

namespace kqget {

// libcurl, loaded by the first fetch rather than with the program: a run that
// fetches nothing (a library in order, --help, --version) never pays for it
// and the thirty-odd libraries it brings along. The functions kqget calls,
// named as in libcurl without the "curl_".
struct CurlLibrary
{
    decltype(&::curl_global_init) global_init;
    decltype(&::curl_easy_init) easy_init;
    decltype(&::curl_easy_cleanup) easy_cleanup;
    decltype(&::curl_easy_setopt) easy_setopt;
    decltype(&::curl_easy_getinfo) easy_getinfo;
    decltype(&::curl_easy_header) easy_header;
    decltype(&::curl_easy_strerror) easy_strerror;
    decltype(&::curl_multi_init) multi_init;
    decltype(&::curl_multi_cleanup) multi_cleanup;
    decltype(&::curl_multi_setopt) multi_setopt;
    decltype(&::curl_multi_add_handle) multi_add_handle;
    decltype(&::curl_multi_remove_handle) multi_remove_handle;
    decltype(&::curl_multi_perform) multi_perform;
    decltype(&::curl_multi_poll) multi_poll;
    decltype(&::curl_multi_info_read) multi_info_read;
    decltype(&::curl_multi_strerror) multi_strerror;
};

// Loads libcurl on the first call, from any thread, and keeps it for the
// process. Throws RunError (Transfer) naming the library and the loader's
// reason; the next call tries again.
const CurlLibrary& curlLibrary();

} // namespace kqget

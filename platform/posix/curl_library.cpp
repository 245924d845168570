#include "platform/posix/curl_library.h"

#include "update/run_error.h"

#include <dlfcn.h>
#include <string>

namespace kqget {

namespace {

// The name Debian's libcurl4 installs it under (libcurl's ABI 4).
constexpr const char* kLibraryName = "libcurl.so.4";

std::string loaderError()
{
    const char* reason = ::dlerror();
    return reason != nullptr ? reason : "unknown reason";
}

template <typename Function> void resolve(void* library, const char* name, Function& into)
{
    void* symbol = ::dlsym(library, name);
    if (symbol == nullptr) {
        throw RunError(ErrorNumber::Transfer, std::string("cannot load ") + kLibraryName + ": no " +
                                                  name + ": " + loaderError());
    }
    into = reinterpret_cast<Function>(symbol);
}

CurlLibrary load()
{
    // Every symbol bound now, so that a libcurl too old fails here, named,
    // rather than in the middle of a fetch; kept to itself, so that its
    // libraries' symbols never stand in for the program's.
    void* library = ::dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        throw RunError(ErrorNumber::Transfer,
                       std::string("cannot load ") + kLibraryName + ": " + loaderError());
    }
    CurlLibrary curl{};
    resolve(library, "curl_global_init", curl.global_init);
    resolve(library, "curl_easy_init", curl.easy_init);
    resolve(library, "curl_easy_cleanup", curl.easy_cleanup);
    resolve(library, "curl_easy_setopt", curl.easy_setopt);
    resolve(library, "curl_easy_getinfo", curl.easy_getinfo);
    resolve(library, "curl_easy_header", curl.easy_header);
    resolve(library, "curl_easy_strerror", curl.easy_strerror);
    resolve(library, "curl_multi_init", curl.multi_init);
    resolve(library, "curl_multi_cleanup", curl.multi_cleanup);
    resolve(library, "curl_multi_setopt", curl.multi_setopt);
    resolve(library, "curl_multi_add_handle", curl.multi_add_handle);
    resolve(library, "curl_multi_remove_handle", curl.multi_remove_handle);
    resolve(library, "curl_multi_perform", curl.multi_perform);
    resolve(library, "curl_multi_poll", curl.multi_poll);
    resolve(library, "curl_multi_info_read", curl.multi_info_read);
    resolve(library, "curl_multi_strerror", curl.multi_strerror);
    return curl; // the library stays loaded: its handles may outlive any caller
}

} // namespace

const CurlLibrary& curlLibrary()
{
    static const CurlLibrary library = load();
    return library;
}

} // namespace kqget

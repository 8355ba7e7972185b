#include "curl.h"

#include <mutex>

namespace kelvane::plataforma {

// libcurl is linked in (built with Schannel and WinCNG: only Windows' own DLLs, which are
// delay-loaded from System32), so nothing beside the executable can stand in for it.
const Curl& CarregarCurl() {
    static Curl curl;
    static std::once_flag uma;
    std::call_once(uma, [] {
        curl.easy_init = curl_easy_init;
        curl.easy_setopt = curl_easy_setopt;
        curl.easy_perform = curl_easy_perform;
        curl.easy_getinfo = curl_easy_getinfo;
        curl.easy_strerror = curl_easy_strerror;
        curl.easy_cleanup = curl_easy_cleanup;
        curl.url = curl_url;
        curl.url_set = curl_url_set;
        curl.url_get = curl_url_get;
        curl.url_cleanup = curl_url_cleanup;
        curl.free = curl_free;
        curl.easy_escape = curl_easy_escape;
        curl.slist_append = curl_slist_append;
        curl.slist_free_all = curl_slist_free_all;
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            curl.erro = "libcurl não iniciou";
            curl.easy_init = nullptr;
        }
    });
    return curl;
}

} // namespace kelvane::plataforma

// CommonCurlLibrary: the libcurl functions the download engine calls, bound
// the first time a transfer needs them.
//
// libcurl and the thirty libraries it brings cost every start about 10 ms,
// though most runs never touch the network. The library is opened by its
// soname on the first call of curl_library(), from any thread; that call also
// runs libcurl's global initialisation (default flags, SSL included), and
// curl_library_cleanup undoes it at exit when it was done.
#pragma once

#include <curl/curl.h>

struct CurlLibrary {
  decltype(&curl_global_init) global_init;
  decltype(&curl_global_cleanup) global_cleanup;
  decltype(&curl_easy_init) easy_init;
  decltype(&curl_easy_setopt) easy_setopt;
  decltype(&curl_easy_perform) easy_perform;
  decltype(&curl_easy_getinfo) easy_getinfo;
  decltype(&curl_easy_strerror) easy_strerror;
  decltype(&curl_easy_cleanup) easy_cleanup;
  decltype(&curl_multi_init) multi_init;
  decltype(&curl_multi_add_handle) multi_add_handle;
  decltype(&curl_multi_remove_handle) multi_remove_handle;
  decltype(&curl_multi_perform) multi_perform;
  decltype(&curl_multi_fdset) multi_fdset;
  decltype(&curl_multi_info_read) multi_info_read;
  decltype(&curl_multi_cleanup) multi_cleanup;
  decltype(&curl_multi_strerror) multi_strerror;
  decltype(&curl_share_init) share_init;
  decltype(&curl_share_setopt) share_setopt;
  decltype(&curl_share_strerror) share_strerror;
  decltype(&curl_share_cleanup) share_cleanup;
  decltype(&curl_slist_append) slist_append;
  decltype(&curl_slist_free_all) slist_free_all;
};

// The bound and initialised library, loading it on the first call; null when
// it cannot be loaded (ERROR "Could not load libcurl: %s" on "CommonDownload")
// or initialised (ERROR "Could not initialize CURL"), logged once.
const CurlLibrary *curl_library();

// curl_global_cleanup when curl_library() initialised libcurl; the library
// stays mapped. Call once, at exit, when no transfer runs.
void curl_library_cleanup();

#include "PlaycheckFilters.h"

#include <apr_file_info.h>
#include <apr_sha1.h>
#include <apr_strings.h>
#include <dlfcn.h>
#include <link.h>

#include <cstdio>
#include <cstring>

#include "MSFFMPEGLibrary.h"
#include "CommonSharedLibrary.h"
#include "PlatformRegistry.h"

namespace {

constexpr const char *kModule = "playcheckMain";

// The namespace of the decoders' name-based class ids,
// 5a3e8c41-27d0-4b6f-9a12-c47e308b55e9.
constexpr unsigned char kNamespace[16] = {0x5a, 0x3e, 0x8c, 0x41, 0x27, 0xd0, 0x4b, 0x6f,
                                          0x9a, 0x12, 0xc4, 0x7e, 0x30, 0x8b, 0x55, 0xe9};

struct DecoderList {
  decltype(&av_codec_iterate) iterate;
  decltype(&av_codec_is_decoder) is_decoder;
};

DecoderList g_decoders;

// The loader of MSCommon opens libavcodec with RTLD_GLOBAL.
bool bind_decoders(void *) {
  return shared_library_bind(RTLD_DEFAULT, "av_codec_iterate", &g_decoders.iterate) &&
         shared_library_bind(RTLD_DEFAULT, "av_codec_is_decoder", &g_decoders.is_decoder);
}

SharedLibrary g_shared{nullptr, 0, bind_decoders, nullptr, kModule, "Could not load the ffmpeg libraries: %s"};

const DecoderList *decoders() {
  if (ffmpeg_library() == nullptr) return nullptr;
  return shared_library_load(g_shared) ? &g_decoders : nullptr;
}

// The default value of the class's InProcServer32 key below classes, or null.
const char *registered_path(apr_pool_t *pool, RegKey *classes, const char *clsid) {
  if (classes == nullptr) return nullptr;
  RegKey *server = nullptr;
  const char *name = apr_pstrcat(pool, clsid, "\\InProcServer32", nullptr);
  if (regkey_open(&server, classes, name, REGKEY_READ, pool) != 0) return nullptr;
  char *path = nullptr;
  regkey_value_get(&path, server, nullptr, pool);
  regkey_close(server);
  return path;
}

// The file of the shared library that holds address.
const char *library_path(apr_pool_t *pool, const void *address) {
  Dl_info info;
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr || *info.dli_fname == '\0') return nullptr;
  return apr_pstrdup(pool, info.dli_fname);
}

struct WrappedSearch {
  const char *prefix;  // "libdav1d.so"
  const char *found;
};

int match_wrapped(dl_phdr_info *info, std::size_t, void *data) {
  auto *search = static_cast<WrappedSearch *>(data);
  const char *slash = std::strrchr(info->dlpi_name, '/');
  const char *base = slash != nullptr ? slash + 1 : info->dlpi_name;
  if (std::strncmp(base, search->prefix, std::strlen(search->prefix)) != 0) return 0;
  search->found = info->dlpi_name;
  return 1;
}

// A decoder that wraps an outside library (dav1d, opus...) is provided by
// that library, when the process has it loaded; the others by the library
// that holds the decoder itself.
const char *decoder_path(apr_pool_t *pool, const AVCodec *codec) {
  if (codec->wrapper_name != nullptr) {
    WrappedSearch search{apr_pstrcat(pool, codec->wrapper_name, ".so", nullptr), nullptr};
    dl_iterate_phdr(match_wrapped, &search);
    if (search.found != nullptr) return apr_pstrdup(pool, search.found);
  }
  return library_path(pool, codec);
}

int path_exists(apr_pool_t *pool, const char *path) {
  apr_finfo_t info;
  return path != nullptr && apr_stat(&info, path, APR_FINFO_TYPE, pool) == APR_SUCCESS ? 1 : 0;
}

}  // namespace

const char *playcheck_class_id(apr_pool_t *pool, const char *name) {
  apr_sha1_ctx_t context;
  apr_sha1_init(&context);
  apr_sha1_update_binary(&context, kNamespace, sizeof kNamespace);
  apr_sha1_update(&context, name, static_cast<unsigned int>(std::strlen(name)));
  unsigned char digest[APR_SHA1_DIGESTSIZE];
  apr_sha1_final(digest, &context);
  digest[6] = static_cast<unsigned char>((digest[6] & 0x0F) | 0x50);
  digest[8] = static_cast<unsigned char>((digest[8] & 0x3F) | 0x80);
  char text[39];
  std::snprintf(text, sizeof text, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", digest[0],
                digest[1], digest[2], digest[3], digest[4], digest[5], digest[6], digest[7], digest[8], digest[9],
                digest[10], digest[11], digest[12], digest[13], digest[14], digest[15]);
  return apr_pstrdup(pool, text);
}

int playcheck_filters(apr_pool_t *pool, const char *hive_folder, apr_array_header_t **filters) {
  *filters = nullptr;
  const DecoderList *list = decoders();
  if (list == nullptr) return 20014;
  // Without a readable "CLSID" key (no hive, or a damaged one, reported
  // once) every path comes from the loaded libraries.
  RegKey *root = nullptr, *classes = nullptr;
  if (hive_folder != nullptr && regkey_root_open(&root, hive_folder, PLAYCHECK_HIVE, pool) == 0) {
    regkey_open(&classes, root, "CLSID", REGKEY_READ, pool);
  }
  *filters = apr_array_make(pool, 512, sizeof(PlaycheckFilter));
  void *state = nullptr;
  while (const AVCodec *codec = list->iterate(&state)) {
    if (list->is_decoder(codec) == 0) continue;
    PlaycheckFilter &filter = APR_ARRAY_PUSH(*filters, PlaycheckFilter);
    filter.name = codec->long_name != nullptr ? codec->long_name : codec->name;
    filter.clsid = playcheck_class_id(pool, codec->name);
    filter.path = registered_path(pool, classes, filter.clsid);
    if (filter.path == nullptr) filter.path = decoder_path(pool, codec);
    filter.exist = path_exists(pool, filter.path);
  }
  return APR_SUCCESS;
}

// Names in the download area: the extension a download gets, its final name
// from its URL, and its temporary name. Whatever the URL holds, both names
// stay inside the folder and within the file system's limits.
#include <apr_strings.h>
#include <apr_uuid.h>
#include <strings.h>

#include <cctype>
#include <cstring>
#include <string_view>

#include "Common.h"
#include "CommonFiles.h"
#include "CommonPath.h"
#include "MSDownloadManager.h"

namespace {

// Longest extension kept; anything longer, or not alphanumeric, is dropped.
constexpr std::size_t kExtensionMax = 8;

struct FormatExtension {
  std::string_view format;
  const char *extension;
};

// The video site's "fmt" parameter: the container of each format.
constexpr std::string_view kVideoSiteHost = "youtube.com";
constexpr FormatExtension kFormats[] = {
    {"18", "mp4"}, {"22", "mp4"}, {"37", "mp4"}, {"38", "mp4"}, {"17", "mp4"}, {"13", "mp4"},
    {"45", "webm"}, {"44", "webm"}, {"43", "webm"},
};
constexpr const char *kDefaultVideoExtension = "flv";

bool usable(std::string_view extension) {
  if (extension.empty() || extension.size() > kExtensionMax) return false;
  for (char c : extension)
    if (!std::isalnum(static_cast<unsigned char>(c))) return false;
  return true;
}

std::string_view host_of(const char *url) {
  const char *after = url_after_scheme(url);
  if (after == nullptr) return {};
  std::string_view rest(after);
  return rest.substr(0, rest.find_first_of("/?#:"));
}

bool on_video_site(const char *url) {
  std::string_view host = host_of(url);
  if (host.size() < kVideoSiteHost.size()) return false;
  std::size_t at = host.size() - kVideoSiteHost.size();
  return strncasecmp(host.data() + at, kVideoSiteHost.data(), kVideoSiteHost.size()) == 0 &&
         (at == 0 || host[at - 1] == '.');
}

// The value of the query parameter name, or an empty view.
std::string_view query_value(const char *url, std::string_view name) {
  const char *query = std::strchr(url, '?');
  if (query == nullptr) return {};
  std::string_view rest(query + 1);
  while (!rest.empty()) {
    std::string_view pair = rest.substr(0, rest.find('&'));
    if (pair.size() > name.size() && pair.substr(0, name.size()) == name && pair[name.size()] == '=')
      return pair.substr(name.size() + 1);
    if (pair.size() == rest.size()) break;
    rest.remove_prefix(pair.size() + 1);
  }
  return {};
}

const char *video_extension(const char *url) {
  std::string_view format = query_value(url, "fmt");
  for (const FormatExtension &entry : kFormats)
    if (entry.format == format) return entry.extension;
  return kDefaultVideoExtension;
}

}  // namespace

const char *dlm_extension(apr_pool_t *pool, const char *url) {
  const char *after = url_after_scheme(url);
  const char *path = after != nullptr ? std::strchr(after, '/') : nullptr;
  const char *found = path != nullptr ? path_extension(path, 1) : nullptr;
  std::string_view extension;
  if (found != nullptr) extension = std::string_view(found, std::strcspn(found, "?#&"));
  if (on_video_site(url) && (extension.empty() || (extension.size() == 3 && strncasecmp(found, "swf", 3) == 0)))
    return video_extension(url);
  return usable(extension) ? apr_pstrndup(pool, extension.data(), extension.size()) : nullptr;
}

const char *dlm_final_path(apr_pool_t *pool, const char *folder, const char *url) {
  const char *extension = dlm_extension(pool, url);
  const char *suffix = extension != nullptr ? apr_pstrcat(pool, ".", extension, nullptr) : nullptr;
  char *path = safe_file_name(pool, url, folder, suffix);
  if (path == nullptr) return nullptr;
  // A URL of dots alone would name the folder itself or its parent.
  const char *name = path + std::strlen(path) - std::strlen(path_last_component(path));
  if (std::strspn(name, ".") == std::strlen(name)) {
    char md5[33];
    common_md5_hex(md5, url, std::strlen(url));
    return safe_file_name(pool, md5, folder, suffix);
  }
  return path;
}

const char *dlm_temp_path(apr_pool_t *pool, const char *folder, const char *url) {
  apr_uuid_t uuid;
  apr_uuid_get(&uuid);
  char text[APR_UUID_FORMATTED_LENGTH + 1];
  apr_uuid_format(text, &uuid);
  const char *extension = dlm_extension(pool, url);
  std::size_t length = std::strlen(folder);
  const char *separator = length > 0 && folder[length - 1] != '/' ? "/" : "";
  return apr_pstrcat(pool, folder, separator, text, ".part", extension != nullptr ? "." : "",
                     extension != nullptr ? extension : "", nullptr);
}

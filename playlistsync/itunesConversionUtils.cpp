// One conversion run: read the library, write the new set into a fresh
// temporary folder, bring the target in step, remove the temporary folder
// (on every path out, a failed run included). The library is read before
// anything is created, so a file that cannot be read leaves no trace at all.
#include "itunesConversionUtils.h"

#include "CommonFolderSync.h"
#include "itunesLibrary.h"
#include "itunesPlaylistWriter.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

void log_error(const char *message) { LOG4C(ITUNES_MODULE, LOG4C_ERROR, message); }

// Writes the library's playlists into folder (null when the temporary folder
// could not be made). Returns the status that stops the run before the
// synchronisation; *dropped as itunes_playlists_write.
int extract_playlists(apr_pool_t *pool, const ItunesLibrary &library, const char *folder, int separate,
                      int *dropped) {
  if (folder == nullptr) {
    log_error("could not create temporary dir");
    return APR_EGENERAL;
  }
  return itunes_playlists_write(pool, library, folder, separate, dropped);
}

int extract_failed(const char *library_path, int status) {
  log_error(log4c_sprintf("could not extract pls files from %s", library_path));
  return status;
}

// Removes the temporary folder when the run leaves, however it leaves.
class TemporaryFolder {
 public:
  explicit TemporaryFolder(apr_pool_t *pool) : pool_(pool), path_(temp_folder_create(pool)) {}
  ~TemporaryFolder() {
    if (path_ != nullptr && folder_remove(pool_, path_) != APR_SUCCESS)
      LOG4C(ITUNES_MODULE, LOG4C_WARN, log4c_sprintf("could not remove dir %s", path_));
  }
  TemporaryFolder(const TemporaryFolder &) = delete;
  TemporaryFolder &operator=(const TemporaryFolder &) = delete;
  const char *path() const { return path_; }

 private:
  apr_pool_t *pool_;
  const char *path_;
};

}  // namespace

int itunes_convert(apr_pool_t *parent, const char *library_path, const char *target_folder, int separate) {
  Pool pool(parent, ITUNES_MODULE);
  ItunesLibrary library;
  int dropped = APR_SUCCESS;
  int status = itunes_library_read(pool, library_path, &library);
  if (status != APR_SUCCESS) return extract_failed(library_path, status);
  TemporaryFolder folder(pool);
  status = extract_playlists(pool, library, folder.path(), separate, &dropped);
  if (status != APR_SUCCESS) return extract_failed(library_path, status);
  status = folder_sync(folder.path(), target_folder);
  if (status != APR_SUCCESS) {
    log_error(log4c_sprintf("could not sync dir %s to dir %s", folder.path(), target_folder));
    return status;
  }
  return dropped;
}

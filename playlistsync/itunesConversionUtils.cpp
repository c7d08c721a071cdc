// One conversion run: read the library, write the new set into a fresh
// temporary folder, bring the target in step, remove the temporary folder.
// The library is read before anything is created, so a file that cannot be
// read leaves no trace at all.
#include "itunesConversionUtils.h"

#include "CommonFolderSync.h"
#include "itunesLibrary.h"
#include "itunesPlaylistWriter.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {

void log_error(const char *message) { LOG4C(ITUNES_MODULE, LOG4C_ERROR, message); }

// Reads the library and writes its playlists into folder (null when the
// temporary folder could not be made). Returns the status that stops the run
// before the synchronisation; *dropped as itunes_playlists_write.
int extract_playlists(apr_pool_t *pool, const ItunesLibrary &library, const char *folder, int separate,
                      int *dropped) {
  if (folder == nullptr) {
    log_error("could not create temporary dir");
    return APR_EGENERAL;
  }
  return itunes_playlists_write(pool, library, folder, separate, dropped);
}

}  // namespace

int itunes_convert(apr_pool_t *parent, const char *library_path, const char *target_folder, int separate) {
  Pool pool(parent, ITUNES_MODULE);
  ItunesLibrary library;
  int dropped = APR_SUCCESS;
  int status = itunes_library_read(pool, library_path, &library);
  const char *folder = nullptr;
  if (status == APR_SUCCESS) {
    folder = temp_folder_create(pool);
    status = extract_playlists(pool, library, folder, separate, &dropped);
  }
  if (status != APR_SUCCESS) {
    log_error(log4c_sprintf("could not extract pls files from %s", library_path));
    return status;
  }
  status = folder_sync(folder, target_folder);
  if (status != APR_SUCCESS) {
    log_error(log4c_sprintf("could not sync dir %s to dir %s, leaving %s in place", folder, target_folder, folder));
    return status;
  }
  if (folder_remove(pool, folder) != APR_SUCCESS)
    LOG4C(ITUNES_MODULE, LOG4C_WARN, log4c_sprintf("could not remove dir %s", folder));
  return dropped;
}

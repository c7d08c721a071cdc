// MSDownloadManager: the download area, where media of internet feeds are
// downloaded in the background to be served as local files.
//
// A URL becomes an entry that counts the references callers hold on it; its
// transfer runs on the download engine's thread to a temporary name, and when
// the last reference goes a completed download is renamed to its final name
// (or deleted when it was to be discarded). Entries live in pools of their
// own, in a table under a read-write lock; completions are handled one at a
// time under a mutex, and callbacks run with the table unlocked but a
// temporary reference held. Files in use are locked in the file cache.
// Logs on "MSDownloadManager".
#pragma once

#include <apr_pools.h>
#include <apr_time.h>

#include "CommonDownload.h"

// dlm_add flags.
inline constexpr int DLM_TAKE_REF = 1;        // take a reference
inline constexpr int DLM_KEEP_DISCARD = 2;    // leave the discard flag as it is
inline constexpr int DLM_REFUSE_LIVE = 4;     // refuse live streams
inline constexpr int DLM_KEEP_FILE = 8;       // keep the file when unreferenced

// Entry states.
inline constexpr int DLM_DOWNLOADING = 0;
inline constexpr int DLM_FAILED = 1;
inline constexpr int DLM_COMPLETED = 2;  // still at its temporary path
inline constexpr int DLM_LOCKED = 3;     // completed file found at its final name

// Called once when an entry's transfer ends, on the download thread.
using DlmDoneFn = void (*)(const char *url, const char *context_text, int success, void *data);

// Creates the lock, the completion mutex, the table and the download folder
// (folder, or the configured one when null; made recursively, owner read and
// write), and hands the folder to the file cache. Returns 0, or 20014 after
// "Could no create mutex", "Could not create mutex", "Could not create hash
// table" or "Could not create folder for storing downloaded data, reason:
// %s".
int dlm_init(apr_pool_t *pool, const char *folder = nullptr);

// Adds url to the download area (flags above). Returns 0; 70023 for a
// packet-capture URL ("PCAP is disabled", no entry); 20014 after "Could not
// add url %s to the download area".
int dlm_add(const char *url, const char *context_text, int flags, DlmDoneFn done, void *data);

// Drops one reference; the last runs the last-reference step. An entry
// without references logs "Unreference of download that is not referenced.
// URL: %s".
void dlm_unref(const char *url);

// Makes the last reference of url discard its download instead of keeping it.
void dlm_discard(const char *url);

// 1 when an entry with this context text is still downloading, else 0.
int dlm_is_downloading(const char *context_text);

// Serving side: a reference on a completed download of url, with the path
// that holds it and its size. Returns 0; 70015 when url has no completed
// download; 20014 after "Can't get file size for %s". Drop it with
// dlm_unref.
int dlm_ref_completed(apr_pool_t *pool, const char *url, const char **path, apr_int64_t *size);

// A readable copy of the head of a download.
struct DlmHeadCopy {
  const char *path;   // in the caller's pool
  apr_int64_t size;   // bytes in the file now
  apr_int64_t total;  // the resource's size, -1 when unknown
};

// dlm_ref_head waits this long at most, whatever the server does.
inline constexpr apr_interval_time_t DLM_HEAD_WAIT = apr_time_from_sec(60);

// Serving side, for a prober that needs the first head_bytes of url: takes a
// reference on url's download (a running or completed one is shared, a file
// at its final name is locked; else a new download that refuses live streams,
// stops after head_bytes and is deleted with its last reference) and waits
// until head_bytes have arrived or the transfer ended, polling cancel. The
// engine's time-outs end a stalled transfer; DLM_HEAD_WAIT bounds a slow one.
// Returns 0 with *copy (drop the reference with dlm_unref); 4 when cancelled;
// 70023 for a packet-capture URL ("PCAP is disabled"); 20014 when the
// download failed (live streams included) or was too slow ("Could not get
// the head of url %s, its download failed" / "... in time", WARN). On any
// failure no reference is left.
int dlm_ref_head(apr_pool_t *pool, const char *url, apr_int64_t head_bytes, CancelCheck cancel, void *context,
                 DlmHeadCopy *copy);

// At exit: reports entries still in use, stops transfers that still run,
// forgets every entry and deletes leftover temporary files. Completions that
// arrive later are ignored.
void dlm_cleanup();

// The extension a download of url gets ("mp4" for fmt=22 of the video site),
// or null; in pool.
const char *dlm_extension(apr_pool_t *pool, const char *url);
// The final path of url's download in folder (always inside it), or null
// after the internal-error text when folder is too long.
const char *dlm_final_path(apr_pool_t *pool, const char *folder, const char *url);
// A new temporary path in folder: a UUID, ".part" and "." with the extension.
const char *dlm_temp_path(apr_pool_t *pool, const char *folder, const char *url);

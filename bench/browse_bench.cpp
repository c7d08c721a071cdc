// browse_bench: browse, metadata and search timings on a synthetic library.
//
//   browse_bench DIR [google-benchmark options]
//
// On first use DIR receives a library of 100,000 tracks made through the
// graph operations (no media files): 10,000 artists under one "Artists"
// container, two albums of five tracks each per artist, every track also in
// "All". One track in a hundred has "Love" in its title. Later runs reuse
// the library. Each benchmark reports the median of repeated runs; browse
// pages and searches run again after a change before each run: "after a
// change" rewrites a row that no route or title depends on (as a play mark
// or a new size does), "after new rows" adds an ancestor row and a title row
// (of no object: the least a scan's commit adds), "after a new route"
// rewrites an ancestor row and a title row (as a rescan that moves or
// removes items does), "after the last rows replaced" removes the last
// ancestor and prop rows and writes them again (a new row taking a removed
// one's oid), so that nothing remembered by searches serves it; "after new
// edges" adds an edge (of no container, as a scan's commit adds edges),
// "after an edge change" rewrites one (as a refresh that removes items
// does), which forgets where pages of containers begin.
#include <apr_file_info.h>
#include <apr_general.h>
#include <apr_strings.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "CommonThreadInit.h"
#include "MSDB.h"
#include "MSDBConnection.h"
#include "MSDBQuery.h"
#include "MSDBSchema.h"
#include "log4c_pool.h"

namespace {

constexpr int kArtists = 10000;
constexpr int kAlbumsPerArtist = 2;
constexpr int kTracksPerAlbum = 5;
constexpr int kArtistsPerTransaction = 250;
constexpr const char *kSource = "2";

struct Library {
  apr_pool_t *pool = nullptr;
  MediaLibraryDB *db = nullptr;
  std::string artists_path;  // id path of the container with 10,000 children
  std::string track_path;    // oid of one track
};

Library g_library;

void check(int status, const char *what) {
  if (status == 0) return;
  std::fprintf(stderr, "browse_bench: %s failed (%d)\n", what, status);
  std::exit(2);
}

const char *add(apr_pool_t *pool, const char *object, int slot, const char *value, const char *parent = nullptr) {
  const char *prop = nullptr;
  check(msdb_add_prop(pool, g_library.db, parent, object, slot, nullptr, value, &prop), "add property");
  return prop;
}

const char *container(apr_pool_t *pool, const char *parent, const char *title, const char *cls, bool sorted) {
  MediaLibraryDB *db = g_library.db;
  const char *oid = nullptr;
  check(msdb_create_object(pool, db, sorted ? nullptr : parent, "1", nullptr, &oid), "create container");
  add(pool, oid, PROP_DC_TITLE, title);
  add(pool, oid, PROP_UPNP_CLASS, cls);
  const char *by_title[] = {"dc:title"};
  if (sorted) check(msdb_add_sorted_edge(pool, db, parent, oid, 0, by_title, 1, 1, nullptr, nullptr), "link container");
  return oid;
}

void track(apr_pool_t *pool, const char *all, const char *album, int number, int serial, const char *artist_title,
           const char *album_title) {
  MediaLibraryDB *db = g_library.db;
  const char *oid = nullptr;
  check(msdb_create_object(pool, db, nullptr, kSource, apr_psprintf(pool, "gen:%d", serial), &oid), "create track");
  add(pool, oid, PROP_DC_TITLE, apr_psprintf(pool, serial % 100 == 0 ? "Love Song %d" : "Song %d", serial));
  add(pool, oid, PROP_UPNP_CLASS, "object.item.audioItem.musicTrack");
  add(pool, oid, PROP_UPNP_ARTIST, artist_title);
  add(pool, oid, PROP_UPNP_ALBUM, album_title);
  add(pool, oid, PROP_UPNP_ORIGINAL_TRACK_NUMBER, apr_itoa(pool, number));
  add(pool, oid, PROP_ZENTORIA_BASE_PATH, "/music");
  const char *res = add(pool, oid, PROP_RES, apr_psprintf(pool, "file:///music/%d.mp3", serial));
  add(pool, oid, PROP_RES_PROTOCOL_INFO, "http-get:*:audio/mpeg:*", res);
  add(pool, oid, PROP_RES_SIZE, apr_itoa(pool, 3000000 + serial), res);
  add(pool, oid, PROP_RES_DURATION, "0:03:00.000", res);
  const char *by_track[] = {"upnp:originalTrackNumber"};
  const char *by_class_title[] = {"upnp:class", "dc:title"};
  check(msdb_add_sorted_edge(pool, db, album, oid, 0, by_track, 1, 1, nullptr, nullptr), "link track");
  check(msdb_add_sorted_edge(pool, db, all, oid, 0, by_class_title, 2, 1, nullptr, nullptr), "link track in All");
}

void generate_artist(apr_pool_t *pool, const char *all, const char *artists, int artist) {
  const char *artist_title = apr_psprintf(pool, "Artist %05d", artist);
  const char *artist_oid = container(pool, artists, artist_title, "object.container.person.musicArtist", true);
  for (int a = 0; a < kAlbumsPerArtist; a++) {
    const char *album_title = apr_psprintf(pool, "Album %05d-%d", artist, a);
    const char *album = container(pool, artist_oid, album_title, "object.container.album.musicAlbum", true);
    for (int t = 0; t < kTracksPerAlbum; t++) {
      const int serial = (artist * kAlbumsPerArtist + a) * kTracksPerAlbum + t;
      track(pool, all, album, t + 1, serial, artist_title, album_title);
    }
  }
}

void generate() {
  MediaLibraryDB *db = g_library.db;
  Pool pool(g_library.pool);
  check(msdb_medialib_begin(db), "begin");
  const char *all = apr_pstrdup(g_library.pool, container(pool, "1", "All", "object.container", false));
  const char *artists = apr_pstrdup(g_library.pool, container(pool, "1", "Artists", "object.container", false));
  for (int artist = 0; artist < kArtists; artist++) {
    generate_artist(pool, all, artists, artist);
    if ((artist + 1) % kArtistsPerTransaction != 0) continue;
    check(msdb_medialib_commit(db), "commit");
    check(msdb_medialib_begin(db), "begin");
    pool.clear();
    std::fprintf(stderr, "\rgenerated %d tracks", (artist + 1) * kAlbumsPerArtist * kTracksPerAlbum);
  }
  check(msdb_medialib_commit(db), "commit");
  std::fprintf(stderr, "\n");
}

// Finds the containers and the track the benchmarks use.
void locate() {
  Pool pool(g_library.pool);
  DBThreadConnection *conn = msdb_thread_connection(g_library.db);
  const char *artists = nullptr, *track = nullptr;
  check(conn == nullptr, "connect");
  check(db_select_value(pool, conn->medialib,
                        "select objectOid from prop where nameOid=(select oid from propName where name='dc:title') "
                        "and valueOid=(select oid from propValue where value='Artists')",
                        &artists, nullptr),
        "find Artists");
  check(db_select_value(pool, conn->medialib, "select oid from object where signature='gen:54321'", &track, nullptr),
        "find a track");
  check(artists == nullptr || track == nullptr, "find the generated library");
  g_library.artists_path = std::string("0/1/") + artists;
  g_library.track_path = track;
}

void open_library(const char *dir) {
  const std::string medialib = std::string(dir) + "/medialib.db", admin = std::string(dir) + "/admin.db";
  apr_finfo_t info;
  const bool exists = apr_stat(&info, medialib.c_str(), APR_FINFO_TYPE, g_library.pool) == APR_SUCCESS;
  if (!exists) {
    check(apr_dir_make_recursive(dir, APR_FPROT_OS_DEFAULT, g_library.pool), "make folder");
    check(msdb_schema_create(g_library.pool, medialib.c_str(), admin.c_str()), "create library");
  }
  check(msdb_init(g_library.pool, medialib.c_str(), admin.c_str(), &g_library.db), "open library");
  if (!exists) generate();
  locate();
}

// The changes made before each run of a benchmark "after" one; none first.
struct Change {
  const char *name;
  const char *sql;
};
constexpr Change kChanges[] = {
    {"", nullptr},
    {" after a change", "update object set signature=signature where oid=0"},
    {" after new rows",
     "insert into ancestor (ancestorObjectOid, objectOid, path) values (-1, -1, '-1/'); insert into prop (nameOid, "
     "objectOid, valueOid) values (1, -1, 1)"},
    {" after a new route",
     "update object set signature=signature where oid=0; update ancestor set path=path where oid=(select min(oid) "
     "from ancestor); update prop set valueOid=valueOid where oid=(select min(oid) from prop where nameOid=1)"},
    {" after the last rows replaced",
     "create temp table lastAncestor as select * from ancestor where oid=(select max(oid) from ancestor); create temp "
     "table lastProp as select * from prop where oid=(select max(oid) from prop); delete from ancestor where "
     "oid=(select oid from lastAncestor); delete from prop where oid=(select oid from lastProp); insert into ancestor "
     "select * from lastAncestor; insert into prop select * from lastProp; drop table lastAncestor; drop table "
     "lastProp"},
    {" after new edges", "insert into edge (parentObjectOid, objectOid, ordinal) values (-1, -1, '')"},
    {" after an edge change", "update edge set ordinal=ordinal where oid=(select min(oid) from edge)"},
};

// Changes the library outside the timing, so that the query that follows
// finds of what its connection remembered (MSDBQueryMemory) only what the
// change left.
void change_library(benchmark::State &state, const Change &change) {
  if (change.sql == nullptr) return;
  state.PauseTiming();
  check(db_exec(msdb_thread_connection(g_library.db)->medialib, change.sql, nullptr), "change the library");
  state.ResumeTiming();
}

void browse_page(benchmark::State &state, const Change &change) {
  const char *id = g_library.artists_path.c_str();
  for (auto _ : state) {
    change_library(state, change);
    Pool pool(g_library.pool);
    const char *document = nullptr;
    int returned = 0;
    long total = 0;
    check(cds_metadata_fetch_children2(pool, g_library.db, &id, 1, "*", static_cast<unsigned>(state.range(0)), 100,
                                       nullptr, nullptr, FORMAT_DIDL_LITE, nullptr, &returned, &total, &document),
          "browse");
    if (returned != 100 || total != kArtists) check(1, "browse page size");
  }
}

void metadata(benchmark::State &state) {
  for (auto _ : state) {
    Pool pool(g_library.pool);
    const char *document = nullptr;
    check(msdb_fetch_metadata(pool, g_library.db, g_library.track_path.c_str(), "*", nullptr, nullptr,
                              FORMAT_DIDL_LITE, nullptr, &document),
          "metadata");
  }
}

void search(benchmark::State &state, const char *criteria, long expected, const Change &change) {
  const char *id = "0/1";
  for (auto _ : state) {
    change_library(state, change);
    Pool pool(g_library.pool);
    const char *document = nullptr;
    int returned = 0;
    long total = 0;
    check(msdb_search(pool, g_library.db, &id, 1, criteria, "*", 0, 100, 0, nullptr, nullptr, FORMAT_DIDL_LITE,
                      nullptr, &returned, &total, &document),
          "search");
    if (total != expected) check(1, "search total");
  }
}

void register_benchmarks() {
  constexpr int kRepetitions = 7;
  const auto setup = [](benchmark::internal::Benchmark *b) {
    b->Repetitions(kRepetitions)->ReportAggregatesOnly(true)->Unit(benchmark::kMillisecond);
  };
  for (const Change &change : kChanges) {
    const std::string after = change.name;
    setup(benchmark::RegisterBenchmark(("browse 100 children at offset 0" + after).c_str(), browse_page, change)
              ->Arg(0));
    setup(benchmark::RegisterBenchmark(("browse 100 children at offset 9900" + after).c_str(), browse_page, change)
              ->Arg(9900));
    if (change.sql == nullptr) setup(benchmark::RegisterBenchmark("metadata of one item", metadata));
    const long tracks = static_cast<long>(kArtists) * kAlbumsPerArtist * kTracksPerAlbum;
    setup(benchmark::RegisterBenchmark(("search class derivedfrom audioItem" + after).c_str(), search,
                                       "upnp:class derivedfrom \"object.item.audioItem\"", tracks, change));
    setup(benchmark::RegisterBenchmark(("search title contains love" + after).c_str(), search,
                                       "dc:title contains \"love\"", tracks / 100, change));
  }
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2 || argv[1][0] == '-') {
    std::fprintf(stderr, "usage: browse_bench DIR [benchmark options]\n");
    return 2;
  }
  apr_initialize();
  g_library.pool = pool_create_or_die(nullptr, "browse_bench");
  thread_init_module(g_library.pool);
  open_library(argv[1]);
  register_benchmarks();
  argv[1] = argv[0];
  int bench_argc = argc - 1;
  benchmark::Initialize(&bench_argc, argv + 1);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  msdb_terminate(g_library.db);
  apr_pool_destroy(g_library.pool);
  apr_terminate();
  return 0;
}

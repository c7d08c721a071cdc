#include "ShareFixture.h"

#include <apr_file_info.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "Common.h"
#include "CommonScheduler.h"
#include "CommonThreadInit.h"
#include "CommonTimeout.h"
#include "DbColumn.h"
#include "MSConfig.h"
#include "MSFFMPEG.h"
#include "ProgramRun.h"

namespace {

std::string parent_of(const std::string &path) { return std::filesystem::path(path).parent_path().string(); }

bool run_quietly(const std::string &program, const std::vector<std::string> &args, const std::string &cwd) {
  return run_program(program, args, cwd).status == 0;
}

}  // namespace

void ShareTest::SetUp() {
  ASSERT_EQ(thread_init_module(pool_), 0);
  install_ = dir_.file("inst");
  media_ = dir_.file("media");
  std::filesystem::create_directories(media_);
  ASSERT_TRUE(run_quietly(MLSETUP_PATH, {install_}, dir_.path()));
  ASSERT_EQ(msconfig_load(pool_, install_.c_str(), "share_tests"), 0);
  const MSConfig *config = nullptr;
  ASSERT_EQ(msconfig_get(&config), 0);
  const std::string medialib = config->content_db_path, admin = config->admin_db_path;
  msconfig_release();
  ASSERT_EQ(msdb_init(pool_, medialib.c_str(), admin.c_str(), &db_), 0);
  common_init(pool_, nullptr);
  ffmpeg_init(pool_);
  ASSERT_EQ(timeout_init(pool_, thread_attach, thread_detach), 0);
  ASSERT_EQ(scheduler_init(pool_), 0);
  engine_ = msms_init(pool_, db_, 0, 0) == 0;
  ASSERT_TRUE(engine_);
}

void ShareTest::TearDown() {
  if (engine_) {
    EXPECT_EQ(msms_terminate(), 0);
  }
  scheduler_term();
  timeout_stop();
  ffmpeg_term();
  common_terminate();
  if (db_ != nullptr) msdb_terminate(db_);
  msconfig_unload();
}

std::string ShareTest::mp3(const std::string &relative, const std::string &title, const std::string &artist,
                           const std::string &album, int track) {
  const std::string path = media_ + "/" + relative;
  std::filesystem::create_directories(parent_of(path));
  std::vector<std::string> args = {"-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                   "sine=frequency=440:duration=1", "-b:a", "32k"};
  for (const auto &[key, value] : {std::pair<const char *, std::string>{"title", title}, {"artist", artist},
                                   {"album", album}, {"track", track > 0 ? std::to_string(track) : ""}}) {
    if (value.empty()) continue;
    args.insert(args.end(), {"-metadata", std::string(key) + "=" + value});
  }
  args.push_back(path);
  EXPECT_TRUE(run_quietly("/usr/bin/ffmpeg", args, dir_.path())) << path;
  return path;
}

std::string ShareTest::jpg(const std::string &relative, int width, int height) {
  const std::string path = media_ + "/" + relative;
  std::filesystem::create_directories(parent_of(path));
  EXPECT_TRUE(run_quietly("/usr/bin/convert",
                          {"-size", std::to_string(width) + "x" + std::to_string(height), "xc:red", path},
                          dir_.path()))
      << path;
  return path;
}

std::string ShareTest::video(const std::string &relative) {
  const std::string path = media_ + "/" + relative;
  std::filesystem::create_directories(parent_of(path));
  EXPECT_TRUE(run_quietly("/usr/bin/ffmpeg",
                          {"-loglevel", "error", "-y", "-f", "lavfi", "-i",
                           "testsrc=duration=1:size=64x48:rate=5", "-pix_fmt", "yuv420p", path},
                          dir_.path()))
      << path;
  return path;
}

std::string ShareTest::text(const std::string &relative, const std::string &content) {
  const std::string path = media_ + "/" + relative;
  std::filesystem::create_directories(parent_of(path));
  write_file(path, content);
  return path;
}

void ShareTest::touch(const std::string &path, int seconds) {
  auto time = std::filesystem::last_write_time(path);
  std::filesystem::last_write_time(path, time + std::chrono::seconds(seconds));
}

std::string ShareTest::share(const std::string &path, int audio, int video, int photo, int recursive,
                             const char *tags) {
  MediaSource source{};
  source.name = path.c_str();
  source.url = path.c_str();
  source.tags = tags;
  source.lookfor_audio = audio;
  source.lookfor_video = video;
  source.lookfor_photo = photo;
  source.is_recursive = recursive;
  source.transcode_when = "";
  if (msms_add_media_source(pool_, &source, nullptr) != 0 || source.oid == nullptr) return "";
  return source.oid;
}

ScanCounts ShareTest::scan(const std::string &source) {
  ScanCounts counts;
  counts.status = msms_refresh_media_source(source.c_str(), 1, 0, &counts.added, &counts.removed, nullptr, nullptr);
  return counts;
}

std::vector<std::string> ShareTest::column(const std::string &sql) { return db_column(pool_, db_, sql); }

int ShareTest::count(const std::string &sql) {
  std::vector<std::string> values = column(sql);
  return values.empty() ? -1 : std::stoi(values[0]);
}

std::string ShareTest::item(const std::string &path) {
  const std::string url = "file://" + path;
  const char *oid = nullptr;
  EXPECT_EQ(msdb_find_newest_by_value(pool_, db_, "res", url.c_str(), nullptr, &oid, nullptr), 0);
  return oid != nullptr ? oid : "";
}

std::vector<std::string> ShareTest::props(const std::string &oid, const char *name) {
  const char *values[100];
  int n = 100;
  std::vector<std::string> out;
  if (oid.empty() || msdb_get_prop_values(pool_, db_, oid.c_str(), 0, name, 0, values, &n) != 0) return out;
  for (int i = 0; i < n; ++i) out.push_back(values[i]);
  return out;
}

std::string ShareTest::prop(const std::string &oid, const char *name) {
  std::vector<std::string> values = props(oid, name);
  return values.empty() ? "" : values[0];
}

int ShareTest::items_of(const std::string &source) {
  return count("select count(*) from objms join prop on prop.objectOid=objms.objectOid join propName on "
               "propName.oid=prop.nameOid join propValue on propValue.oid=prop.valueOid where objms.sourceOid=" +
               source + " and propName.name='upnp:class' and propValue.value like 'object.item%'");
}

std::string ShareTest::mlcheck() {
  ProgramResult result = run_program(MLCHECK_PATH, {}, install_);
  if (result.status != 0) return result.out + result.err;
  return "";
}

std::string ShareTest::library_and_log() {
  std::string dump;
  for (const char *sql : {
           "select oid || ' ' || ifnull(signature, '') from object order by oid",
           "select oid || ' ' || parentObjectOid || ' ' || objectOid || ' ' || ifnull(ordinal, '') from edge order by oid",
           "select oid || ' ' || ancestorObjectOid || ' ' || objectOid || ' ' || ifnull(path, '') from ancestor order by oid",
           // An object's properties are stored in no fixed order.
           "select prop.objectOid || ' ' || ifnull(owner.name || '@', '') || name.name || '=' || value.value from prop "
           "join propName name on name.oid = prop.nameOid join propValue value on value.oid = prop.valueOid "
           "left join prop parent on parent.oid = prop.parentOid left join propName owner on owner.oid = parent.nameOid "
           "order by 1",
           "select oid || ' ' || objectOid || ' ' || sourceOid from objms order by oid",
           "select URI || ' ' || propname || '=' || propvalue from URIProps order by oid"}) {
    for (const std::string &row : column(sql)) dump += row + "\n";
  }
  for (const LoggedEvent &event : log_.events()) {
    if (event.logger != "MSMediaScan" || event.message.starts_with("Refresh time")) continue;
    dump += std::to_string(event.level) + " " + event.message + "\n";
  }
  return dump;
}

void ShareTest::reinstall() {
  TearDown();
  std::filesystem::remove_all(install_);
  SetUp();
  log_.clear();
}

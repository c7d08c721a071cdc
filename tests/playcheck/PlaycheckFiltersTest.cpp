// The decoders of the installed ffmpeg as filters: class ids that never
// change, library files found from the loaded libraries, and paths that the
// registry hive gives instead.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "LogCapture.h"
#include "PlatformRegistry.h"
#include "PlaycheckFilters.h"

namespace {

const PlaycheckFilter *find(const apr_array_header_t *filters, const std::string &clsid) {
  for (int i = 0; i < filters->nelts; ++i) {
    const PlaycheckFilter &filter = APR_ARRAY_IDX(filters, i, PlaycheckFilter);
    if (clsid == filter.clsid) return &filter;
  }
  return nullptr;
}

TEST(PlaycheckFilters, ClassIdsAreNameBasedAndStable) {
  TestPool pool;
  // Pinned: the media server may keep decisions by class id across runs,
  // releases and machines. RFC 4122 version 5 of "h264" in the namespace
  // 5a3e8c41-27d0-4b6f-9a12-c47e308b55e9, as any UUID library computes it.
  EXPECT_STREQ(playcheck_class_id(pool, "h264"), "{50EB4F5C-06B1-51AD-B94E-CE10FCF8B0EA}");
  EXPECT_STRNE(playcheck_class_id(pool, "h264"), playcheck_class_id(pool, "hevc"));
}

TEST(PlaycheckFilters, EveryDecoderComesWithTheLibraryThatProvidesIt) {
  TestPool pool;
  TempDir hive;
  apr_array_header_t *filters = nullptr;
  ASSERT_EQ(playcheck_filters(pool, hive.path().c_str(), &filters), 0);
  ASSERT_GT(filters->nelts, 50);
  const PlaycheckFilter *h264 = find(filters, playcheck_class_id(pool, "h264"));
  ASSERT_NE(h264, nullptr);
  EXPECT_STREQ(h264->name, "H.264 / AVC / MPEG-4 AVC / MPEG-4 part 10");
  ASSERT_NE(h264->path, nullptr);
  EXPECT_NE(std::string(h264->path).find("libavcodec.so"), std::string::npos) << h264->path;
  EXPECT_EQ(h264->exist, 1);
  EXPECT_TRUE(std::filesystem::exists(h264->path));
}

// A class registered in the hive with a server file that has since been
// deleted is listed with that path and exist "0".
TEST(PlaycheckFilters, RegisteredServerPathWinsAndADeletedFileDoesNotExist) {
  TestPool pool;
  TempDir dir;
  const std::string deleted = dir.file("gone.so");
  write_file(deleted, "x");
  RegKey *root = nullptr, *server = nullptr;
  ASSERT_EQ(regkey_root_open(&root, dir.path().c_str(), PLAYCHECK_HIVE, pool), 0);
  const std::string clsid = playcheck_class_id(pool, "h264");
  const std::string key = "CLSID\\" + clsid + "\\InProcServer32";
  ASSERT_EQ(regkey_open(&server, root, key.c_str(), REGKEY_WRITE | REGKEY_CREATE, pool), 0);
  ASSERT_EQ(regkey_value_set(server, nullptr, deleted.c_str(), 0, pool), 0);

  apr_array_header_t *filters = nullptr;
  ASSERT_EQ(playcheck_filters(pool, dir.path().c_str(), &filters), 0);
  const PlaycheckFilter *h264 = find(filters, clsid);
  ASSERT_NE(h264, nullptr);
  EXPECT_EQ(std::string(h264->path), deleted);
  EXPECT_EQ(h264->exist, 1);

  std::filesystem::remove(deleted);
  ASSERT_EQ(playcheck_filters(pool, dir.path().c_str(), &filters), 0);
  h264 = find(filters, clsid);
  ASSERT_NE(h264, nullptr);
  EXPECT_EQ(std::string(h264->path), deleted);
  EXPECT_EQ(h264->exist, 0);
}

TEST(PlaycheckFilters, DamagedHiveIsReportedOnceAndTheLoadedLibrariesAnswer) {
  TestPool pool;
  TempDir dir;
  write_file(dir.file(PLAYCHECK_HIVE), "not a hive\n");
  LogCapture log;
  apr_array_header_t *filters = nullptr;
  ASSERT_EQ(playcheck_filters(pool, dir.path().c_str(), &filters), 0);
  const PlaycheckFilter *h264 = find(filters, playcheck_class_id(pool, "h264"));
  ASSERT_NE(h264, nullptr);
  EXPECT_NE(std::string(h264->path).find("libavcodec.so"), std::string::npos);
  int damaged = 0;
  for (const LoggedEvent &event : log.events()) damaged += event.message.find("is damaged") != std::string::npos;
  EXPECT_EQ(damaged, 1);
}

}  // namespace

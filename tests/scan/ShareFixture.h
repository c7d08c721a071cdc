// An installation made by mlsetup in a temporary folder with the scan engine
// started on it as sharectl starts it, a media folder beside it filled at
// test time with ffmpeg and ImageMagick, and helpers that share, scan and
// look into the library.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LogCapture.h"
#include "MSDB.h"
#include "MSMediaScan.h"

struct ScanCounts {
  int status = -1;
  int added = 0;
  int removed = 0;
};

class ShareTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Media files below media_ (folders made as needed); each returns the full path.
  std::string mp3(const std::string &relative, const std::string &title, const std::string &artist = "",
                  const std::string &album = "", int track = 0);
  std::string jpg(const std::string &relative, int width = 16, int height = 12);
  std::string video(const std::string &relative);
  std::string text(const std::string &relative, const std::string &content);
  // Moves the file's modification time by seconds.
  void touch(const std::string &path, int seconds);

  // Records a source (all kinds, recursive unless told) and returns its oid, "" on failure.
  std::string share(const std::string &path, int audio = 1, int video = 1, int photo = 1, int recursive = 1,
                    const char *tags = "");
  ScanCounts scan(const std::string &source);

  // Library look-ups.
  std::vector<std::string> column(const std::string &sql);
  int count(const std::string &sql);
  // Oid of the item whose res is "file://" + path, "" when none.
  std::string item(const std::string &path);
  std::string prop(const std::string &oid, const char *name);
  std::vector<std::string> props(const std::string &oid, const char *name);
  // Items (objects whose class starts with object.item) held by the source.
  int items_of(const std::string &source);
  // Lines printed by mlcheck; empty when the library is consistent.
  std::string mlcheck();
  // Every row of the library that a scan writes, in row order, and the
  // scan's own log lines (but its time) in the order they came.
  std::string library_and_log();
  // A new installation over the same media folder, with the log cleared.
  void reinstall();

  TestPool pool_;
  TempDir dir_;
  LogCapture log_;
  std::string install_;
  std::string media_;
  MediaLibraryDB *db_ = nullptr;
  bool engine_ = false;
};

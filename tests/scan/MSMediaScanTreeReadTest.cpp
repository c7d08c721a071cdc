// Folders listed ahead of the walk on a thread of their own: a listing must
// hold what the walk would read itself, links and folders larger than the
// window must be left to the walk, a stop must end the reader, and a walk
// must leave the same library and log with or without the reader.
#include <apr_file_info.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "MSMediaScanListing.h"
#include "MSMediaScanTreeRead.h"
#include "ShareFixture.h"

namespace fs = std::filesystem;

namespace {

class TreeRead : public ShareTest {
 protected:
  void TearDown() override {
    ShareTest::TearDown();
    msms_tree_read_enable(true);
  }

  // The folder's entries as apr_dir_read gives them, "." and ".." left out.
  std::vector<std::string> read_order(const std::string &folder) {
    std::vector<std::string> names;
    apr_dir_t *dir = nullptr;
    EXPECT_EQ(apr_dir_open(&dir, folder.c_str(), pool_), APR_SUCCESS);
    apr_finfo_t info;
    while (apr_dir_read(&info, APR_FINFO_NAME, dir) == APR_SUCCESS) {
      if (std::string(info.name) != "." && std::string(info.name) != "..") names.push_back(info.name);
    }
    apr_dir_close(dir);
    return names;
  }

  // Shares and scans the media folder in a fresh installation, then
  // rescans it unchanged.
  std::string scans(bool tree_read) {
    reinstall();
    msms_tree_read_enable(tree_read);
    const std::string source = share(media_);
    EXPECT_EQ(scan(source).status, 0);
    ScanCounts again = scan(source);
    EXPECT_EQ(again.added, 0);
    EXPECT_EQ(again.removed, 0);
    EXPECT_EQ(mlcheck(), "");
    return library_and_log();
  }
};

TEST_F(TreeRead, RootListingHoldsEachEntrysStatusInFolderOrderAndLeavesLinksUnfollowed) {
  const std::string song = mp3("song.mp3", "Song", "Band", "Album", 1);
  text("sub/inner.txt", "inner");
  fs::create_directory_symlink(media_ + "/sub", media_ + "/to-sub");
  fs::create_symlink(media_ + "/missing.mp3", media_ + "/dangling.mp3");

  TreeReader *reader = msms_tree_read_start(pool_, media_.c_str(), nullptr);
  ASSERT_NE(reader, nullptr);
  std::vector<TreeEntry> root;
  ASSERT_TRUE(msms_tree_read_take(reader, "", &root));
  std::vector<std::string> names;
  for (const TreeEntry &entry : root) names.push_back(entry.name);
  EXPECT_EQ(names, read_order(media_));
  for (const TreeEntry &entry : root) {
    apr_finfo_t expected;
    const apr_status_t status =
        apr_stat(&expected, (media_ + "/" + entry.name).c_str(), LISTING_WANTED | APR_FINFO_LINK, pool_);
    ASSERT_TRUE(status == APR_SUCCESS || status == APR_INCOMPLETE) << entry.name;
    EXPECT_EQ(entry.info.filetype, expected.filetype) << entry.name;
    EXPECT_EQ(entry.info.size, expected.size) << entry.name;
    EXPECT_EQ(entry.info.mtime, expected.mtime) << entry.name;
    EXPECT_EQ(entry.info.inode, expected.inode) << entry.name;
  }
  const auto link = std::find_if(root.begin(), root.end(), [](const TreeEntry &e) { return e.name == "to-sub"; });
  ASSERT_NE(link, root.end());
  EXPECT_EQ(link->info.filetype, APR_LNK);
  // Whether the reader got to the subfolder first is a race; either way
  // what is handed over is the subfolder's own listing.
  std::vector<TreeEntry> sub;
  if (msms_tree_read_take(reader, "/sub", &sub)) {
    ASSERT_EQ(sub.size(), 1u);
    EXPECT_EQ(sub[0].name, "inner.txt");
  }
  std::vector<TreeEntry> through_link;
  EXPECT_FALSE(msms_tree_read_take(reader, "/to-sub", &through_link));
  msms_tree_read_stop(reader);
}

// A folder of more entries than the window is the walk's to read a few at
// a time, but the reader still lists below it; a stop ends the reader
// whatever it is doing.
TEST_F(TreeRead, FolderLargerThanTheWindowIsLeftToTheWalkAndStopEndsTheReader) {
  for (int i = 0; i < TREE_READ_WINDOW + 10; ++i) text("n" + std::to_string(i) + ".txt", "");
  text("later/one.txt", "1");
  TreeReader *reader = msms_tree_read_start(pool_, media_.c_str(), nullptr);
  ASSERT_NE(reader, nullptr);
  msms_tree_read_stop(reader);

  // A folder asked for before the reader got to it is the walk's: on a busy
  // machine the reader may be late, and a fresh one gets a longer lead.
  std::vector<TreeEntry> later;
  bool listed = false;
  for (int lead_ms = 50; !listed && lead_ms <= 12800; lead_ms *= 2) {
    reader = msms_tree_read_start(pool_, media_.c_str(), nullptr);
    ASSERT_NE(reader, nullptr);
    std::vector<TreeEntry> root;
    EXPECT_FALSE(msms_tree_read_take(reader, "", &root));
    std::this_thread::sleep_for(std::chrono::milliseconds(lead_ms));
    listed = msms_tree_read_take(reader, "/later", &later);
    msms_tree_read_stop(reader);
  }
  ASSERT_TRUE(listed);
  ASSERT_EQ(later.size(), 1u);
  EXPECT_EQ(later[0].name, "one.txt");
}

// Folders listed before the pass are handed over as they were listed, not
// read again, and their subfolders are still found from them; the others
// are read from the disk.
TEST_F(TreeRead, KeptListingsAreHandedOverAndTheOtherFoldersRead) {
  text("a/one.txt", "1");
  text("a/b/two.txt", "2");
  text("c/three.txt", "3");
  TreeListings *kept = msms_tree_listings_make(pool_);
  OpenFolders folders(media_);
  for (const std::string folder : {"", "/a"}) {
    ASSERT_TRUE(msms_tree_list(&folders, folder, [&](TreeEntry &&entry) {
      kept->folders[folder].push_back(std::move(entry));
      return true;
    }));
    kept->folders[folder].push_back(TreeEntry{"gone.txt", apr_finfo_t{}});
  }
  TreeReader *reader = msms_tree_read_start(pool_, media_.c_str(), kept);
  ASSERT_NE(reader, nullptr);
  const struct {
    const char *folder;
    bool kept;
    std::vector<std::string> names;
  } cases[] = {
      {"", true, {"a", "c", "gone.txt"}},
      {"/a", true, {"b", "gone.txt", "one.txt"}},
      {"/a/b", false, {"two.txt"}},
      {"/c", false, {"three.txt"}},
  };
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  for (const auto &c : cases) {
    std::vector<TreeEntry> listed;
    // On a busy machine the reader may be late for a folder not kept,
    // which is then the walk's to read; a kept one is always handed over.
    if (!msms_tree_read_take(reader, c.folder, &listed) && !c.kept) continue;
    std::vector<std::string> names;
    for (const TreeEntry &entry : listed) names.push_back(entry.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, c.names) << c.folder;
  }
  msms_tree_read_stop(reader);
}

TEST_F(TreeRead, UnreadableRootIsLeftToTheWalk) {
  TreeReader *reader = msms_tree_read_start(pool_, (media_ + "/absent").c_str(), nullptr);
  ASSERT_NE(reader, nullptr);
  std::vector<TreeEntry> root;
  EXPECT_FALSE(msms_tree_read_take(reader, "", &root));
  msms_tree_read_stop(reader);
}

// More entries than the window, in one folder and spread over nested
// folders, with album art found in the folders' listings, and links to a
// folder and back to an ancestor that only the walk follows.
TEST_F(TreeRead, WalkLeavesTheSameLibraryAndLogWithOrWithoutTheReader) {
  for (int folder = 0; folder < 3; ++folder) {
    const std::string base = "Box " + std::to_string(folder) + "/";
    const int notes = folder == 0 ? TREE_READ_WINDOW + 5 : 900;
    for (int i = 0; i < notes; ++i) text(base + "note " + std::to_string(i) + ".txt", "");
    mp3(base + "Album/01 Song & <Co>.mp3", "Song " + std::to_string(folder), "Band", "Album", 1);
    jpg(base + "Album/Deeper/Still/photo.jpg", 20, 10);
  }
  jpg("Box 0/Album/folder.jpg");
  jpg("Box 1/Album/AlbumArt.Album.jpg");
  video("Films/clip.mp4");
  text("Films/clip.srt", "1\n00:00:00,000 --> 00:00:01,000\nhello\n");
  fs::create_directory_symlink(media_ + "/Films", media_ + "/Box 1/films-too");
  fs::create_directory_symlink(media_, media_ + "/Box 2/Album/back-to-top");
  const std::string alone = scans(false);
  EXPECT_NE(alone.find("leads back to a folder being scanned"), std::string::npos);
  EXPECT_EQ(scans(true), alone);
}

}  // namespace

// Bad input: awkward names, unreadable folders, files vanishing mid-scan,
// link loops, non-media disguised as media, a held library lock and
// interrupted scans. Nothing may crash, lose or corrupt the library.
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "CommonFiles.h"
#include "MSConfig.h"
#include "MSMediaScanTreeRead.h"
#include "ShareFixture.h"

namespace fs = std::filesystem;

namespace {

// While alive, the process obeys file permissions even when run as root, by
// lowering the two capabilities that let root read anything.
class PermissionsBind {
 public:
  PermissionsBind() {
    header_.version = _LINUX_CAPABILITY_VERSION_3;
    if (syscall(SYS_capget, &header_, saved_) != 0) return;
    __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
    lowered[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    lowered_ = syscall(SYS_capset, &header_, lowered) == 0;
  }
  ~PermissionsBind() {
    if (lowered_) syscall(SYS_capset, &header_, saved_);
  }
  PermissionsBind(const PermissionsBind &) = delete;
  PermissionsBind &operator=(const PermissionsBind &) = delete;

 private:
  __user_cap_header_struct header_{};
  __user_cap_data_struct saved_[2]{};
  bool lowered_ = false;
};

class Safety : public ShareTest {
 protected:
  // Copies of one short track: quicker than encoding each.
  void copies(const std::string &folder, int n) {
    const std::string first = mp3(folder + "/t0.mp3", "");
    for (int i = 1; i < n; ++i) fs::copy_file(first, media_ + "/" + folder + "/t" + std::to_string(i) + ".mp3");
  }
};

TEST_F(Safety, AwkwardNamesBecomeItemsTitledAsWritten) {
  const std::vector<std::string> names = {"It's \"quoted\" & <odd>", "naïve café – 東京", "line\nbreak",
                                          "  spaced  out ", "100% 'sure'; drop table object"};
  for (const std::string &name : names) mp3("odd/" + name + ".mp3", "");
  const std::string source = share(media_);
  ScanCounts counts = scan(source);
  ASSERT_EQ(counts.status, 0);
  EXPECT_EQ(counts.added, static_cast<int>(names.size()));
  for (const std::string &name : names) {
    const std::string oid = item(media_ + "/odd/" + name + ".mp3");
    ASSERT_FALSE(oid.empty()) << name;
    EXPECT_EQ(prop(oid, "zentoria:filename"), name);
  }
  EXPECT_EQ(scan(source).added, 0);
  EXPECT_EQ(mlcheck(), "");
}

TEST_F(Safety, UnreadableFolderIsSkippedWithItsNameAndTheRestIsScanned) {
  mp3("open/a.mp3", "A");
  mp3("closed/b.mp3", "B");
  const std::string source = share(media_);
  fs::permissions(media_ + "/closed", fs::perms::none);
  ScanCounts counts;
  {
    PermissionsBind bind;
    counts = scan(source);
  }
  fs::permissions(media_ + "/closed", fs::perms::owner_all);
  ASSERT_EQ(counts.status, 0);
  EXPECT_EQ(counts.added, 1);
  EXPECT_TRUE(log_.contains("Could not open folder " + media_ + "/closed, skipping..."));
}

// Folders opened within their parent's descriptor, in a walk's order: a
// link to a folder lists the folder it leads to, a folder that cannot be
// read or became a file after its parent was listed is not opened, and the
// walk goes on beside (a name that extends another's too), above and past
// the depth kept open.
TEST_F(Safety, FoldersOpenedWithinTheirParentsListAsTheirPaths) {
  text("a/b/one.txt", "1");
  text("a/c/two.txt", "2");
  text("closed/three.txt", "3");
  text("d/four.txt", "4");
  text("ab/six.txt", "6");
  fs::create_directory_symlink(media_ + "/a/c", media_ + "/a/to-c");
  std::string deep;
  for (std::size_t level = 0; level <= OPEN_FOLDERS_DEPTH + 1; ++level) deep += "/n";
  text(deep.substr(1) + "/five.txt", "5");
  fs::permissions(media_ + "/closed", fs::perms::none);
  const struct {
    std::string folder;
    bool replaced;  // by a file, before it is opened
    bool opened;
    std::vector<std::string> names;
  } cases[] = {
      {"", false, true, {"a", "ab", "closed", "d", "n"}},
      {"/a", false, true, {"b", "c", "to-c"}},
      {"/a/b", false, true, {"one.txt"}},
      {"/a/to-c", false, true, {"two.txt"}},
      {"/a/c", false, true, {"two.txt"}},
      {"/ab", false, true, {"six.txt"}},
      {"/closed", false, false, {}},
      {"/d", true, false, {}},
      {deep, false, true, {"five.txt"}},
      {"/n/n", false, true, {"n"}},
      {"/a", false, true, {"b", "c", "to-c"}},
  };
  OpenFolders folders(media_);
  {
    PermissionsBind bind;
    for (const auto &c : cases) {
      if (c.replaced) {
        fs::remove_all(media_ + c.folder);
        text(c.folder.substr(1), "now a file");
      }
      std::vector<std::string> names;
      EXPECT_EQ(msms_tree_list(&folders, c.folder, [&](TreeEntry &&entry) {
        EXPECT_NE(entry.info.valid & APR_FINFO_TYPE, 0) << entry.name;
        names.push_back(entry.name);
        return true;
      }), c.opened) << c.folder;
      std::sort(names.begin(), names.end());
      EXPECT_EQ(names, c.names) << c.folder;
    }
  }
  fs::permissions(media_ + "/closed", fs::perms::owner_all);
}

TEST_F(Safety, UnreadableFileIsSkippedNamingItUntilItCanBeRead) {
  mp3("a.mp3", "A");
  const std::string locked = mp3("b.mp3", "B");
  const std::string source = share(media_);
  fs::permissions(locked, fs::perms::none);
  ScanCounts counts;
  {
    PermissionsBind bind;
    counts = scan(source);
  }
  fs::permissions(locked, fs::perms::owner_all);
  ASSERT_EQ(counts.status, 0);
  EXPECT_EQ(counts.added, 1);
  EXPECT_TRUE(log_.contains("Could not read " + locked + ", skipping..."));
  // Once readable, the file becomes an item with its tags.
  EXPECT_EQ(scan(source).added, 1);
  EXPECT_EQ(prop(item(locked), "dc:title"), "B");
  EXPECT_EQ(mlcheck(), "");
}

// A file whose kind the source does not want (album art is no photo unless
// allowed) is passed over before it is opened, readable or not, on the first
// scan and on every rescan; one it wants is named when it cannot be read.
TEST_F(Safety, UnreadableFileIsNamedOnlyWhenItsKindIsWanted) {
  const struct {
    const char *relative;
    int photo;  // the source wants photos
    bool named;
    int added;  // once readable
  } cases[] = {
      {"wanted/holiday.jpg", 1, true, 1},
      {"art/folder.jpg", 1, false, 0},
      {"unwanted/holiday.jpg", 0, false, 0},
  };
  for (const auto &c : cases) {
    const std::string locked = jpg(c.relative);
    const std::string folder = fs::path(locked).parent_path().string();
    const std::string source = share(folder, 1, 1, c.photo);
    fs::permissions(locked, fs::perms::none);
    ScanCounts first, again;
    {
      PermissionsBind bind;
      first = scan(source);
      again = scan(source);
    }
    fs::permissions(locked, fs::perms::owner_all);
    EXPECT_EQ(first.status, 0) << c.relative;
    EXPECT_EQ(first.added + again.added, 0) << c.relative;
    EXPECT_EQ(log_.contains("Could not read " + locked + ", skipping..."), c.named) << c.relative;
    EXPECT_EQ(scan(source).added, c.added) << c.relative;
  }
  EXPECT_EQ(mlcheck(), "");
}

// Deletes a file of the folder being walked once the walk has begun.
int delete_victim(void *context) {
  auto *victim = static_cast<std::string *>(context);
  if (!victim->empty()) {
    fs::remove(*victim);
    victim->clear();
  }
  return 0;
}

TEST_F(Safety, FileVanishingMidScanIsSkipped) {
  copies("v", 20);
  const std::string source = share(media_);
  std::string victim = media_ + "/v/t7.mp3";
  ScanCounts counts;
  counts.status = msms_refresh_media_source(source.c_str(), 1, 0, &counts.added, &counts.removed, delete_victim, &victim);
  ASSERT_EQ(counts.status, 0);
  EXPECT_EQ(items_of(source), 19);
  EXPECT_EQ(item(media_ + "/v/t7.mp3"), "");
  EXPECT_EQ(mlcheck(), "");
}

TEST_F(Safety, LinkLoopsEndAndLinksToFilesAreFollowed) {
  const std::string outside = dir_.file("outside");
  fs::create_directories(outside);
  const std::string real = mp3("../outside/real.mp3", "Real");
  mp3("a/inner.mp3", "Inner");
  fs::create_directory_symlink(media_, media_ + "/a/back-to-top");
  fs::create_directory_symlink(media_ + "/a", media_ + "/a/self");
  fs::create_symlink(real, media_ + "/a/linked.mp3");
  fs::create_symlink(media_ + "/a/missing.mp3", media_ + "/a/dangling.mp3");
  const std::string source = share(media_);
  ScanCounts counts = scan(source);
  ASSERT_EQ(counts.status, 0);
  EXPECT_EQ(counts.added, 2);
  EXPECT_FALSE(item(media_ + "/a/linked.mp3").empty());
  EXPECT_TRUE(log_.contains("Could not read " + media_ + "/a/dangling.mp3, skipping..."));
  EXPECT_EQ(mlcheck(), "");
}

TEST_F(Safety, NonMediaDisguisedAsMediaNeverBreaksTheScan) {
  const std::string html = text("d/page.mp3", "<html><body>not a song</body></html>\n");
  const std::string playlist = text("d/list.mp4", "#EXTM3U\n/etc/passwd\n");
  const std::string picture = text("d/fake.jpg", "GIF89a but not really");
  mp3("d/real.mp3", "Real");
  const std::string source = share(media_);
  ScanCounts counts = scan(source);
  ASSERT_EQ(counts.status, 0);
  EXPECT_FALSE(item(media_ + "/d/real.mp3").empty());
  EXPECT_TRUE(log_.contains(picture));
  EXPECT_EQ(scan(source).added, 0);
  EXPECT_EQ(mlcheck(), "");
}

TEST_F(Safety, ScanRefusedWhileAnotherWriterHoldsTheLibraryLock) {
  mp3("a.mp3", "A");
  const std::string source = share(media_);
  apr_file_t *lock = nullptr;
  const std::string lock_path = install_ + "/logs/zentoria.ZentoriaMediaLibLock";
  ASSERT_EQ(lock_file_acquire(pool_, lock_path.c_str(), &lock), 0);
  EXPECT_EQ(scan(source).status, APR_EBUSY);
  EXPECT_NE(msms_remove_media_source(pool_, media_.c_str(), 1, nullptr, nullptr, nullptr), 0);
  EXPECT_TRUE(log_.contains("Could not acquire DB modification mutex"));
  ASSERT_EQ(lock_file_release(lock), 0);
  EXPECT_EQ(scan(source).added, 1);
}

// Stops the walk after a number of entries.
int stop_after(void *context) { return --*static_cast<int *>(context) < 0; }

TEST_F(Safety, InterruptedScanKeepsCommittedItemsAndTheNextScanCompletes) {
  copies("many", 130);
  const std::string source = share(media_);
  int budget = 240;  // asked before each entry and again by each probe
  ScanCounts first;
  first.status = msms_refresh_media_source(source.c_str(), 1, 0, &first.added, &first.removed, stop_after, &budget);
  EXPECT_EQ(first.status, 4);
  const int kept = items_of(source);
  EXPECT_GT(kept, 100);  // the items committed after the first hundred
  EXPECT_LT(kept, 130);
  EXPECT_EQ(mlcheck(), "");
  ScanCounts second = scan(source);
  ASSERT_EQ(second.status, 0);
  EXPECT_EQ(second.added, 130 - kept);
  EXPECT_EQ(items_of(source), 130);
  EXPECT_EQ(mlcheck(), "");
}

}  // namespace

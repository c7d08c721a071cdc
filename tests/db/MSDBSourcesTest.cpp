// Media sources, tags, user accounts and the URI property store.
#include <apr_hash.h>

#include "DbFixture.h"

namespace {

MediaSource folder_source(const char *name, const char *url, const char *type = "folder") {
  MediaSource source{};
  source.name = name;
  source.url = url;
  source.type = type;
  source.tags = " a , b,c ,, ";
  source.lookfor_audio = 1;
  source.is_recursive = 1;
  source.transcode_when = "never";
  return source;
}

void count_public(apr_pool_t *, void *context, const char *, const char *, const char *, const char *,
                  const char *) {
  ++*static_cast<int *>(context);
}

}  // namespace

TEST_F(DbTest, SourceTextsAreStoredEscapedAndReadBackExactly) {
  const char *url = "/music/Rock 'n' Roll & <Blues> \"live\" \xc3\xa9t\xc3\xa9";
  MediaSource source = folder_source("Caf\xc3\xa9 & Co's", url);
  ASSERT_EQ(msdb_add_media_source(pool_, db_, &source), 0);
  EXPECT_STREQ(source.oid, "2");
  EXPECT_EQ(value("select url from mediaSource where oid=2", true),
            "/music/Rock &apos;n&apos; Roll &amp; &lt;Blues&gt; &quot;live&quot; \xc3\xa9t\xc3\xa9");
  EXPECT_EQ(rows("select tag from tag order by tag", true), (std::vector<std::string>{"a", "b", "c"}));
  MediaSource back{};
  ASSERT_EQ(msdb_get_media_source_by_url(pool_, db_, url, &back), 0);
  EXPECT_STREQ(back.oid, "2");
  EXPECT_STREQ(back.url, url);
  EXPECT_STREQ(back.name, "Caf\xc3\xa9 & Co's");
  EXPECT_EQ(back.lookfor_audio, 1);
  EXPECT_EQ(back.lookfor_video, 0);
  MediaSource missing{};
  ASSERT_EQ(msdb_get_media_source_by_oid(pool_, db_, "99", &missing), 0);
  EXPECT_EQ(missing.oid, nullptr);
}

TEST_F(DbTest, UpdatingASourceNeedsTranscodeWhenAndAnExistingRow) {
  MediaSource source = folder_source("A", "/a");
  ASSERT_EQ(msdb_add_media_source(pool_, db_, &source), 0);
  MediaSource ghost = source;
  ghost.oid = "77";
  ghost.tags = "x";
  EXPECT_EQ(msdb_update_media_source(pool_, db_, &ghost), APR_EGENERAL);
  EXPECT_EQ(value("select count(*) from tag", true), "3");
  ghost.transcode_when = nullptr;
  EXPECT_EQ(msdb_update_media_source(pool_, db_, &ghost), APR_EGENERAL);
  EXPECT_EQ(log_.count("MSDB", 3, "Missing media source mandatory field value for transocde_when"), 1);
  source.tags = "solo";
  ASSERT_EQ(msdb_update_media_source(pool_, db_, &source), 0);
  EXPECT_EQ(rows("select tag from tag", true), std::vector<std::string>{"solo"});
  MediaSource tagged[4];
  int count = 4;
  ASSERT_EQ(msdb_get_media_sources_by_tag(pool_, db_, "solo", tagged, &count), 0);
  EXPECT_EQ(count, 1);
  ASSERT_EQ(msdb_delete_media_source(pool_, db_, source.oid), 0);
  EXPECT_EQ(value("select count(*) from tag", true), "0");
}

TEST_F(DbTest, ReservedSourceIsNeverListedOrMatched) {
  exec("update mediaSource set is_public=1, url='/shared' where oid=1", true);
  MediaSource file = folder_source("b-file", "/shared/f.mp3", "file");
  MediaSource folder = folder_source("A-folder", "/shared/dir");
  MediaSource feed = folder_source("feed", "http://example.invalid/feed", "audfeed");
  for (MediaSource *source : {&file, &folder, &feed}) {
    source->is_public = 1;
    ASSERT_EQ(msdb_add_media_source(pool_, db_, source), 0);
  }
  const char *text = nullptr;
  ASSERT_EQ(msdb_list_media_sources(pool_, db_, "fs", nullptr, nullptr, &text), 0);
  std::string listing = text;
  EXPECT_LT(listing.find("A-folder"), listing.find("b-file"));
  EXPECT_EQ(listing.find("feed"), std::string::npos);
  EXPECT_EQ(listing.find("Zentoria"), std::string::npos);
  ASSERT_EQ(msdb_list_media_sources(pool_, db_, nullptr, nullptr, nullptr, &text), 0);
  EXPECT_EQ(std::string(text).find("Zentoria"), std::string::npos);
  EXPECT_EQ(msdb_list_media_sources(pool_, db_, "bogus", nullptr, nullptr, &text), APR_EGENERAL);
  int public_count = 0;
  ASSERT_EQ(msdb_for_each_public_source(pool_, db_, count_public, &public_count), 0);
  EXPECT_EQ(public_count, 3);
  DbCursor *cursor = nullptr;
  const char *first = nullptr;
  ASSERT_EQ(msdb_source_oids_by_url_prefix(pool_, db_, "/shared", &cursor, &first), 0);
  const char *next = nullptr;
  ASSERT_EQ(msdb_cursor_next(pool_, db_, cursor, &next), 0);
  EXPECT_STREQ(first, "2");
  EXPECT_STREQ(next, "3");
  ASSERT_EQ(msdb_source_urls(pool_, db_, &cursor, &first), 0);
  EXPECT_STREQ(first, "/shared/f.mp3");
}

TEST_F(DbTest, AccountsInsertOnceThenUpdateThePassword) {
  UserAccount account{nullptr, "example.org", nullptr, "joe", "s3cr'et"};
  ASSERT_EQ(msdb_save_user_account(pool_, db_, 1, &account), 0);
  EXPECT_EQ(value("select password from useraccount", true), "czNjcidldA==");
  EXPECT_EQ(msdb_save_user_account(pool_, db_, 1, &account), APR_EGENERAL);
  account.password = "new";
  ASSERT_EQ(msdb_save_user_account(pool_, db_, 0, &account), 0);
  UserAccount anonymous{nullptr, "example.org", nullptr, nullptr, "anon"};
  ASSERT_EQ(msdb_save_user_account(pool_, db_, 1, &anonymous), 0);
  UserAccount found{};
  ASSERT_EQ(msdb_get_user_account(pool_, db_, "HTTP://WWW.EXAMPLE.ORG/x", &found), 0);
  EXPECT_STREQ(found.domain, "example.org");
  EXPECT_EQ(msdb_get_user_account(pool_, db_, "http://other.net/", &found), APR_NOTFOUND);
  UserAccount list[4];
  int count = 4;
  ASSERT_EQ(msdb_list_user_accounts(pool_, db_, list, &count), 0);
  ASSERT_EQ(count, 2);
  std::string passwords = std::string(list[0].password) + "," + list[1].password;
  EXPECT_TRUE(passwords == "new,anon" || passwords == "anon,new") << passwords;
  ASSERT_EQ(msdb_delete_user_account(pool_, db_, "example.org", nullptr), 0);
  EXPECT_EQ(msdb_delete_user_account(pool_, db_, "example.org", nullptr), APR_EGENERAL);
  EXPECT_EQ(rows("select username from useraccount", true), std::vector<std::string>{"joe"});
  UserAccount no_domain{nullptr, "", nullptr, "x", "y"};
  EXPECT_EQ(msdb_save_user_account(pool_, db_, 1, &no_domain), APR_EGENERAL);
}

TEST_F(DbTest, UriPropertiesNearestRecursiveValueWins) {
  EXPECT_EQ(msdb_uri_prop_set(pool_, db_, "/media/films", 1, "zentoria:subtitles", "en", nullptr, nullptr), 0);
  EXPECT_EQ(msdb_uri_prop_set(pool_, db_, "/media/films/French", 1, "zentoria:subtitles", "fr", nullptr, nullptr), 0);
  EXPECT_EQ(msdb_uri_prop_set(pool_, db_, "/media", 0, "zentoria:subtitles", "de", nullptr, nullptr), 0);
  EXPECT_EQ(msdb_uri_prop_set(pool_, db_, "/media", 0, "not:aName", "x", nullptr, nullptr), APR_EGENERAL);
  const char *got = nullptr;
  ASSERT_EQ(msdb_uri_prop_get(pool_, db_, "/media/films/French/a.avi", 1, nullptr, nullptr, "zentoria:subtitles", &got), 0);
  EXPECT_STREQ(got, "fr");
  ASSERT_EQ(msdb_uri_prop_get(pool_, db_, "/media/films/b.avi", 1, nullptr, nullptr, "zentoria:subtitles", &got), 0);
  EXPECT_STREQ(got, "en");
  ASSERT_EQ(msdb_uri_prop_get(pool_, db_, "/media/other/c.avi", 1, nullptr, nullptr, "zentoria:subtitles", &got), 0);
  EXPECT_EQ(got, nullptr);
  EXPECT_EQ(msdb_uri_prop_set(pool_, db_, "/media/none", 0, "zentoria:subtitles", nullptr, nullptr, nullptr),
            APR_NOTFOUND);
  const char *names[] = {"zentoria:subtitles"};
  apr_hash_t *map = nullptr;
  ASSERT_EQ(cds_get_uris_by_props(db_, pool_, names, 1, &map), 0);
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(apr_hash_count(map), 3u);
  ASSERT_EQ(msdb_uri_props_delete(pool_, db_, map), 0);
  EXPECT_EQ(value("select count(*) from URIProps", true), "0");
}

TEST_F(DbTest, UriPropertiesOfAnObjectComeFromItsNearestAncestor) {
  std::string top = create("1");
  std::string folder = create(top.c_str());
  std::string item = create(folder.c_str());
  ASSERT_EQ(msdb_set_slot(pool_, db_, top.c_str(), PROP_ZENTORIA_FULL_PATH, "/v"), 0);
  ASSERT_EQ(msdb_set_slot(pool_, db_, folder.c_str(), PROP_ZENTORIA_FULL_PATH, "/v/s & t"), 0);
  ASSERT_EQ(msdb_uri_prop_set(pool_, db_, "/v", 1, "zentoria:subtitles", "top", nullptr, nullptr), 0);
  ASSERT_EQ(msdb_uri_prop_set(pool_, db_, "/v/s & t", 1, "zentoria:subtitles", "near", nullptr, nullptr), 0);
  const char *got = nullptr;
  ASSERT_EQ(msdb_uri_prop_get(pool_, db_, "/elsewhere/x.avi", 1, item.c_str(), nullptr, "zentoria:subtitles", &got), 0);
  EXPECT_STREQ(got, "near");
}

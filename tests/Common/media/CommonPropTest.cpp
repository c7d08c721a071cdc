// Property lists: instance bookkeeping of elements and their attributes,
// and the vocabulary look-ups other modules name properties by.
#include <gtest/gtest.h>

#include <string>

#include "CommonProp.h"
#include "CommonUserMessage.h"
#include "LogCapture.h"

namespace {

class PropListTest : public ::testing::Test {
 protected:
  TestPool pool;
  PropList *list = prop_list_create(pool);
  LogCapture log;
};

TEST_F(PropListTest, AttributesLandOnTheNewestInstanceOfTheirElement) {
  prop_add(pool, list, PROP_RES, "http://a");
  prop_set(pool, list, "res@size", "10");
  prop_add(pool, list, "res", "http://b");
  prop_set(pool, list, PROP_RES_SIZE, "20");
  EXPECT_EQ(prop_count(list, PROP_RES), 2);
  EXPECT_EQ(prop_count(list, PROP_RES_SIZE), 2) << "attributes count with their element";
  EXPECT_STREQ(prop_get(pool, list, PROP_RES, 0), "http://a");
  EXPECT_STREQ(prop_get(pool, list, "res@size", 0), "10");
  EXPECT_STREQ(prop_get(pool, list, PROP_RES, 1), "http://b");
  EXPECT_STREQ(prop_get_last(pool, list, PROP_RES_SIZE), "20");
  EXPECT_EQ(apr_hash_count(list), 5u) << "one count and four values";
  EXPECT_EQ(prop_get(pool, list, PROP_RES, 2), nullptr);
}

TEST_F(PropListTest, SettingWithoutAnInstanceStoresNothing) {
  prop_set(pool, list, "res@size", "10");
  EXPECT_EQ(apr_hash_count(list), 0u);
  EXPECT_EQ(log.count("CommonProp", 3, INTERNAL_ERROR_TEXT), 1);
  EXPECT_EQ(prop_get_last(pool, list, PROP_DC_TITLE), nullptr);
  EXPECT_EQ(log.count("CommonProp", 3, INTERNAL_ERROR_TEXT), 2);
}

TEST_F(PropListTest, ObjectAttributesAreTheirOwnBaseName) {
  prop_add(pool, list, PROP_ID, "17");
  prop_add(pool, list, PROP_PARENT_ID, "3");
  EXPECT_EQ(prop_count(list, PROP_ID), 1);
  EXPECT_STREQ(prop_get(pool, list, "@parentID", 0), "3");
}

TEST_F(PropListTest, SetSingleAddsSetsOrOverwritesAll) {
  prop_set_single(pool, list, PROP_DC_TITLE, "first");
  prop_set_single(pool, list, PROP_DC_TITLE, "second");
  EXPECT_EQ(prop_count(list, PROP_DC_TITLE), 1);
  EXPECT_STREQ(prop_get(pool, list, PROP_DC_TITLE, 0), "second");
  prop_add(pool, list, PROP_DC_TITLE, "third");
  prop_set_single(pool, list, "dc:title", "only");
  EXPECT_STREQ(prop_get(pool, list, PROP_DC_TITLE, 0), "only");
  EXPECT_STREQ(prop_get(pool, list, PROP_DC_TITLE, 1), "only");
  EXPECT_EQ(log.count("CommonProp", 3, "cannot have more than one property for dc:title"), 1);
}

TEST_F(PropListTest, SetAtAndSetAllLeaveTheCountAlone) {
  prop_add(pool, list, PROP_UPNP_GENRE, "Rock");
  prop_add(pool, list, PROP_UPNP_GENRE, "Pop");
  prop_set_at(pool, list, PROP_UPNP_GENRE, 0, "Jazz");
  EXPECT_STREQ(prop_get(pool, list, PROP_UPNP_GENRE, 0), "Jazz");
  prop_set_all(pool, list, PROP_UPNP_GENRE, "Folk");
  EXPECT_STREQ(prop_get(pool, list, PROP_UPNP_GENRE, 1), "Folk");
  EXPECT_EQ(prop_count(list, PROP_UPNP_GENRE), 2);
}

TEST_F(PropListTest, DeleteRemovesAResourceWithAllItsAttributes) {
  prop_add(pool, list, PROP_RES, "http://a");
  prop_set(pool, list, PROP_RES_SIZE, "10");
  prop_set(pool, list, PROP_RES_VIDEO_PROFILE, "High@L4.0");
  prop_add(pool, list, PROP_DC_TITLE, "kept");
  EXPECT_EQ(prop_delete(pool, list, PROP_RES, PROP_RES_VIDEO_PROFILE + 1, 0), APR_SUCCESS);
  EXPECT_EQ(prop_count(list, PROP_RES), 0);
  EXPECT_EQ(prop_get(pool, list, PROP_RES_SIZE, 0), nullptr);
  EXPECT_EQ(prop_get(pool, list, PROP_RES_VIDEO_PROFILE, 0), nullptr);
  EXPECT_EQ(apr_hash_count(list), 2u);
  EXPECT_EQ(prop_delete(pool, list, PROP_RES, PROP_RES_VIDEO_PROFILE + 1, 0), APR_SUCCESS) << "nothing left to delete";
}

TEST_F(PropListTest, DeleteRefusesMultiValuedProperties) {
  prop_add(pool, list, PROP_RES, "a");
  prop_add(pool, list, PROP_RES, "b");
  EXPECT_EQ(prop_delete(pool, list, PROP_RES, PROP_RES_VIDEO_PROFILE + 1, 0), APR_EGENERAL);
  EXPECT_EQ(log.count("CommonProp", 3, "trying to delete a multi valued property res - failed"), 1);
  EXPECT_EQ(prop_count(list, PROP_RES), 2);
}

TEST(PropNames, IndexOfMatchesNamesAndTheirLocalPart) {
  EXPECT_EQ(prop_index_of("Title", 0), PROP_DC_TITLE);
  EXPECT_EQ(prop_index_of("class", 0), PROP_UPNP_CLASS);
  EXPECT_EQ(prop_index_of("upnp:CLASS", 0), PROP_UPNP_CLASS);
  EXPECT_EQ(prop_index_of("zentoria", 0), PROP_DESC_XMLNS_ZENTORIA);
  EXPECT_EQ(prop_index_of("res@size", 0), PROP_RES_SIZE);
  EXPECT_EQ(prop_index_of("no:such", 0), 0);
  EXPECT_EQ(prop_index_of("dc:titleXYZ", 8), PROP_DC_TITLE) << "only the prefix is compared";
}

TEST(PropNames, TableKeepsItsStableSlots) {
  EXPECT_EQ(PropNameTable[0], nullptr);
  EXPECT_STREQ(prop_name(35), "res");
  EXPECT_STREQ(prop_name(56), "res@lastTimePositionMostRecent");
  EXPECT_STREQ(prop_name(57), "res@videoProfile");
  EXPECT_STREQ(prop_name(90), "zentoria:subtitles");
  EXPECT_EQ(prop_name(91), nullptr);
}

TEST(PropKeys, SplitReadsInstanceAndName) {
  const char *name = nullptr;
  int instance = 0;
  prop_split_key("12/dc:title", &name, &instance);
  EXPECT_EQ(instance, 12);
  EXPECT_STREQ(name, "dc:title");
  prop_split_key("1x/dc:title", &name, &instance);
  EXPECT_EQ(instance, -1);
  prop_split_key("99999999999/dc:title", &name, &instance);
  EXPECT_EQ(instance, -1) << "no overflow";
  prop_split_key("dc:title", &name, &instance);
  EXPECT_EQ(instance, -1);
  EXPECT_STREQ(name, "dc:title");
}

TEST_F(PropListTest, EmptySlotsChangeNothing) {
  prop_add(pool, list, 0, "x");
  prop_set_at(pool, list, 0, 0, "x");
  EXPECT_EQ(prop_get(pool, list, 91, 0), nullptr);
  EXPECT_EQ(prop_delete(pool, list, 0, 1, 0), APR_EGENERAL);
  EXPECT_EQ(apr_hash_count(list), 0u);
  EXPECT_EQ(log.count("CommonProp", 3, INTERNAL_ERROR_TEXT), 4);
}

TEST_F(PropListTest, DumpShowsCountsAndValues) {
  prop_add(pool, list, PROP_DC_TITLE, "Song");
  std::string dump = prop_dump(pool, list);
  EXPECT_NE(dump.find("dc:title: 1\n"), std::string::npos);
  EXPECT_NE(dump.find("0/dc:title: Song\n"), std::string::npos);
}

}  // namespace

// Edges, ordinals, properties and the container flag.
#include "CommonUserMessage.h"
#include "DbFixture.h"


class GraphTest : public DbTest {
 protected:
  std::string ordinal(const std::string &parent, const std::string &child) {
    return value(("select ordinal from edge where parentObjectOid=" + parent + " and objectOid=" + child).c_str());
  }
  std::string prop(const std::string &oid, int slot) {
    const char *text = nullptr;
    EXPECT_EQ(msdb_get_prop(pool_, db_, oid.c_str(), slot, nullptr, 0, &text, nullptr), 0);
    return text == nullptr ? "(none)" : text;
  }
};

TEST_F(GraphTest, AppendedOrdinalsContinueAfterTheLargestOne) {
  std::string parent = create("1");
  std::string a = create(nullptr);
  std::string b = create(nullptr);
  std::string c = create(nullptr);
  ASSERT_EQ(msdb_add_edge(pool_, db_, parent.c_str(), a.c_str(), 1, "0000000009", nullptr), 0);
  ASSERT_EQ(msdb_add_edge(pool_, db_, parent.c_str(), b.c_str(), 1, "0000000003", nullptr), 0);
  ASSERT_EQ(msdb_add_edge(pool_, db_, parent.c_str(), c.c_str(), 1, nullptr, nullptr), 0);
  EXPECT_EQ(ordinal(parent, c), "0000000010");
  EXPECT_EQ(ordinal("1", parent), "0000000001");
  EXPECT_EQ(prop(parent, PROP_CHILD_COUNT), "3");
}

TEST_F(GraphTest, DuplicateEdgeWithCheckReturnsTheFirstAndChangesNothing) {
  std::string parent = create("1");
  std::string child = create(nullptr);
  const char *first = nullptr;
  const char *second = nullptr;
  ASSERT_EQ(msdb_add_edge(pool_, db_, parent.c_str(), child.c_str(), 1, nullptr, &first), 0);
  EXPECT_EQ(prop(parent, PROP_CHILD_COUNT), "1");
  std::string ancestors = value("select count(*) from ancestor");
  EXPECT_EQ(msdb_add_edge(pool_, db_, parent.c_str(), child.c_str(), 1, nullptr, &second), APR_EEXIST);
  EXPECT_STREQ(first, second);
  EXPECT_EQ(value("select count(*) from ancestor"), ancestors);
  EXPECT_EQ(prop(parent, PROP_CHILD_COUNT), "1");
  const char *found = nullptr;
  EXPECT_EQ(msdb_find_edge(pool_, db_, parent.c_str(), child.c_str(), &found), 0);
  EXPECT_EQ(msdb_find_edge(pool_, db_, child.c_str(), parent.c_str(), &found), APR_NOTFOUND);
}

TEST_F(GraphTest, SortedEdgesUseTheSortKeyOfTheChildsValues) {
  std::string album = create("1");
  std::string track = create(nullptr);
  ASSERT_EQ(msdb_add_prop(pool_, db_, nullptr, track.c_str(), PROP_DC_TITLE, nullptr, "The Wall", nullptr), 0);
  const char *names[] = {"dc:title"};
  const char *edge = nullptr;
  ASSERT_EQ(msdb_add_sorted_edge(pool_, db_, album.c_str(), track.c_str(), 1, names, 1, 1, nullptr, &edge), 0);
  EXPECT_EQ(ordinal(album, track), "wall");
  EXPECT_EQ(msdb_add_sorted_edge(pool_, db_, album.c_str(), track.c_str(), 1, names, 1, 1, nullptr, &edge), 0);
  ASSERT_EQ(msdb_set_slot(pool_, db_, track.c_str(), PROP_DC_TITLE, "Animals"), 0);
  ASSERT_EQ(msdb_resort_edge(pool_, db_, track.c_str(), edge, names, 1, 1, nullptr), 0);
  EXPECT_EQ(ordinal(album, track), "animals");
}

TEST_F(GraphTest, AddAndEnsureNeverDuplicateOrOverwrite) {
  std::string oid = create("1");
  const char *first = nullptr;
  const char *again = nullptr;
  ASSERT_EQ(msdb_add_prop(pool_, db_, nullptr, oid.c_str(), PROP_UPNP_GENRE, nullptr, "Rock", &first), 0);
  ASSERT_EQ(msdb_add_prop(pool_, db_, nullptr, oid.c_str(), PROP_UPNP_GENRE, nullptr, "Rock", &again), 0);
  EXPECT_STREQ(first, again);
  ASSERT_EQ(msdb_ensure_prop(pool_, db_, nullptr, oid.c_str(), PROP_UPNP_GENRE, nullptr, "Jazz", &again), 0);
  EXPECT_STREQ(first, again);
  EXPECT_EQ(prop(oid, PROP_UPNP_GENRE), "Rock");
}

TEST_F(GraphTest, SetPropOnATwoValuedPropertyFails) {
  std::string oid = create("1");
  ASSERT_EQ(msdb_add_prop(pool_, db_, nullptr, oid.c_str(), PROP_UPNP_ARTIST, nullptr, "A", nullptr), 0);
  ASSERT_EQ(msdb_add_prop(pool_, db_, nullptr, oid.c_str(), PROP_UPNP_ARTIST, nullptr, "B", nullptr), 0);
  EXPECT_EQ(msdb_set_slot(pool_, db_, oid.c_str(), PROP_UPNP_ARTIST, "C"), APR_EGENERAL);
  EXPECT_EQ(log_.count("MSDB", 3, INTERNAL_ERROR_TEXT), 1);
}

TEST_F(GraphTest, SetPropReplacesAndDeletesWithAttributes) {
  std::string oid = create("1");
  const char *res = nullptr;
  ASSERT_EQ(msdb_set_prop(pool_, db_, nullptr, oid.c_str(), PROP_RES, nullptr, "/a.mp3", &res), 0);
  ASSERT_EQ(msdb_add_prop(pool_, db_, res, oid.c_str(), PROP_RES_SIZE, nullptr, "12", nullptr), 0);
  const char *same = nullptr;
  ASSERT_EQ(msdb_set_prop(pool_, db_, nullptr, oid.c_str(), PROP_RES, nullptr, "/b.mp3", &same), 0);
  EXPECT_STREQ(res, same);
  EXPECT_EQ(prop(oid, PROP_RES), "/b.mp3");
  ASSERT_EQ(msdb_set_slot(pool_, db_, oid.c_str(), PROP_RES, nullptr), 0);
  EXPECT_EQ(value(("select count(*) from prop where objectOid=" + oid).c_str()), "0");
}

TEST_F(GraphTest, WritingTheClassMaintainsTheContainerFlag) {
  std::string oid = create("1");
  auto set_class = [&](const char *cls) {
    ASSERT_EQ(msdb_set_slot(pool_, db_, oid.c_str(), PROP_UPNP_CLASS, cls), 0);
  };
  set_class("object.container.album.musicAlbum");
  EXPECT_EQ(prop(oid, PROP_ZENTORIA_IS_CONTAINER), "1");
  set_class("object.item.audioItem");
  EXPECT_EQ(prop(oid, PROP_ZENTORIA_IS_CONTAINER), "0");
  set_class("something.else");
  EXPECT_EQ(prop(oid, PROP_ZENTORIA_IS_CONTAINER), "0");
  const char *class_row = nullptr;
  const char *ignored = nullptr;
  ASSERT_EQ(msdb_get_prop(pool_, db_, oid.c_str(), PROP_UPNP_CLASS, nullptr, 0, &ignored, &class_row), 0);
  ASSERT_EQ(msdb_set_prop_value_by_oid(pool_, db_, oid.c_str(), class_row, "OBJECT.CONTAINER"), 0);
  EXPECT_EQ(prop(oid, PROP_ZENTORIA_IS_CONTAINER), "1");
}

TEST_F(GraphTest, FindObjectByScope) {
  std::string folder = create("1");
  std::string inner = create(folder.c_str());
  std::string root = create(nullptr);
  for (const std::string &oid : {folder, inner, root}) {
    ASSERT_EQ(msdb_add_prop(pool_, db_, nullptr, oid.c_str(), PROP_DC_TITLE, nullptr, "Same", nullptr), 0);
  }
  const char *names[] = {"dc:title"};
  const char *values[] = {"Same"};
  const char *found = nullptr;
  ASSERT_EQ(msdb_find_object(pool_, db_, "-1", 1, 0, 1, names, values, 0, nullptr, &found, nullptr), 0);
  EXPECT_EQ(std::string(found), root);
  ASSERT_EQ(msdb_find_object(pool_, db_, "1", 0, 0, 1, names, values, 0, nullptr, &found, nullptr), 0);
  EXPECT_EQ(std::string(found), inner);
  ASSERT_EQ(msdb_find_object(pool_, db_, folder.c_str(), 1, 1, 1, names, values, 0, "5", &found, nullptr), 0);
  EXPECT_EQ(std::string(found), inner);
  ASSERT_EQ(msdb_find_object(pool_, db_, folder.c_str(), 1, 0, 1, names, values, 0, nullptr, &found, nullptr), 0);
  EXPECT_EQ(std::string(found), folder);
  const char *like[] = {"Sa%"};
  ASSERT_EQ(msdb_find_object(pool_, db_, "2", 0, 0, 1, names, like, 1, nullptr, &found, nullptr), 0);
  EXPECT_EQ(found, nullptr);
}

TEST_F(GraphTest, CopyAndAppendChildrenKeepOrderAndStopAtAnExistingEdge) {
  std::string from = create("1");
  std::string a = create(from.c_str());
  std::string b = create(from.c_str());
  std::string to = create("2");
  ASSERT_EQ(msdb_append_children(pool_, db_, from.c_str(), to.c_str()), 0);
  EXPECT_EQ(ordinal(to, a), "0000000001");
  EXPECT_EQ(ordinal(to, b), "0000000002");
  EXPECT_EQ(msdb_copy_children(pool_, db_, from.c_str(), to.c_str()), APR_EGENERAL);
  EXPECT_TRUE(violations().empty());
}

TEST_F(GraphTest, IdPaths) {
  const char *parent = nullptr;
  const char *oid = nullptr;
  msdb_id_split(pool_, "0/1/7", &parent, &oid);
  EXPECT_STREQ(parent, "0/1");
  EXPECT_STREQ(oid, "7");
  msdb_id_split(pool_, "7", &parent, &oid);
  EXPECT_STREQ(parent, "-1");
  EXPECT_STREQ(msdb_id_join(pool_, "-1", "7"), "7");
  EXPECT_STREQ(msdb_id_join(pool_, "3", "7"), "3/7");
  EXPECT_STREQ(msdb_id_up(pool_, "0/1/7", 2), "0");
  EXPECT_STREQ(msdb_id_up(pool_, "0/1/7", 5), "-1");
  EXPECT_TRUE(msdb_id_is_ancestor("0/1", "0/1/7", false));
  EXPECT_FALSE(msdb_id_is_ancestor("0/1", "0/17", false));
  EXPECT_FALSE(msdb_id_is_ancestor("0/1", "0/1", false));
  EXPECT_TRUE(msdb_id_is_ancestor("0/1", "0/1", true));
  EXPECT_TRUE(msdb_id_is_ancestor("-1", "5", false));
}

TEST_F(GraphTest, SortKeyCountsAMissingPropertyAsEmptyWithoutAnError) {
  std::string album = create("1");
  std::string photo = create(nullptr);
  std::string track = create(nullptr);
  ASSERT_EQ(msdb_add_prop(pool_, db_, nullptr, photo.c_str(), PROP_DC_TITLE, nullptr, "Beach", nullptr), 0);
  ASSERT_EQ(msdb_add_prop(pool_, db_, nullptr, track.c_str(), PROP_UPNP_ORIGINAL_TRACK_NUMBER, nullptr, "7", nullptr), 0);
  const char *number[] = {"upnp:originalTrackNumber"};
  ASSERT_EQ(msdb_add_sorted_edge(pool_, db_, album.c_str(), photo.c_str(), 1, number, 1, 1, nullptr, nullptr), 0);
  ASSERT_EQ(msdb_add_sorted_edge(pool_, db_, album.c_str(), track.c_str(), 1, number, 1, 1, nullptr, nullptr), 0);
  EXPECT_EQ(ordinal(album, photo), "");
  EXPECT_EQ(ordinal(album, track), "000000000007");
  // The missing value keeps its place in a key of several properties.
  const char *number_then_title[] = {"upnp:originalTrackNumber", "dc:title"};
  std::string folder = create("1");
  ASSERT_EQ(msdb_add_sorted_edge(pool_, db_, folder.c_str(), photo.c_str(), 1, number_then_title, 2, 1, nullptr, nullptr),
            0);
  EXPECT_EQ(ordinal(folder, photo), "beach");
  EXPECT_FALSE(log_.contains("Can't get value for property"));
  EXPECT_STREQ(msdb_sort_key(pool_, db_, track.c_str(), number_then_title, 2, 1, nullptr), "000000000007 ");
}

// An item's edges held for one insert get the oids, ordinals, ancestor rows
// and counts that edges written one by one get, in the order they were
// made, around an edge that cannot wait; a duplicate is found while held.
TEST_F(GraphTest, HeldEdgesAreWrittenAsSingleEdgesWouldBe) {
  std::string shapes[2];
  for (bool held : {false, true}) {
    ASSERT_EQ(msdb_medialib_begin(db_), 0);
    const std::string a = create("1");
    const std::string b = create(a.c_str());
    const std::string item = create(nullptr);
    if (held) msdb_edges_hold(db_, item.c_str());
    ASSERT_EQ(msdb_add_keyed_edge(pool_, db_, a.c_str(), item.c_str(), 1, "k1", nullptr), 0);
    ASSERT_EQ(msdb_add_keyed_edge(pool_, db_, b.c_str(), item.c_str(), 1, "k2", nullptr), 0);
    ASSERT_EQ(msdb_add_keyed_edge(pool_, db_, a.c_str(), item.c_str(), 1, "k3", nullptr), 0);
    const std::string c = create(b.c_str());
    ASSERT_EQ(msdb_add_keyed_edge(pool_, db_, c.c_str(), item.c_str(), 1, "k4", nullptr), 0);
    const char *found = nullptr;
    EXPECT_EQ(msdb_find_edge(pool_, db_, b.c_str(), item.c_str(), &found), 0);
    ASSERT_EQ(msdb_edges_write(pool_, db_), 0);
    ASSERT_EQ(msdb_medialib_commit(db_), 0);
    // The round's rows in oid order, each oid as its distance from the
    // round's first row or object.
    const std::string in = "(" + a + "," + b + "," + item + "," + c + ")";
    std::string &shape = shapes[held];
    for (const char *table : {"edge", "ancestor"}) {
      const std::string t = table;
      const std::string base = "(select min(oid) from " + t + " where objectOid in " + in + ")";
      // Rows to objects before the round (the root) show as -1.
      const std::string columns = t == "edge" ? "max(parentObjectOid - " + a + ", -1), iif(parentObjectOid < " + a +
                                                    ", '', ordinal)"
                                              : "max(ancestorObjectOid - " + a + ", -1)";
      for (const std::string &row : rows(("select oid - " + base + ", objectOid - " + a + ", " + columns + " from " + t +
                                          " where objectOid in " + in + " order by oid").c_str())) {
        shape += t + " " + row + "\n";
      }
    }
    shape += prop(a, PROP_CHILD_COUNT) + " " + prop(b, PROP_CHILD_COUNT) + "\n";
    EXPECT_EQ(value(("select count(*) from edge where objectOid=" + item).c_str()), "3");
  }
  EXPECT_EQ(shapes[1], shapes[0]);
  EXPECT_TRUE(violations().empty());
}

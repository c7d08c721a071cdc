// The integrity check finds each kind of damage.
#include "DbFixture.h"

TEST_F(DbTest, IntegrityCheckReportsEachKindOfDamage) {
  std::string folder = create("1", "5", "object.container.storageFolder");
  std::string item = create(folder.c_str(), "5", "object.item.audioItem");
  ASSERT_TRUE(violations().empty());
  exec(("delete from ancestor where ancestorObjectOid=0 and objectOid=" + item).c_str());
  exec(("insert into edge (oid, parentObjectOid, objectOid, ordinal) values (null, 999, " + item + ", 'x')").c_str());
  exec("insert into ancestor (oid, ancestorObjectOid, objectOid, path) values (null, 2, 3, '2/')");
  exec("insert into propValue (oid, value) values (null, '5')");
  exec(("update prop set valueOid=(select oid from propValue where value='5') where objectOid=" + folder +
        " and nameOid=(select oid from propName where name='@childCount')").c_str());
  exec("insert into objms (oid, objectOid, sourceOid) values (null, 998, 5)");
  exec("insert into prop (oid, parentOid, nameOid, objectOid, valueOid) values (null, null, 1, 997, 1)");
  exec(("update prop set valueOid=(select oid from propValue where value='0') where objectOid=" + folder +
        " and nameOid=(select oid from propName where name='zentoria:isContainer')").c_str());
  std::vector<std::string> found = violations();
  auto has = [&](const std::string &text) {
    for (const std::string &line : found) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  };
  EXPECT_TRUE(has("ancestor rows missing: 0 above " + item)) << ::testing::PrintToString(found);
  EXPECT_TRUE(has("ancestor rows not backed by edges: 2 above 3 by path 2/ (1 rows)")) << ::testing::PrintToString(found);
  EXPECT_TRUE(has("(999 -> " + item + ") points at a missing object"));
  EXPECT_TRUE(has("missing object 998"));
  EXPECT_TRUE(has("belongs to missing object 997"));
  EXPECT_TRUE(has("object " + folder + ": class object.container.storageFolder but zentoria:isContainer is 0"));
  EXPECT_TRUE(has("object " + folder + ": @childCount is 5 but it has 1 child edges"));
}

TEST_F(DbTest, IntegrityCheckFindsDuplicateInternedTexts) {
  // A database made elsewhere may lack the uniqueness rules.
  exec("create table propName2 as select * from propName");
  exec("drop table propName");
  exec("create table propName (oid INTEGER PRIMARY KEY, name TEXT)");
  exec("insert into propName select * from propName2");
  exec("insert into propName (oid, name) values (null, 'dc:title')");
  std::vector<std::string> found = violations();
  ASSERT_EQ(found.size(), 1u) << ::testing::PrintToString(found);
  EXPECT_EQ(found[0], "property name dc:title is interned 2 times");
}

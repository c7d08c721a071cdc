// The graph against an independent model: random creations, links (whole
// subtrees under second parents), deletions and mark-and-sweeps, after which
// objects, edges, child counts and every ancestor route must match what the
// model computes, and the integrity check must find nothing.
#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "DbFixture.h"

namespace {

class GraphModel {
 public:
  GraphModel() {
    for (int oid : {0, 1, 2, 3, 100, 200, 300, 400}) fixed_.insert(oid), objects_.insert(oid);
    for (int kind : {1, 2, 3}) edges_.push_back({0, kind});
  }

  void add_object(int oid, int parent) {
    objects_.insert(oid);
    if (parent >= 0) edges_.push_back({parent, oid});
  }
  void add_edge(int parent, int child) { edges_.push_back({parent, child}); }
  bool has_edge(int parent, int child) const {
    return std::find(edges_.begin(), edges_.end(), std::pair{parent, child}) != edges_.end();
  }
  void remove(const std::set<int> &victims) {
    for (int oid : victims) objects_.erase(oid);
    std::erase_if(edges_, [&](const auto &e) { return victims.count(e.first) || victims.count(e.second); });
  }

  // Descendants of oid, oid included.
  std::set<int> subtree(int oid) const {
    std::set<int> found{oid};
    std::vector<int> todo{oid};
    while (!todo.empty()) {
      int next = todo.back();
      todo.pop_back();
      for (const auto &[parent, child] : edges_) {
        if (parent == next && found.insert(child).second) todo.push_back(child);
      }
    }
    return found;
  }

  // Every route as "ancestor|object|path", sorted.
  std::vector<std::string> closure() const {
    std::vector<std::string> out;
    for (int oid : objects_) {
      for (const auto &[ancestor, path] : routes(oid)) {
        out.push_back(std::to_string(ancestor) + "|" + std::to_string(oid) + "|" + path);
      }
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  std::vector<std::string> child_counts() const {
    std::map<int, int> counts;
    for (const auto &edge : edges_) ++counts[edge.first];
    std::vector<std::string> out;
    for (const auto &[oid, count] : counts) out.push_back(std::to_string(oid) + "|" + std::to_string(count));
    std::sort(out.begin(), out.end());
    return out;
  }

  std::vector<std::string> edge_rows() const {
    std::vector<std::string> out;
    for (const auto &[parent, child] : edges_) out.push_back(std::to_string(parent) + "|" + std::to_string(child));
    std::sort(out.begin(), out.end());
    return out;
  }

  const std::set<int> &objects() const { return objects_; }
  bool is_fixed(int oid) const { return fixed_.count(oid) != 0; }

 private:
  std::vector<std::pair<int, std::string>> routes(int oid) const {
    std::vector<std::pair<int, std::string>> out;
    for (const auto &[parent, child] : edges_) {
      if (child != oid) continue;
      std::string step = std::to_string(parent) + "/";
      out.push_back({parent, step});
      for (const auto &[ancestor, path] : routes(parent)) out.push_back({ancestor, path + step});
    }
    return out;
  }

  std::set<int> fixed_;
  std::set<int> objects_;
  std::vector<std::pair<int, int>> edges_;
};

class GraphModelTest : public DbTest {
 protected:
  int pick(std::mt19937 &random, bool movable_only) {
    std::vector<int> choices;
    for (int oid : model_.objects()) {
      if (!movable_only || !model_.is_fixed(oid)) choices.push_back(oid);
    }
    if (choices.empty()) return -1;
    return choices[std::uniform_int_distribution<std::size_t>(0, choices.size() - 1)(random)];
  }

  void create_step(std::mt19937 &random) {
    int parent = random() % 5 == 0 ? -1 : pick(random, false);
    std::string oid = create(parent < 0 ? nullptr : std::to_string(parent).c_str());
    model_.add_object(std::stoi(oid), parent);
  }

  void link_step(std::mt19937 &random) {
    int parent = pick(random, false);
    int child = pick(random, true);
    if (child < 0 || model_.subtree(child).count(parent)) return;
    int expected = model_.has_edge(parent, child) ? APR_EEXIST : 0;
    EXPECT_EQ(msdb_add_edge(pool_, db_, std::to_string(parent).c_str(), std::to_string(child).c_str(), 1, nullptr,
                            nullptr),
              expected);
    if (expected == 0) model_.add_edge(parent, child);
  }

  void delete_step(std::mt19937 &random) {
    std::set<int> victims;
    for (int i = 0; i < 2; ++i) {
      int oid = pick(random, true);
      if (oid >= 0) victims.insert(oid);
    }
    if (victims.empty()) return;
    std::string list;
    for (int oid : victims) list += (list.empty() ? "" : ",") + std::to_string(oid);
    std::string select = "select oid as deleteoid from object where oid in (" + list + ")";
    ASSERT_EQ(msdb_delete_objects(pool_, db_, select.c_str(), nullptr, nullptr), 0);
    model_.remove(victims);
  }

  // Marks a subtree for deletion but keeps one object of it.
  void sweep_step(std::mt19937 &random) {
    int root = pick(random, true);
    if (root < 0) return;
    std::set<int> victims = model_.subtree(root);
    std::vector<int> members(victims.begin(), victims.end());
    int kept = members[random() % members.size()];
    ASSERT_EQ(msdb_create_marks(pool_, db_), 0);
    ASSERT_EQ(msdb_mark_subtree(pool_, db_, std::to_string(root).c_str(), 1), 0);
    ASSERT_EQ(msdb_mark_object(pool_, db_, std::to_string(kept).c_str(), 2), 0);
    EXPECT_EQ(msdb_is_marked(pool_, db_, std::to_string(kept).c_str()), 1);
    int count = 0;
    ASSERT_EQ(msdb_sweep_marked(pool_, db_, &count, nullptr, nullptr), 0);
    ASSERT_EQ(msdb_drop_marks(pool_, db_), 0);
    victims.erase(kept);
    EXPECT_EQ(count, static_cast<int>(victims.size()));
    model_.remove(victims);
  }

  void expect_matches_model() {
    std::vector<std::string> ancestors = rows("select ancestorObjectOid, objectOid, path from ancestor");
    std::sort(ancestors.begin(), ancestors.end());
    EXPECT_EQ(ancestors, model_.closure());
    std::vector<std::string> edges = rows("select parentObjectOid, objectOid from edge");
    std::sort(edges.begin(), edges.end());
    EXPECT_EQ(edges, model_.edge_rows());
    std::vector<std::string> counts =
        rows("select prop.objectOid, propValue.value from prop join propValue on valueOid=propValue.oid where "
             "nameOid=(select oid from propName where name='@childCount') and propValue.value != '0'");
    std::sort(counts.begin(), counts.end());
    EXPECT_EQ(counts, model_.child_counts());
    EXPECT_EQ(value("select count(*) from object"), std::to_string(model_.objects().size()));
    EXPECT_EQ(violations(), std::vector<std::string>{});
  }

  GraphModel model_;
};

}  // namespace

TEST_F(GraphModelTest, RandomEditsKeepClosureCountsAndIntegrity) {
  for (unsigned seed : {1u, 7u, 42u}) {
    std::mt19937 random(seed);
    for (int step = 0; step < 120; ++step) {
      switch (random() % 10) {
        case 0: case 1: case 2: case 3: create_step(random); break;
        case 4: case 5: case 6: link_step(random); break;
        case 7: case 8: delete_step(random); break;
        default: sweep_step(random); break;
      }
      if (HasFatalFailure()) return;
      if (step % 30 == 29) expect_matches_model();
    }
    expect_matches_model();
  }
}

TEST_F(GraphModelTest, LinkingASubtreeUnderASecondParentAddsRoutesThroughIt) {
  std::string a = create("1");
  std::string b = create(a.c_str());
  std::string c = create(b.c_str());
  std::string other = create("2");
  ASSERT_EQ(msdb_add_edge(pool_, db_, other.c_str(), a.c_str(), 1, nullptr, nullptr), 0);
  std::string expected = "0|" + c + "|0/2/" + other + "/" + a + "/" + b + "/";
  EXPECT_EQ(value(("select ancestorObjectOid, objectOid, path from ancestor where objectOid=" + c +
                   " and path like '0/2/%'").c_str()),
            expected);
  EXPECT_EQ(value(("select count(*) from ancestor where objectOid=" + c).c_str()), "7");
  EXPECT_TRUE(violations().empty());
}

namespace {

// The rows the closure statement adds for an edge from parent to a leaf, in
// the order it adds them: one per row above the parent and one for the
// parent, by ancestor and then path.
std::vector<std::pair<long, std::string>> expected_leaf_rows(const std::vector<std::string> &above,
                                                              const std::string &parent) {
  std::vector<std::pair<long, std::string>> expected{{std::stol(parent), parent + "/"}};
  for (const std::string &row : above) {
    const std::size_t bar = row.find('|');
    expected.push_back({std::stol(row.substr(0, bar)), row.substr(bar + 1) + parent + "/"});
  }
  std::sort(expected.begin(), expected.end());
  return expected;
}

}  // namespace

// Inside a transaction a leaf's rows are made from the parent's remembered
// rows instead of the statement: they must be the statement's, in its order
// (their oids number them), also after subtrees were linked under second
// parents, which changes the rows of containers remembered earlier, and
// past the 128 objects the memory keeps whole records of.
TEST_F(GraphModelTest, LeavesFiledInATransactionGetTheClosureStatementsRowsInItsOrder) {
  ASSERT_EQ(msdb_medialib_begin(db_), 0);
  std::mt19937 random(3);
  std::vector<std::string> containers{"1", "2", "3"};
  for (int step = 0; step < 200; ++step) {
    const std::string parent = containers[random() % containers.size()];
    if (step % 7 == 6) {
      const std::string other = containers[random() % containers.size()];
      if (other != parent && value(("select count(*) from ancestor where ancestorObjectOid=" + other +
                                    " and objectOid=" + parent).c_str()) == "0" &&
          value(("select count(*) from edge where parentObjectOid=" + parent + " and objectOid=" + other).c_str()) ==
              "0") {
        ASSERT_EQ(msdb_add_edge(pool_, db_, parent.c_str(), other.c_str(), 1, nullptr, nullptr), 0);
      }
      continue;
    }
    const std::vector<std::string> above =
        rows(("select ancestorObjectOid, path from ancestor where objectOid=" + parent).c_str());
    const std::string last = value("select max(oid) from ancestor");
    const std::string leaf = create(parent.c_str());
    std::vector<std::pair<long, std::string>> made;
    for (const std::string &row :
         rows(("select ancestorObjectOid, path from ancestor where oid > " + last + " order by oid").c_str())) {
      const std::size_t bar = row.find('|');
      made.push_back({std::stol(row.substr(0, bar)), row.substr(bar + 1)});
    }
    EXPECT_EQ(made, expected_leaf_rows(above, parent)) << "leaf " << leaf << " under " << parent;
    if (random() % 3 == 0) containers.push_back(leaf);
  }
  ASSERT_EQ(msdb_medialib_commit(db_), 0);
  EXPECT_EQ(violations(), std::vector<std::string>{});
}

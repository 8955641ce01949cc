// The record-key filter by itself: what an entry selects, and that a failed
// selection keeps the one before.
#include "tl_layouts.h"

#include "tl_testutil.h"

namespace {

struct LayoutsTest : testing::Test {
  void TearDown() override { tl_layouts_clear(); }
};

int selected_count() {
  int n = 0;
  for (int r = 0; r < bdtr_count; r++) n += tl_layout_selected(r);
  return n;
}

TEST_F(LayoutsTest, EntriesSelectWholeKeysAndPrefixes) {
  EXPECT_FALSE(tl_layouts_active());
  EXPECT_EQ(bdtr_count, selected_count());
  EXPECT_TRUE(tl_layouts_pass("garbage"));

  std::string bad;
  ASSERT_TRUE(tl_layouts_select("105005.00", bad));
  EXPECT_EQ(1, selected_count());
  EXPECT_TRUE(tl_layout_selected(tl_test_layout("10500500")));
  EXPECT_TRUE(tl_layouts_pass(tl_test_rec("10500500").c_str()));
  EXPECT_FALSE(tl_layouts_pass(tl_test_rec("10500501").c_str()));  // no such layout
  EXPECT_FALSE(tl_layouts_pass(tl_test_rec("10010100").c_str()));
  EXPECT_FALSE(tl_layout_selected(-1));

  // Prefixes: every layout whose key starts so, with or without the point.
  int classes[10] = {};
  for (int r = 0; r < bdtr_count; r++) classes[bdt_key_of(r).text[0] - '0']++;
  ASSERT_TRUE(tl_layouts_select("4,30", bad));
  int thirty = 0;
  for (int r = 0; r < bdtr_count; r++) thirty += std::strncmp(bdt_key_of(r).text, "30", 2) == 0;
  EXPECT_EQ(classes[4] + thirty, selected_count());
  ASSERT_TRUE(tl_layouts_select("100101.", bad));
  EXPECT_EQ(2, selected_count());  // 100101.00 and 100101.01
}

TEST_F(LayoutsTest, AnEntryMatchingNoKeyKeepsTheSelectionBefore) {
  std::string bad;
  ASSERT_TRUE(tl_layouts_select("40", bad));
  const int before = selected_count();
  for (const char* list : {"40,2", "105005.000", "40,", ",40", "", "1x", "4 0"}) {
    SCOPED_TRACE(list);
    EXPECT_FALSE(tl_layouts_select(list, bad));
    EXPECT_EQ(before, selected_count());
  }
  tl_layouts_select("40,2", bad);
  EXPECT_EQ("2", bad);
  tl_layouts_select("40,,10", bad);
  EXPECT_EQ("", bad);
}

}  // namespace

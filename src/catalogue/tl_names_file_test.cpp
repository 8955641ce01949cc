// The names file against the catalogue itself: what applying changes (and
// what a refused file leaves alone), the caches made from names, and the
// start texts of a repeated group.
#include "tl_names_file.h"

#include "tl_names.h"
#include "tl_testutil.h"

namespace {

struct NamesFileTest : testing::Test {
  void SetUp() override {
    tl_test_names();
    tl_names_template(shipped);
  }
  // Every test leaves the names as shipped: the template given back.
  void TearDown() override {
    std::string errors;
    EXPECT_TRUE(tl_apply_names_text("shipped", shipped, errors)) << errors;
    std::string now;
    tl_names_template(now);
    EXPECT_EQ(shipped, now);
  }
  std::string shipped;
};

const bdt_fields_tag* field_at(int rindex, int start, int nth = 1) {
  const bdt_fields_tag* list = rindex < 0 ? bdtf_common : bdtr_list[rindex].fields;
  for (const bdt_fields_tag* f = list; !bdt_is_end(*f); f++) {
    if (f->field_offset + 1 == start && f->display_csv == 1 && --nth == 0) return f;
  }
  return nullptr;
}

TEST_F(NamesFileTest, ApplyingReplacesNamesAndTellsTheCaches) {
  const int r = tl_test_layout("10370800");
  ASSERT_GE(r, 0);
  EXPECT_EQ("131", tl_field_start_text(bdtr_list[r].fields, static_cast<size_t>(field_at(r, 131) - bdtr_list[r].fields)));
  EXPECT_EQ("131/2", tl_field_start_text(bdtr_list[r].fields, static_cast<size_t>(field_at(r, 131, 2) - bdtr_list[r].fields)));

  const unsigned generation = tl_name_texts::names_generation();
  std::string errors;
  ASSERT_TRUE(tl_apply_names_text("n.csv",
                                  "record_key,start,name\n103708.00,131/2,Second flag\n103708.00,,Group record\n"
                                  "common,49,Account\n",
                                  errors))
      << errors;
  EXPECT_EQ("", errors);
  EXPECT_NE(generation, tl_name_texts::names_generation());
  EXPECT_STREQ("Second flag", field_at(r, 131, 2)->field_name);
  EXPECT_STREQ("Pos 131-131 text", field_at(r, 131)->field_name);
  EXPECT_STREQ("Group record", bdtr_list[r].record_name);
  EXPECT_STREQ("Account", field_at(-1, 49)->field_name);

  // A field-name text cache made before sees the new names.
  tl_name_texts texts([](const bdt_fields_tag& f, std::string& out) { out += f.field_name; });
  const tl_span* common = texts.list(-1);
  EXPECT_EQ("Record identifier pos 001-006", std::string(common[0].p, common[0].n));
  ASSERT_TRUE(tl_apply_names_text("n.csv", "record_key,start,name\ncommon,1,Record ID\n", errors));
  common = texts.list(-1);
  EXPECT_EQ("Record ID", std::string(common[0].p, common[0].n));
}

TEST_F(NamesFileTest, ARefusedFileChangesNothing) {
  const int r = tl_test_layout("10010101");
  const char* before = field_at(r, 62)->field_name;
  const unsigned generation = tl_name_texts::names_generation();
  std::string errors;
  // Good rows first, a bad one last: none is applied.
  EXPECT_FALSE(tl_apply_names_text("n.csv", "record_key,start,name\n100101.01,62,Carrier\n100101.01,63,Bad\n", errors));
  EXPECT_EQ("ERROR: n.csv:3: no field of 100101.01 starts at position 63\n", errors);
  EXPECT_EQ(before, field_at(r, 62)->field_name);
  EXPECT_EQ(generation, tl_name_texts::names_generation());
}

TEST_F(NamesFileTest, NamesMayBeSwappedButNotShared) {
  const int r = tl_test_layout("10010101");
  std::string errors;
  ASSERT_TRUE(tl_apply_names_text("n.csv", "record_key,start,name\n100101.01,62,Pos 077-089 text\n100101.01,77,Pos 062-076 text\n", errors))
      << errors;
  EXPECT_STREQ("Pos 077-089 text", field_at(r, 62)->field_name);
  EXPECT_STREQ("Pos 062-076 text", field_at(r, 77)->field_name);
  // The same name in two lists is fine; twice in one list is not, neither
  // against a built-in name.
  EXPECT_TRUE(tl_apply_names_text("n.csv", "record_key,start,name\n100101.01,62,Same\n100101.00,62,Same\n", errors)) << errors;
  EXPECT_FALSE(tl_apply_names_text("n.csv", "record_key,start,name\n100101.01,90,Same\n", errors));
  EXPECT_NE(std::string::npos, errors.find("n.csv:2: name \"Same\" is shown twice in 100101.01 (the fields starting at 62 and 90)"))
      << errors;
}

}  // namespace

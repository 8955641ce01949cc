// The rules file of --balance against the catalogue: what a good file gives,
// and every fault named on its line with nothing given.
#include "tl_rules.h"

#include "tl_testutil.h"

namespace {

const char kHead[] = "rule,total_key,total_start,detail_key,detail_start,scope\n";

struct RulesTest : testing::Test {
  void SetUp() override { tl_test_names(); }
  bool parse(const std::string& body) {
    rules.clear();
    errors.clear();
    return tl_parse_rules("r.csv", body, rules, errors);
  }
  std::vector<tl_rule> rules;
  std::string errors;
};

TEST_F(RulesTest, RowsOfOneRuleShareItsTotalAndAddTheirDetails) {
  ASSERT_TRUE(parse(std::string("\xEF\xBB\xBF") + kHead +
                    "run,102790.00,136,102705.01,68,section\r\n"
                    "\n"
                    "\"bill, all\",103090.00,150,102705.01,68,bill\r\n"
                    "run,102790.00,136,102705.01,124,section\r\n"
                    "whole,103590.00,150,102705.01,68,file"))
      << errors;
  EXPECT_EQ(errors, "");
  ASSERT_EQ(rules.size(), 3u);
  const tl_rule& run = rules[0];
  EXPECT_EQ(run.name, "run");
  EXPECT_EQ(run.scope, tl_scope::section);
  EXPECT_EQ(run.line, 2);
  EXPECT_EQ(run.total.rindex, tl_test_layout("10279000"));
  EXPECT_EQ(run.total.off, 135);
  EXPECT_EQ(run.total.len, 11);
  EXPECT_EQ(run.total.decimals, 2);
  ASSERT_EQ(run.details.size(), 2u);
  EXPECT_EQ(run.details[0].start, 68);
  EXPECT_EQ(run.details[1].start, 124);
  EXPECT_EQ(run.details[1].decimals, 0);
  EXPECT_EQ(run.decimals, 2) << "the sums of a rule are in the units of its most decimals";
  EXPECT_STREQ(run.details[0].name, "Pos 068-078 amount 2 decimals");
  EXPECT_EQ(rules[1].name, "bill, all");
  EXPECT_EQ(rules[1].scope, tl_scope::bill);
  EXPECT_EQ(rules[2].scope, tl_scope::file);
  EXPECT_EQ(rules[2].line, 6);
}

TEST_F(RulesTest, EveryFaultIsNamedOnItsLineAndNothingIsGiven) {
  EXPECT_FALSE(parse(std::string(kHead) +
                     "a,102790.00,136,102705.01,68,section\n"      // 2: good
                     "b,999999.99,136,102705.01,68,section\n"      // 3: unknown total key
                     "c,102790.00,137,102705.01,68,section\n"      // 4: nothing starts there
                     "d,102790.00,136,102705.01,1x,section\n"      // 5: bad start
                     "e,102790.00,136,102705.01,68,month\n"        // 6: bad scope
                     "f,102790.00,136,102705.01\n"                 // 7: too few cells
                     "g,102790.00,\"136,102705.01,68,section\n"    // 8: open quote
                     "a,102790.00,147,102705.01,79,section\n"      // 9: a second total field
                     "a,102790.00,136,102705.01,79,bill\n"         // 10: a second scope
                     "a,102790.00,136,102705.01,68,section\n"      // 11: the same detail again
                     ",102790.00,136,102705.01,68,section\n"       // 12: no rule name
                     "h,103708.00,131/2,102705.01,68,section\n"    // 13: a text field
                     "i,100101.00,77,102705.01,68,section\n"       // 14: a filler
                     "j,102790.00,136,102705.01,68/2,section\n"    // 15: one field starts there
                     "k,102790.00,136,102705.01,68,sec\001tion\n"  // 16: a control byte, made visible
                     ));
  EXPECT_TRUE(rules.empty());
  EXPECT_EQ(errors,
            "ERROR: r.csv:3: unknown total record key \"999999.99\"\n"
            "ERROR: r.csv:4: total: no field of 102790.00 starts at position 137\n"
            "ERROR: r.csv:5: bad detail start \"1x\" (a 1-based position, or POSITION/N for the N-th field starting there)\n"
            "ERROR: r.csv:6: bad scope \"month\" (section, bill or file)\n"
            "ERROR: r.csv:7: malformed row: 4 cells, expected 6 (rule,total_key,total_start,detail_key,detail_start,scope)\n"
            "ERROR: r.csv:8: malformed row: a quote that does not open or close a cell\n"
            "ERROR: r.csv:9: rule \"a\" has its total field on line 2 already (102790.00 136)\n"
            "ERROR: r.csv:10: rule \"a\" has its scope on line 2 already\n"
            "ERROR: r.csv:11: rule \"a\" adds 102705.01 68 already\n"
            "ERROR: r.csv:12: bad rule name \"\" (1 to 64 characters, no control characters, no space at either end)\n"
            "ERROR: r.csv:13: total: the field of 103708.00 at 131/2 is text, not an amount\n"
            "ERROR: r.csv:14: total: position 77 of 100101.00 is a filler, which has no name\n"
            "ERROR: r.csv:15: detail: only 1 field(s) of 102705.01 start at position 68, not 2\n"
            "ERROR: r.csv:16: bad scope \"sec\\x01tion\" (section, bill or file)\n");
}

TEST_F(RulesTest, AFileThatIsNoRulesFile) {
  EXPECT_FALSE(parse(""));
  EXPECT_EQ(errors, "ERROR: r.csv: empty file, expected the header row "
                    "\"rule,total_key,total_start,detail_key,detail_start,scope\"\n");
  EXPECT_FALSE(parse("record_key,start,name\ncommon,1,x\n"));
  EXPECT_EQ(errors, "ERROR: r.csv:1: expected the header row "
                    "\"rule,total_key,total_start,detail_key,detail_start,scope\"\n");
  EXPECT_FALSE(parse(std::string(kHead) + "\n\n"));
  EXPECT_EQ(errors, "ERROR: r.csv: no rules\n");
  EXPECT_FALSE(parse(std::string(kHead) + std::string("a,102790.00,136,102705.01,68,section\0x\n", 39)));
  EXPECT_EQ(errors, "ERROR: r.csv:2: malformed row: it holds a NUL byte\n");
}

TEST_F(RulesTest, AFileThatCannotBeRead) {
  EXPECT_FALSE(tl_load_rules("/nonexistent/rules.csv", rules, errors));
  EXPECT_EQ(errors, "ERROR: /nonexistent/rules.csv: cannot open the rules file: No such file or directory\n");
  errors.clear();
  EXPECT_FALSE(tl_load_rules("/", rules, errors));
  EXPECT_EQ(errors, "ERROR: /: cannot read the rules file: Is a directory\n");
}

}  // namespace

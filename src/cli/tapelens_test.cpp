// Option parsing: what the end-to-end cases cannot see (settings after the
// parse, precedence of help and version, output files left open).
#include "tapelens.h"
#include "tl_testutil.h"

namespace {

// Parses a command line given as words.
void parse(std::vector<std::string> words, tl_opts_result want = TL_OPTS_RUN) {
  words.insert(words.begin(), "tapelens");
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);
  EXPECT_EQ(want, tl_parse_options(static_cast<int>(words.size()), argv.data()));
}

class OptionsTest : public TlScratchDirTest {
 protected:
  void TearDown() override {
    if (outfile != nullptr && outfile != stdout) fclose(outfile);
    outfile = stdout;
    TlScratchDirTest::TearDown();
  }
};

TEST_F(OptionsTest, SettingsAfterTheParse) {
  const struct {
    std::vector<std::string> words;
    tl_opts_result result;
    std::vector<std::pair<int*, int>> settings;
  } cases[] = {
      // Each parse starts from the defaults; -B, -N and -u are accepted and inert.
      {{"-nTrCbqD3", "-S", "-B", "-N", "-u", "-d", "f"},
       TL_OPTS_RUN,
       {{&print_recno, 1}, {&print_types, 1}, {&print_raw, 1}, {&print_common, 1}, {&bodyonly_flag, 1},
        {&print_header, 0}, {&database_flag, 1}, {&display_csr, 0}, {&print_summarydetail, 1}, {&bill_date_flag, 1},
        {&billing_number_flag, 1}, {&uppercase_flag, 1}, {&debug_flag, 1}}},
      {{"f"},
       TL_OPTS_RUN,
       {{&output_format, 0}, {&database_flag, 0}, {&print_recno, 0}, {&print_types, 0}, {&print_raw, 0},
        {&print_common, 0}, {&bodyonly_flag, 0}, {&print_header, 1}, {&print_trailer, 1}, {&display_bill, 1},
        {&display_detail, 1}, {&display_csr, 1}, {&print_summary, 0}, {&print_summarydetail, 0},
        {&bill_date_flag, 0}, {&billing_number_flag, 0}, {&uppercase_flag, 0}, {&debug_flag, 0},
        {&tl_input_failures, 0}, {&tl_output_failed, 0}}},
      {{"-S", "-s", "f"}, TL_OPTS_RUN, {{&print_summary, 1}, {&print_summarydetail, 0}}},
      {{"--summaryd", "f"}, TL_OPTS_RUN, {{&print_summarydetail, 1}}},
      {{"--csr", "f"}, TL_OPTS_RUN, {{&display_csr, 1}, {&display_bill, 0}}},  // a prefix of csrrecords
      // Options before an invalid one have acted, later ones have not; help
      // and version end the parse where they stand.
      {{"-c", "-O", "-x", "f"}, TL_OPTS_USAGE_ERROR, {{&output_format, 1}}},
      {{"-n", "-h", "-z"}, TL_OPTS_HELP, {{&print_recno, 1}}},
      {{"-z", "-v"}, TL_OPTS_USAGE_ERROR, {}},
      {{"f", "--version", "-h"}, TL_OPTS_VERSION, {}},
  };
  tl_input_failures = tl_output_failed = 7;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.words));
    tl_test_stderr([&] { parse(c.words, c.result); });
    for (size_t i = 0; i < c.settings.size(); i++) EXPECT_EQ(c.settings[i].second, *c.settings[i].first) << i;
  }
}

// Each -o creates its file at once; only the last stays open.
TEST_F(OptionsTest, RepeatedOutputOptionKeepsOnlyTheLastFileOpen) {
  auto open_fds = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); };
  const auto before = open_fds();
  parse({"-o", "a", "-ob", "--output=c", "f"});
  EXPECT_EQ(before + 1, open_fds());
  EXPECT_STREQ("c", outFileName);
  EXPECT_NE(stdout, outfile);
  for (const char* name : {"a", "b", "c"}) EXPECT_EQ(0, access(name, F_OK)) << name;
}

}  // namespace

namespace {

// The long options of the last release: every prefix of two letters or more
// that picked one of them still does, whatever options came since.
TEST_F(OptionsTest, EarlierUniquePrefixesStayUnique) {
  const std::vector<std::string> earlier = {
      "anon", "bodyonly", "bill_date", "csv", "common", "debug", "database", "help", "recno", "billing_number",
      "output", "noheader", "raw", "summary", "summarydetail", "text", "types", "version", "html", "xml",
      "billrecords", "detailrecords", "csrrecords"};
  int checked = 0;
  for (const std::string& name : earlier) {
    for (size_t n = 2; n <= name.size(); n++) {
      const std::string prefix = name.substr(0, n);
      int matches = 0;
      for (const std::string& other : earlier) matches += other.compare(0, n, prefix) == 0;
      if (matches != 1 && prefix != name) continue;
      SCOPED_TRACE(prefix);
      const tl_opts_result want = name == "help" ? TL_OPTS_HELP : name == "version" ? TL_OPTS_VERSION : TL_OPTS_RUN;
      std::string err = tl_test_stderr([&] { parse({"--" + prefix + (name == "output" ? "=o.txt" : ""), "f"}, want); });
      EXPECT_EQ(std::string::npos, err.find("option")) << err;  // getopt's "ambiguous" or "unrecognized"
      checked++;
    }
  }
  EXPECT_GT(checked, 100);
}

}  // namespace

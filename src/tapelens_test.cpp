#include "tapelens.h"

#include <gtest/gtest.h>
#include <dirent.h>
#include <getopt.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tl_globals.h"

namespace {

// Parses a command line given as words; returns the words left as files.
std::vector<std::string> parse(std::vector<std::string> words, tl_opts_result want = TL_OPTS_RUN) {
  words.insert(words.begin(), "tapelens");
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);
  EXPECT_EQ(want, tl_parse_options(static_cast<int>(words.size()), argv.data()));
  std::vector<std::string> files;
  for (int i = optind; i < static_cast<int>(words.size()); i++) files.push_back(argv[i]);
  return files;
}

class OptionsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (outfile != nullptr && outfile != stdout) fclose(outfile);
    outfile = stdout;
  }
};

TEST_F(OptionsTest, DefaultsWithOnlyAFile) {
  EXPECT_EQ(std::vector<std::string>{"a.bdt"}, parse({"a.bdt"}));
  EXPECT_EQ(0, output_format);
  EXPECT_EQ(1, print_header);
  EXPECT_EQ(1, print_trailer);
  EXPECT_EQ(1, display_bill);
  EXPECT_EQ(1, display_detail);
  EXPECT_EQ(1, display_csr);
  EXPECT_EQ(0, print_summary);
  EXPECT_EQ(stdout, outfile);
}

TEST_F(OptionsTest, LaterOptionsOverrideEarlierOnes) {
  parse({"-D", "-c", "f"});
  EXPECT_EQ(1, output_format);
  EXPECT_EQ(1, database_flag);
  EXPECT_EQ(0, print_header);
  EXPECT_EQ(0, print_trailer);

  parse({"-D", "-t", "f"});
  EXPECT_EQ(0, output_format);
  EXPECT_EQ(0, print_header);

  parse({"-D", "-w", "f"});
  EXPECT_EQ(2, output_format);

  parse({"-3", "-1", "f"});
  EXPECT_EQ(1, display_bill);
  EXPECT_EQ(0, display_detail);
  EXPECT_EQ(0, display_csr);

  parse({"-S", "-s", "f"});
  EXPECT_EQ(1, print_summary);
  EXPECT_EQ(0, print_summarydetail);

  parse({"-a", "-c", "f"});
  EXPECT_EQ(1, output_format);
  parse({"-c", "-a", "f"});
  EXPECT_EQ(9, output_format);
}

TEST_F(OptionsTest, SettingsAreResetForEachRun) {
  parse({"-n", "-T", "-r", "-C", "-b", "-q", "f"});
  EXPECT_EQ(1, print_recno);
  EXPECT_EQ(1, bodyonly_flag);
  parse({"f"});
  EXPECT_EQ(0, print_recno);
  EXPECT_EQ(0, print_types);
  EXPECT_EQ(0, print_raw);
  EXPECT_EQ(0, print_common);
  EXPECT_EQ(0, bodyonly_flag);
  EXPECT_EQ(1, print_header);
}

TEST_F(OptionsTest, GnuConventions) {
  EXPECT_EQ((std::vector<std::string>{"a.bdt", "b.bdt"}), parse({"a.bdt", "-x", "b.bdt"}));
  EXPECT_EQ(3, output_format);
  EXPECT_EQ((std::vector<std::string>{"-x", "c"}), parse({"-c", "--", "-x", "c"}));
  EXPECT_EQ(1, output_format);
  parse({"-nTr", "f"});
  EXPECT_EQ(1, print_recno);
  EXPECT_EQ(1, print_types);
  EXPECT_EQ(1, print_raw);
  parse({"--summary", "f"});
  EXPECT_EQ(1, print_summary);
  EXPECT_EQ(0, print_summarydetail);
  parse({"--summaryd", "f"});
  EXPECT_EQ(1, print_summarydetail);
  parse({"--csr", "f"});  // unambiguous prefix of csrrecords
  EXPECT_EQ(1, display_csr);
  EXPECT_EQ(0, display_bill);
}

TEST_F(OptionsTest, AcceptedButInertOptions) {
  parse({"-B", "-N", "-u", "f"});
  EXPECT_EQ(1, bill_date_flag);
  EXPECT_EQ(1, billing_number_flag);
  EXPECT_EQ(1, uppercase_flag);
  EXPECT_EQ(0, output_format);
}

TEST_F(OptionsTest, DebugAnnouncesOnlyLaterOptions) {
  testing::internal::CaptureStderr();
  parse({"-c", "-d", "-n", "-4", "f"});
  EXPECT_EQ("DEBUG: is ON\nDEBUG: print record numbers\nDEBUG: Display CSR only is ON\n",
            testing::internal::GetCapturedStderr());
}

TEST_F(OptionsTest, OutputFileOpensAtOnceAndFallsBack) {
  char tmpl[] = "/tmp/tl_opt_test.XXXXXX";
  std::string dir = mkdtemp(tmpl);
  std::string name = dir + "/out.txt";
  parse({"-o" + name, "f"});
  EXPECT_NE(stdout, outfile);
  EXPECT_STREQ(name.c_str(), outFileName);
  EXPECT_EQ(0, access(name.c_str(), F_OK));
  fclose(outfile);

  parse({"--output", name + "2", "f"});
  EXPECT_EQ(0, access((name + "2").c_str(), F_OK));
  fclose(outfile);

  std::string bad = dir + "/no/such/dir/out";
  testing::internal::CaptureStderr();
  parse({"-o", bad, "f"});
  EXPECT_EQ("ERROR: Cannot create/open the output file [" + bad + "] - using stdout as default\n",
            testing::internal::GetCapturedStderr());
  EXPECT_EQ(stdout, outfile);
  std::string cmd = "rm -rf '" + dir + "'";
  ASSERT_EQ(0, system(cmd.c_str()));
}

// Counts the process's open file descriptors.
int open_fds() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d) != nullptr) n++;
    closedir(d);
  }
  return n;
}

TEST_F(OptionsTest, RepeatedOutputOptionKeepsOnlyTheLastFileOpen) {
  char tmpl[] = "/tmp/tl_opt_test.XXXXXX";
  std::string dir = mkdtemp(tmpl);
  int before = open_fds();
  parse({"-o", dir + "/a", "-o", dir + "/b", "--output=" + dir + "/c", "f"});
  EXPECT_EQ(before + 1, open_fds());
  EXPECT_STREQ((dir + "/c").c_str(), outFileName);
  EXPECT_EQ(0, access((dir + "/a").c_str(), F_OK)) << "each -o creates its file";
  std::string cmd = "rm -rf '" + dir + "'";
  ASSERT_EQ(0, system(cmd.c_str()));
}

TEST_F(OptionsTest, InvalidOptionsStopTheParse) {
  testing::internal::CaptureStderr();
  parse({"-O", "f"}, TL_OPTS_USAGE_ERROR);
  parse({"-z", "f"}, TL_OPTS_USAGE_ERROR);
  parse({"f", "-o"}, TL_OPTS_USAGE_ERROR);
  parse({"--sum", "f"}, TL_OPTS_USAGE_ERROR);
  parse({"-o", std::string(1025, 'n'), "f"}, TL_OPTS_USAGE_ERROR);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(
      "tapelens: invalid option -- 'z'\n"
      "tapelens: option requires an argument -- 'o'\n"
      "tapelens: option '--sum' is ambiguous; possibilities: '--summary' '--summarydetail'\n"
      "ERROR: output file name is longer than 1024 characters\n",
      err);
  // Options before the invalid one have acted; later ones have not.
  parse({"-c", "-O", "-x", "f"}, TL_OPTS_USAGE_ERROR);
  EXPECT_EQ(1, output_format);
  parse({"-n", "-h", "-z"}, TL_OPTS_HELP);
  EXPECT_EQ(1, print_recno);
  parse({"-z", "-v"}, TL_OPTS_USAGE_ERROR);
  parse({"f", "--version", "-h"}, TL_OPTS_VERSION);
}

}  // namespace

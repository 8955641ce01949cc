// Helpers shared by the unit tests: building records, running formatters,
// capturing what a call writes and working in a scratch directory. Every
// test includes it for GoogleTest, the headers below and these helpers.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "tl_bdt.h"
#include "tl_globals.h"
#include "tl_mrot.h"
#include "tl_out.h"

// Makes the catalogue's readable names (names already made are kept).
inline void tl_test_names() { iDemrotStrings(); }

// A 225-character record and CR LF: the 8-character key (identifier and
// suffix), fill elsewhere, the texts at their 0-based positions.
inline std::string tl_test_rec(const std::string& key8, std::initializer_list<std::pair<size_t, std::string>> puts = {},
                               char fill = ' ') {
  std::string r = key8 + std::string(225 - key8.size(), fill);
  for (const auto& p : puts) r.replace(p.first, p.second.size(), p.second);
  return r + "\r\n";
}

// A record of the inline layout 103623.50 ((63,6) (69,10) (79,10) (89,90)
// (199,1) (200,2)), told apart by its first field, with its CSV header and
// value lines.
inline std::string tl_test_r623(const std::string& first) {
  return tl_test_rec("10362350",
                     {{63, first}, {69, "BBBBBBBBBB"}, {79, "CCCCCCCCCC"}, {89, "D"}, {199, "E"}, {200, "FF"}});
}
const std::string tl_test_head623 =
    "Pos 064-069 text,Pos 070-079 text,Pos 080-089 text,Pos 090-179 text,Pos 200-200 text,Pos 201-202 text,\r\n";
inline std::string tl_test_v623(const std::string& first) {
  return first + ",BBBBBBBBBB,CCCCCCCCCC,D" + std::string(89, ' ') + ",E,FF,\r\n";
}

// Returns the index of the layout with the 8-character key, or -1.
inline int tl_test_layout(const std::string& key8) {
  for (int i = 0; i < bdtr_count; i++) {
    if (key8.compare(0, 6, bdtr_list[i].record_id) == 0 && key8.compare(6, 2, bdtr_list[i].record_suffix) == 0)
      return i;
  }
  return -1;
}

// Sets the options that add lines to a record's output (-n, -T, -r, -C).
inline void tl_test_settings(int recno, int types, int raw, int common) {
  print_recno = recno;
  print_types = types;
  print_raw = raw;
  print_common = common;
}

// Returns what fn appends to an empty output buffer.
template <class F>
std::string tl_test_out(F fn) {
  static char storage[16384];
  tl_out o(storage, sizeof storage);
  fn(o);
  EXPECT_FALSE(o.full);
  return std::string(o.buf, o.len);
}

// Runs records through a formatter's per-record entry with a fresh buffer
// for each, as the driver does, and returns all they wrote.
inline std::string tl_test_format(int (*fmt)(const char*, tl_out&), const std::vector<std::string>& recs) {
  std::string out;
  for (const std::string& r : recs) out += tl_test_out([&](tl_out& o) { EXPECT_EQ(fmt(r.c_str(), o), 0); });
  return out;
}

inline std::string tl_test_read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void tl_test_write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Returns what fn writes to standard error.
template <class F>
std::string tl_test_stderr(F fn) {
  testing::internal::CaptureStderr();
  fn();
  return testing::internal::GetCapturedStderr();
}

// Runs each test in a fresh temporary directory, with the debug switch, the
// log file names and the program identity set to known values; all of them
// are restored afterwards.
class TlScratchDirTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(getcwd(old_cwd_, sizeof old_cwd_), nullptr);
    std::string tmpl = (std::filesystem::temp_directory_path() / "tl_test_XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    saved_ = {program, logFileName, debugFileName, std::to_string(debug_flag), std::to_string(mypid)};
    debug_flag = 0;
    mypid = static_cast<int>(getpid());
    std::strcpy(program, "tltest");
    std::strcpy(logFileName, "tapelens.log");
    std::strcpy(debugFileName, "tapelens.dbg");
  }
  void TearDown() override {
    EXPECT_EQ(chdir(old_cwd_), 0);
    std::filesystem::remove_all(dir_);
    std::strcpy(program, saved_[0].c_str());
    std::strcpy(logFileName, saved_[1].c_str());
    std::strcpy(debugFileName, saved_[2].c_str());
    debug_flag = std::stoi(saved_[3]);
    mypid = std::stoi(saved_[4]);
  }

  char old_cwd_[4096];
  std::string dir_;
  std::vector<std::string> saved_;
};

// Helpers shared by the unit tests: building records, running formatters,
// preparing names and working in a scratch directory.
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

// Makes the catalogue's readable names, once per test process.
inline void tl_test_names() {
  static bool done = false;
  if (!done) {
    iDemrotStrings();
    done = true;
  }
}

// Returns a 225-character record with the 8-character key (identifier and
// suffix) and every other position filled with fill.
inline std::string tl_test_record(const std::string& key8, char fill = '0') {
  std::string r(225, fill);
  r.replace(0, key8.size() < 8 ? key8.size() : 8, key8.substr(0, 8));
  return r;
}

// Writes text into the record at the 0-based position pos.
inline void tl_test_put(std::string& rec, size_t pos, const std::string& text) {
  if (rec.size() < pos + text.size()) rec.resize(pos + text.size(), ' ');
  rec.replace(pos, text.size(), text);
}

// A record as the reader delivers it: the key, fill elsewhere, the texts at
// their 0-based positions, then CR LF.
inline std::string tl_test_rec(const std::string& key8,
                               std::initializer_list<std::pair<size_t, std::string>> puts = {}, char fill = ' ') {
  std::string r = tl_test_record(key8, fill);
  for (const auto& p : puts) tl_test_put(r, p.first, p.second);
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
  for (int i = 0; bdtr_list[i].required_suffix != 99; i++) {
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

// Runs records through a formatter's per-record entry with a fresh buffer
// for each, as the driver does, and returns all they wrote.
inline std::string tl_test_format(int (*fmt)(const char*, tl_out&), const std::vector<std::string>& recs) {
  static char storage[16384];
  std::string out;
  for (const std::string& r : recs) {
    tl_out o(storage, sizeof storage);
    EXPECT_EQ(fmt(r.c_str(), o), 0);
    EXPECT_FALSE(o.full);
    out.append(o.buf, o.len);
  }
  return out;
}

inline std::string tl_test_read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
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
    saved_debug_ = debug_flag;
    saved_pid_ = mypid;
    std::memcpy(saved_program_, program, sizeof program);
    std::memcpy(saved_log_, logFileName, sizeof logFileName);
    std::memcpy(saved_dbg_, debugFileName, sizeof debugFileName);
    debug_flag = 0;
    mypid = static_cast<int>(getpid());
    std::strcpy(program, "tltest");
    std::strcpy(logFileName, "tapelens.log");
    std::strcpy(debugFileName, "tapelens.dbg");
  }
  void TearDown() override {
    EXPECT_EQ(chdir(old_cwd_), 0);
    std::filesystem::remove_all(dir_);
    debug_flag = saved_debug_;
    mypid = saved_pid_;
    std::memcpy(program, saved_program_, sizeof program);
    std::memcpy(logFileName, saved_log_, sizeof logFileName);
    std::memcpy(debugFileName, saved_dbg_, sizeof debugFileName);
  }

  char old_cwd_[4096];
  std::string dir_;
  int saved_debug_ = 0;
  int saved_pid_ = 0;
  char saved_program_[sizeof program];
  char saved_log_[sizeof logFileName];
  char saved_dbg_[sizeof debugFileName];
};

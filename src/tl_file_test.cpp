#include "tl_file.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tl_globals.h"

namespace {

namespace fs = std::filesystem;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Each test works in a fresh temporary directory holding "file" (5 bytes),
// "empty" (0 bytes), "dir/" with one entry, "dangling" (a link to nothing)
// and "link" (a link to "file").
class FileTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(getcwd(old_cwd_, sizeof old_cwd_), nullptr);
    std::string tmpl = (fs::temp_directory_path() / "tl_file_XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    std::ofstream("file") << "12345";
    std::ofstream("empty");
    fs::create_directory("dir");
    std::ofstream("dir/inner") << "x";
    fs::create_symlink("no-such-target", "dangling");
    fs::create_symlink("file", "link");
    saved_debug_ = debug_flag;
    debug_flag = 0;
    std::snprintf(saved_log_, sizeof saved_log_, "%s", logFileName);
    std::snprintf(saved_dbg_, sizeof saved_dbg_, "%s", debugFileName);
    std::strcpy(logFileName, "tapelens.log");
    std::strcpy(debugFileName, "tapelens.dbg");
  }
  void TearDown() override {
    EXPECT_EQ(chdir(old_cwd_), 0);
    fs::remove_all(dir_);
    debug_flag = saved_debug_;
    std::memcpy(logFileName, saved_log_, sizeof logFileName);
    std::memcpy(debugFileName, saved_dbg_, sizeof debugFileName);
  }

  char old_cwd_[4096];
  std::string dir_;
  int saved_debug_ = 0;
  char saved_log_[sizeof logFileName];
  char saved_dbg_[sizeof debugFileName];
};

TEST_F(FileTest, FileExists) {
  const struct { const char* name; const char* path; int expected; } cases[] = {
      {"EmptyName", "", 2},          {"NullName", nullptr, 2},     {"RegularFile", "file", 1},
      {"EmptyFile", "empty", 1},     {"Directory", "dir", 1},      {"Dot", ".", 1},
      {"Missing", "missing", 2},     {"DanglingLink", "dangling", 2}, {"LinkToFile", "link", 1},
      {"MissingParent", "nodir/file", 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(iFileExists(c.path), c.expected);
  }
}

TEST_F(FileTest, FileRemove) {
  const struct { const char* name; const char* path; int expected; bool exists_after; } cases[] = {
      {"EmptyName", "", -1, false},      {"Missing", "missing", -1, false},
      {"Directory", "dir", -1, true},    {"DanglingLink", "dangling", -1, true},
      {"RegularFile", "file", 0, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CaptureStderr();
    EXPECT_EQ(iFileRemove(c.path), c.expected);
    EXPECT_EQ(GetCapturedStderr(), "");
    if (c.path[0] != '\0') {
      EXPECT_EQ(fs::exists(fs::symlink_status(c.path)), c.exists_after);
    }
  }
}

TEST_F(FileTest, FileSize) {
  const struct { const char* name; const char* path; int expected; } cases[] = {
      {"EmptyName", "", -1},   {"Missing", "missing", -1}, {"DanglingLink", "dangling", -1},
      {"EmptyFile", "empty", 0}, {"FiveBytes", "file", 5}, {"ThroughLink", "link", 5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CaptureStderr();
    EXPECT_EQ(iFileSize(c.path), c.expected);
    EXPECT_EQ(GetCapturedStderr(), "");
  }
}

TEST_F(FileTest, FileSizeSaturatesAtTwoGibibytes) {
  // Sparse files: no data blocks are written.
  const struct { const char* name; off_t size; int expected; } cases[] = {
      {"JustBelow", INT32_MAX - 1, INT32_MAX - 1},
      {"Exactly", INT32_MAX, INT32_MAX},
      {"TwoGiB", off_t{1} << 31, INT32_MAX},
      {"FiveGiB", off_t{5} << 30, INT32_MAX}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int fd = open("big", O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const int rc = ftruncate(fd, c.size);
    close(fd);
    if (rc != 0) GTEST_SKIP() << "no sparse files here";
    EXPECT_EQ(iFileSize("big"), c.expected);
  }
}

struct RenameCase {
  const char* name;
  const char* from;
  const char* to;
  int force;
  int expected;
  std::string message;
  std::string to_content;  // content of "to" afterwards; empty: not checked
  bool from_gone;
};

TEST_F(FileTest, FileRename) {
  const RenameCase cases[] = {
      {"EmptyOld", "", "new", 1, -1, "", "", false},
      {"EmptyNew", "file", "", 1, -1, "", "", false},
      {"OldMissing", "missing", "new", 0, -1,
       "ERROR: cannot rename missing to new because missing not found", "", true},
      {"NewExistsNoForce", "file", "empty", 0, -1,
       "ERROR: cannot rename file to empty because empty already exists", "", false},
      {"NewExistsForce", "file", "empty", 1, 0, "", "12345", true},
      {"NewMissing", "file", "fresh", 0, 0, "", "12345", true},
      {"ReplaceDirectoryFails", "file", "dir", 1, -1,
       "ERROR: cannot rename file to dir, errno = " + std::to_string(EISDIR), "", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream("file") << "12345";
    std::ofstream("empty");
    CaptureStderr();
    EXPECT_EQ(iFileRename(c.from, c.to, c.force), c.expected);
    EXPECT_EQ(GetCapturedStderr(), c.message);
    if (!c.to_content.empty()) {
      EXPECT_EQ(ReadFile(c.to), c.to_content);
    }
    if (c.from[0] != '\0') {
      EXPECT_EQ(!fs::exists(c.from), c.from_gone);
    }
    if (std::strcmp(c.to, "empty") == 0 && c.expected != 0) {
      EXPECT_EQ(ReadFile("empty"), "");
    }
  }
}

TEST_F(FileTest, SearchDir) {
  const struct {
    const char* name;
    const char* dir;
    const char* entry;
    int debug;
    int expected;
    std::string err;
  } cases[] = {
      {"Dot", ".", ".", 0, 1, ""},
      {"DotDot", "dir", "..", 0, 1, ""},
      {"FoundQuiet", "dir", "inner", 0, 1, ""},
      {"FoundDebug", "dir", "inner", 1, 1, "found inner\n"},
      {"OtherCase", "dir", "Inner", 1, 0, ""},
      {"Prefix", "dir", "inn", 1, 0, ""},
      {"Missing", ".", "nothing", 0, 0, ""},
      {"NoDirectory", "nodir", "x", 0, -1, "ERROR: cannot open nodir - exiting\n"},
      {"NotADirectory", "file", "x", 0, -1, "ERROR: cannot open file - exiting\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    debug_flag = c.debug;
    CaptureStderr();
    EXPECT_EQ(iSearchDir(c.dir, c.entry), c.expected);
    EXPECT_EQ(GetCapturedStderr(), c.err);
  }
  // Only the debug hit and the two open failures reach the log files.
  EXPECT_NE(ReadFile("tapelens.dbg").find("):found inner\n"), std::string::npos);
  const std::string log = ReadFile("tapelens.log");
  EXPECT_NE(log.find("):ERROR: cannot open nodir - exiting\n"), std::string::npos);
  EXPECT_NE(log.find("):ERROR: cannot open file - exiting\n"), std::string::npos);
}

TEST_F(FileTest, TimestampFilename) {
  const struct { const char* name; const char* prefix; const char* suffix; } cases[] = {
      {"EmptyPrefix", "", "log"}, {"Prefixed", "run_", "csv"}, {"EmptySuffix", "a", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    char buf[64];
    std::memset(buf, '#', sizeof buf);
    const std::time_t before = std::time(nullptr);
    EXPECT_EQ(iTimestampFilename(c.prefix, c.suffix, buf), 0);
    const std::time_t after = std::time(nullptr);
    const size_t len = strnlen(buf, sizeof buf);
    ASSERT_LT(len, sizeof buf - 1);
    EXPECT_EQ(buf[len + 1], '#');  // nothing written past the NUL
    // prefix, "DDDDDDDD_DDDDDD", ".", suffix
    const std::string name = buf;
    const size_t plen = std::strlen(c.prefix);
    EXPECT_EQ(name.substr(0, plen), c.prefix);
    for (size_t i = 0; i < 15; ++i) {
      const char ch = name[plen + i];
      EXPECT_TRUE(i == 8 ? ch == '_' : std::isdigit(static_cast<unsigned char>(ch)) != 0) << name;
    }
    EXPECT_EQ(name.substr(plen + 15), std::string(".") + c.suffix);
    struct tm parsed = {};
    ASSERT_NE(strptime(buf + std::strlen(c.prefix), "%Y%m%d_%H%M%S", &parsed), nullptr);
    parsed.tm_isdst = -1;
    const std::time_t stamped = std::mktime(&parsed);
    EXPECT_GE(stamped, before);
    EXPECT_LE(stamped, after);
  }
}

}  // namespace

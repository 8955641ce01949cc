// File utilities: results, what they leave on disk, and their messages.
#include "tl_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "tl_globals.h"
#include "tl_testutil.h"

namespace {

namespace fs = std::filesystem;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// Each test's directory holds "file" (5 bytes), "empty", "dir/inner",
// "dangling" (a link to nothing) and "link" (a link to "file").
class FileTest : public TlScratchDirTest {
 protected:
  void SetUp() override {
    TlScratchDirTest::SetUp();
    std::ofstream("file") << "12345";
    std::ofstream("empty");
    fs::create_directory("dir");
    std::ofstream("dir/inner") << "x";
    fs::create_symlink("no-such-target", "dangling");
    fs::create_symlink("file", "link");
  }
};

TEST_F(FileTest, ExistsRemoveAndSizeWriteNothing) {
  const struct {
    const char* path;
    int exists, size, remove;  // size: not checked for directories
    bool kept;                 // still there after iFileRemove
  } cases[] = {
      {"", 2, -1, -1, false},          {"missing", 2, -1, -1, false},  {"nodir/file", 2, -1, -1, false},
      {"dangling", 2, -1, -1, true},   {"dir", 1, 0, -1, true},        {".", 1, 0, -1, true},
      {"link", 1, 5, 0, false},        {"empty", 1, 0, 0, false},      {"file", 1, 5, 0, false},
  };
  EXPECT_EQ(iFileExists(nullptr), 2);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    CaptureStderr();
    EXPECT_EQ(iFileExists(c.path), c.exists);
    if (!fs::is_directory(c.path)) {
      EXPECT_EQ(iFileSize(c.path), c.size);
    }
    EXPECT_EQ(iFileRemove(c.path), c.remove);
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(fs::exists(fs::symlink_status(c.path)), c.kept);
  }
}

// Sizes past the signed 32-bit range are given as its largest value (sparse
// files: no data blocks are written).
TEST_F(FileTest, FileSizeSaturatesAtTwoGibibytes) {
  const struct { off_t size; int expected; } cases[] = {{INT32_MAX, INT32_MAX}, {off_t{5} << 30, INT32_MAX}};
  for (const auto& c : cases) {
    const int fd = open("big", O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const int rc = ftruncate(fd, c.size);
    close(fd);
    if (rc != 0) GTEST_SKIP() << "no sparse files here";
    EXPECT_EQ(iFileSize("big"), c.expected) << c.size;
  }
}

TEST_F(FileTest, FileRename) {
  // to_content: what "to" holds afterwards, where checked.
  const struct { const char* name; const char* from; const char* to; int force, expected; std::string message;
                 const char* to_content; } cases[] = {
      {"empty old name", "", "new", 1, -1, "", nullptr},
      {"empty new name", "file", "", 1, -1, "", nullptr},
      {"old missing", "missing", "new", 0, -1, "ERROR: cannot rename missing to new because missing not found",
       nullptr},
      {"new exists, no force", "file", "empty", 0, -1,
       "ERROR: cannot rename file to empty because empty already exists", ""},
      {"new exists, force", "file", "empty", 1, 0, "", "12345"},
      {"new missing", "file", "fresh", 0, 0, "", "12345"},
      {"replacing a directory fails", "file", "dir", 1, -1,
       "ERROR: cannot rename file to dir, errno = " + std::to_string(EISDIR), nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream("file") << "12345";
    std::ofstream("empty");
    CaptureStderr();
    EXPECT_EQ(iFileRename(c.from, c.to, c.force), c.expected);
    EXPECT_EQ(GetCapturedStderr(), c.message);
    if (c.to_content != nullptr) {
      EXPECT_EQ(tl_test_read(c.to), c.to_content);
    }
    EXPECT_EQ(fs::exists("file"), c.expected != 0);
  }
}

TEST_F(FileTest, SearchDir) {
  const struct { const char* dir; const char* entry; int debug, expected; std::string err; } cases[] = {
      {".", ".", 0, 1, ""},         {"dir", "..", 0, 1, ""},   {"dir", "inner", 0, 1, ""},
      {"dir", "Inner", 1, 0, ""},   {"dir", "inn", 1, 0, ""},  {"dir", "inner", 1, 1, "found inner\n"},
      {"nodir", "x", 0, -1, "ERROR: cannot open nodir - exiting\n"},
      {"file", "x", 0, -1, "ERROR: cannot open file - exiting\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.dir) + " " + c.entry);
    debug_flag = c.debug;
    CaptureStderr();
    EXPECT_EQ(iSearchDir(c.dir, c.entry), c.expected);
    EXPECT_EQ(GetCapturedStderr(), c.err);
  }
  // Only the debug hit and the two open failures reach the log files.
  EXPECT_NE(tl_test_read("tapelens.dbg").find("):found inner\n"), std::string::npos);
  const std::string log = tl_test_read("tapelens.log");
  EXPECT_NE(log.find("):ERROR: cannot open nodir - exiting\n"), std::string::npos);
  EXPECT_NE(log.find("):ERROR: cannot open file - exiting\n"), std::string::npos);
}

// prefix, the local time as "YYYYMMDD_HHMMSS", ".", suffix.
TEST_F(FileTest, TimestampFilename) {
  const struct { const char* prefix; const char* suffix; } cases[] = {{"", "log"}, {"run_", "csv"}, {"a", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.prefix);
    char buf[64];
    std::memset(buf, '#', sizeof buf);
    const std::time_t before = std::time(nullptr);
    EXPECT_EQ(iTimestampFilename(c.prefix, c.suffix, buf), 0);
    const std::time_t after = std::time(nullptr);
    const size_t plen = std::strlen(c.prefix);
    ASSERT_EQ(strnlen(buf, sizeof buf), plen + 16 + std::strlen(c.suffix));
    EXPECT_EQ(buf[strlen(buf) + 1], '#');  // nothing written past the NUL
    EXPECT_EQ(std::string(buf, plen), c.prefix);
    EXPECT_EQ(std::string(buf + plen + 15), std::string(".") + c.suffix);
    struct tm parsed = {};
    ASSERT_EQ(strptime(buf + plen, "%Y%m%d_%H%M%S", &parsed), buf + plen + 15);
    parsed.tm_isdst = -1;
    EXPECT_TRUE(std::mktime(&parsed) >= before && std::mktime(&parsed) <= after);
  }
}

}  // namespace

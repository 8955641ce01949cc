// File utilities: results, what they leave on disk, and their messages.
#include "tl_file.h"

#include <cerrno>
#include <cstdint>
#include <ctime>

#include "tl_testutil.h"

namespace {

namespace fs = std::filesystem;

// Each test's directory holds "file" (5 bytes), "empty", "dir/inner",
// "dangling" (a link to nothing) and "link" (a link to "file").
class FileTest : public TlScratchDirTest {
 protected:
  void SetUp() override {
    TlScratchDirTest::SetUp();
    tl_test_write("file", "12345");
    tl_test_write("empty", "");
    fs::create_directory("dir");
    tl_test_write("dir/inner", "x");
    fs::create_symlink("no-such-target", "dangling");
    fs::create_symlink("file", "link");
  }
};

TEST_F(FileTest, ExistsSizeAndRemoveWriteNothing) {
  const struct {
    const char* path;
    int exists, size, remove;  // size: not checked for directories
    bool kept;                 // still there after iFileRemove
  } cases[] = {
      {"", 2, -1, -1, false},        {"missing", 2, -1, -1, false}, {"nodir/file", 2, -1, -1, false},
      {"dangling", 2, -1, -1, true}, {"dir", 1, 0, -1, true},       {".", 1, 0, -1, true},
      {"link", 1, 5, 0, false},      {"empty", 1, 0, 0, false},     {"file", 1, 5, 0, false},
  };
  EXPECT_EQ(iFileExists(nullptr), 2);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(tl_test_stderr([&] {
                EXPECT_EQ(iFileExists(c.path), c.exists);
                if (!fs::is_directory(c.path)) {
                  EXPECT_EQ(iFileSize(c.path), c.size);
                }
                EXPECT_EQ(iFileRemove(c.path), c.remove);
              }),
              "");
    EXPECT_EQ(fs::exists(fs::symlink_status(c.path)), c.kept);
  }
  // Sizes past the signed 32-bit range are given as its largest value
  // (a sparse file: no data blocks are written).
  tl_test_write("file", "12345");
  for (std::uintmax_t size : {std::uintmax_t{INT32_MAX}, std::uintmax_t{5} << 30}) {
    std::error_code ec;
    fs::resize_file("file", size, ec);
    if (ec) GTEST_SKIP() << "no sparse files here";
    EXPECT_EQ(iFileSize("file"), INT32_MAX) << size;
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
    tl_test_write("file", "12345");
    tl_test_write("empty", "");
    EXPECT_EQ(tl_test_stderr([&] { EXPECT_EQ(iFileRename(c.from, c.to, c.force), c.expected); }), c.message);
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
    EXPECT_EQ(tl_test_stderr([&] { EXPECT_EQ(iSearchDir(c.dir, c.entry), c.expected); }), c.err);
  }
}

// prefix, the local time as "YYYYMMDD_HHMMSS", ".", suffix; nothing past
// the NUL.
TEST_F(FileTest, TimestampFilename) {
  for (const auto& c : {std::make_pair("run_", "csv"), std::make_pair("", "")}) {
    char buf[64];
    std::memset(buf, '#', sizeof buf);
    const std::time_t before = std::time(nullptr);
    EXPECT_EQ(iTimestampFilename(c.first, c.second, buf), 0);
    const std::time_t after = std::time(nullptr);
    const size_t plen = std::strlen(c.first);
    ASSERT_EQ(strnlen(buf, sizeof buf), plen + 16 + std::strlen(c.second));
    EXPECT_EQ(buf[std::strlen(buf) + 1], '#');
    EXPECT_EQ(std::string(buf, plen) + std::string(buf + plen + 15), c.first + std::string(".") + c.second);
    struct tm parsed = {};
    ASSERT_EQ(strptime(buf + plen, "%Y%m%d_%H%M%S", &parsed), buf + plen + 15);
    parsed.tm_isdst = -1;
    EXPECT_TRUE(std::mktime(&parsed) >= before && std::mktime(&parsed) <= after) << c.first;
  }
}

}  // namespace

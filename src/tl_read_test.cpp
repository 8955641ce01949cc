#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tl_core.h"
#include "tl_globals.h"

namespace {

class ReaderTest : public ::testing::Test {
 protected:
  std::string dir;
  void SetUp() override {
    char tmpl[] = "/tmp/tl_read_test.XXXXXX";
    dir = mkdtemp(tmpl);
    tl_input_failures = 0;
    debug_flag = 0;
  }
  void TearDown() override {
    psReadBDTclose();
    std::string cmd = "rm -rf '" + dir + "'";
    ASSERT_EQ(0, system(cmd.c_str()));
  }
  std::string write(const std::string& name, const std::string& bytes) {
    std::string path = dir + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  // Reads the whole file, returning every delivered record and the byte
  // location after each.
  std::vector<std::string> read_all(const std::string& path, std::vector<long>* locs = nullptr) {
    std::vector<std::string> out;
    char rec[256];
    unsigned long len = 0;
    long loc = 0;
    for (int guard = 0; guard < 100000; guard++) {
      std::memset(rec, 'x', sizeof rec);
      if (psReadBDTfile(path.c_str(), rec, &len, &loc) != 0) {
        EXPECT_EQ(0, loc) << "location resets at the end";
        return out;
      }
      EXPECT_EQ(std::strlen(rec), len);
      out.emplace_back(rec, len);
      if (locs) locs->push_back(loc);
    }
    ADD_FAILURE() << "reader never ended";
    return out;
  }
};

std::string rec225(char c) { return std::string(225, c); }

TEST_F(ReaderTest, EmptyFileDeliversNothingQuietly) {
  std::string p = write("empty", "");
  testing::internal::CaptureStderr();
  EXPECT_TRUE(read_all(p).empty());
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
  EXPECT_EQ(0, tl_input_failures);
}

TEST_F(ReaderTest, CrLfRecordsKeepTheirLineEnds) {
  std::string p = write("three", rec225('1') + "\r\n" + rec225('3') + "\r\n" + rec225('4') + "\r\n");
  std::vector<long> locs;
  auto r = read_all(p, &locs);
  ASSERT_EQ(3u, r.size());
  EXPECT_EQ(rec225('3') + "\r\n", r[1]);
  EXPECT_EQ((std::vector<long>{227, 454, 681}), locs);
}

TEST_F(ReaderTest, LastLineWithoutLineEndIsDelivered) {
  std::string p = write("noend", rec225('1') + "\r\n" + rec225('3'));
  auto r = read_all(p);
  ASSERT_EQ(2u, r.size());
  EXPECT_EQ(rec225('3'), r[1]);
}

TEST_F(ReaderTest, LfOnlyRecordsAre226Bytes) {
  auto r = read_all(write("lf", rec225('1') + "\n" + rec225('4') + "\n"));
  ASSERT_EQ(2u, r.size());
  EXPECT_EQ(226u, r[0].size());
}

TEST_F(ReaderTest, LongLinesComeInPiecesOf255) {
  std::string line(600, 'a');
  line[254] = 'b';
  line[255] = 'c';
  auto r = read_all(write("long", line + "\r\nshort\n"));
  ASSERT_EQ(4u, r.size());
  EXPECT_EQ(255u, r[0].size());
  EXPECT_EQ('b', r[0].back());
  EXPECT_EQ('c', r[1].front());
  EXPECT_EQ(255u, r[1].size());
  EXPECT_EQ(std::string(90, 'a') + "\r\n", r[2]);
  EXPECT_EQ("short\n", r[3]);
}

TEST_F(ReaderTest, ALineOfNoLineEndsAtAllIsReadWhole) {
  std::string big(1 << 20, 'z');  // larger than the reader's block
  auto r = read_all(write("big", big));
  size_t total = 0;
  for (auto& s : r) total += s.size();
  EXPECT_EQ(big.size(), total);
  EXPECT_EQ((big.size() + 254) / 255, r.size());
}

TEST_F(ReaderTest, NulBytesBecomeBlanks) {
  std::string line = "100101" + std::string("\0\0", 2) + "xyz\r\n";
  auto r = read_all(write("nul", line + line));
  ASSERT_EQ(2u, r.size());
  EXPECT_EQ("100101  xyz\r\n", r[1]);
}

TEST_F(ReaderTest, MissingFileIsReported) {
  char rec[256];
  unsigned long len = 0;
  long loc = 0;
  std::string p = dir + "/nothere";
  testing::internal::CaptureStderr();
  EXPECT_EQ(-1, psReadBDTfile(p.c_str(), rec, &len, &loc));
  EXPECT_EQ("ERROR: Unable to open BDT file:" + p + "\n", testing::internal::GetCapturedStderr());
  EXPECT_EQ(1, tl_input_failures);
}

TEST_F(ReaderTest, ReadErrorEndsTheInputWithAMessage) {
  testing::internal::CaptureStderr();
  auto r = read_all(dir);  // a directory opens but cannot be read
  EXPECT_TRUE(r.empty());
  EXPECT_EQ("ERROR: Unable to read BDT file:" + dir + ": Is a directory\n", testing::internal::GetCapturedStderr());
  EXPECT_EQ(1, tl_input_failures);
}

TEST_F(ReaderTest, NextFileOpensAfterTheEnd) {
  std::string a = write("a", rec225('1') + "\r\n");
  std::string b = write("b", rec225('3') + "\r\n" + rec225('4') + "\r\n");
  EXPECT_EQ(1u, read_all(a).size());
  auto r = read_all(b);
  ASSERT_EQ(2u, r.size());
  EXPECT_EQ('3', r[0][0]);
}

TEST_F(ReaderTest, CallersByteLocationDecidesTheNextRecord) {
  std::string body;
  for (int i = 0; i < 2000; i++) body += std::string(225, static_cast<char>('A' + i % 26)) + "\r\n";
  std::string p = write("many", body);
  char rec[256];
  unsigned long len = 0;
  long loc = 0;
  ASSERT_EQ(0, psReadBDTfile(p.c_str(), rec, &len, &loc));
  ASSERT_EQ(0, psReadBDTfile(p.c_str(), rec, &len, &loc));
  EXPECT_EQ('B', rec[0]);
  loc = 0;  // back to the first record, inside the bytes held
  ASSERT_EQ(0, psReadBDTfile(p.c_str(), rec, &len, &loc));
  EXPECT_EQ('A', rec[0]);
  loc = 227L * 1999;  // far beyond them: a real seek
  ASSERT_EQ(0, psReadBDTfile(p.c_str(), rec, &len, &loc));
  EXPECT_EQ(static_cast<char>('A' + 1999 % 26), rec[0]);
  EXPECT_EQ(227L * 2000, loc);
  EXPECT_NE(0, psReadBDTfile(p.c_str(), rec, &len, &loc));
}

// In-memory framing: records every 227 bytes.
std::vector<std::string> frame(const std::string& buf, long length) {
  std::vector<std::string> out;
  char rec[256];
  long loc = 0;
  for (int guard = 0; guard < 1000; guard++) {
    if (psReadBDTbuf(buf.data(), rec, &loc, length) != 0) {
      EXPECT_EQ(0, loc);
      return out;
    }
    out.emplace_back(rec);
  }
  ADD_FAILURE() << "framing never ended";
  return out;
}

TEST(BufFramingTest, RecordIsDeliveredWhenItsTextIsPresent) {
  std::string two = rec225('1') + "\r\n" + rec225('3') + "\r\n";
  EXPECT_EQ(2u, frame(two, 454).size());
  EXPECT_EQ(2u, frame(two, 452).size()) << "the second record's line end is not needed";
  auto partial = frame(two, 451);
  ASSERT_EQ(2u, partial.size());
  EXPECT_EQ(std::string(224, '3'), partial[1]);
  EXPECT_EQ(1u, frame(two, 227).size());
  EXPECT_EQ(2u, frame(two, 229).size()) << "two characters of a record are a record";
  std::string trailing = rec225('1') + "\r\n\r\n";
  EXPECT_EQ(1u, frame(trailing, 229).size()) << "line ends alone are no record";
  EXPECT_EQ(0u, frame(two, 0).size());
  EXPECT_EQ(rec225('1'), frame(two, 454)[0]) << "record text has no line end";
}

TEST(BufFramingTest, NulInInputEndsTheRecordText) {
  std::string buf = "100101" + std::string(1, '\0') + std::string(218, 'x') + "\r\n";
  auto r = frame(buf, static_cast<long>(buf.size()));
  ASSERT_EQ(1u, r.size());
  EXPECT_EQ("100101", r[0]);
}

}  // namespace

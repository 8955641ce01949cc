// The reader: how files and memory buffers are cut into records.
#include "tl_core.h"
#include "tl_testutil.h"

namespace {

class ReaderTest : public TlScratchDirTest {
  void TearDown() override {
    psReadBDTclose();
    TlScratchDirTest::TearDown();
  }
};

// Reads the file to its end; returns every delivered record, checking the
// length given with it and the byte location after it (the bytes delivered
// so far), which goes back to 0 at the end.
std::vector<std::string> read_all(const std::string& path) {
  std::vector<std::string> out;
  char rec[256];
  unsigned long len = 0;
  long loc = 0, bytes = 0;
  for (int guard = 0; guard < 1000; guard++) {
    std::memset(rec, 'x', sizeof rec);
    if (psReadBDTfile(path.c_str(), rec, &len, &loc) != 0) {
      EXPECT_EQ(0, loc);
      return out;
    }
    EXPECT_EQ(std::strlen(rec), len);
    out.emplace_back(rec, len);
    EXPECT_EQ(bytes += static_cast<long>(len), loc);
  }
  ADD_FAILURE() << "reader never ended";
  return out;
}

TEST_F(ReaderTest, FileFraming) {
  const std::string r1(225, '1'), r3(225, '3'), r4(225, '4'), nul("100101\0\0xyz\r\n", 13);
  std::string longline(600, 'a');
  longline[254] = 'b';
  longline[255] = 'c';
  const struct { const char* name; std::string bytes; std::vector<std::string> records; } cases[] = {
      {"empty file", "", {}},
      {"CR LF lines keep their line ends", r1 + "\r\n" + r3 + "\r\n" + r4 + "\r\n",
       {r1 + "\r\n", r3 + "\r\n", r4 + "\r\n"}},
      {"last line without a line end", r1 + "\r\n" + r3, {r1 + "\r\n", r3}},
      {"LF only", r1 + "\n" + r4 + "\n", {r1 + "\n", r4 + "\n"}},
      {"long lines in pieces of 255", longline + "\r\nshort\n",
       {std::string(254, 'a') + "b", "c" + std::string(254, 'a'), std::string(90, 'a') + "\r\n", "short\n"}},
      {"NUL bytes become blanks", nul + nul, {"100101  xyz\r\n", "100101  xyz\r\n"}},
  };
  tl_input_failures = 0;
  for (const auto& c : cases) {
    tl_test_write(c.name, c.bytes);
    EXPECT_EQ("", tl_test_stderr([&] { EXPECT_EQ(c.records, read_all(c.name)) << c.name; }));
  }
  EXPECT_EQ(0, tl_input_failures);
}

TEST_F(ReaderTest, ReadErrorEndsTheInputWithAMessage) {
  tl_input_failures = 0;
  ASSERT_TRUE(std::filesystem::create_directory("adir"));  // opens, but cannot be read
  EXPECT_EQ("ERROR: Unable to read BDT file:adir: Is a directory\n",
            tl_test_stderr([] { EXPECT_TRUE(read_all("adir").empty()); }));
  EXPECT_EQ(1, tl_input_failures);
}

TEST_F(ReaderTest, CallersByteLocationDecidesTheNextRecord) {
  std::string body;
  for (int i = 0; i < 2000; i++) body += std::string(225, static_cast<char>('A' + i % 26)) + "\r\n";
  tl_test_write("many", body);
  char rec[256];
  unsigned long len = 0;
  long loc = 0;
  ASSERT_EQ(0, psReadBDTfile("many", rec, &len, &loc));
  ASSERT_EQ(0, psReadBDTfile("many", rec, &len, &loc));
  EXPECT_EQ('B', rec[0]);
  loc = 0;  // back to the first record, inside the bytes held
  ASSERT_EQ(0, psReadBDTfile("many", rec, &len, &loc));
  EXPECT_EQ('A', rec[0]);
  loc = 227L * 1999;  // far beyond them: a real seek
  ASSERT_EQ(0, psReadBDTfile("many", rec, &len, &loc));
  EXPECT_EQ(static_cast<char>('A' + 1999 % 26), rec[0]);
  EXPECT_EQ(227L * 2000, loc);
  EXPECT_NE(0, psReadBDTfile("many", rec, &len, &loc));
}

// Records delivered in place stay whole and terminated across block ends,
// up to a last one that fills the reader's block to its final byte.
TEST_F(ReaderTest, RecordsInPlaceAcrossBlocks) {
  std::string body;
  std::vector<std::string> want;
  for (int i = 0; body.size() + 227 <= 65536; i++) {
    want.push_back(std::string(225, static_cast<char>('A' + i % 26)) + "\r\n");
    body += want.back();
  }
  want.push_back(std::string(65536 - body.size(), 'z'));
  body += want.back();
  tl_test_write("block", body);
  const char* rec = nullptr;
  unsigned long len = 0;
  long loc = 0;
  std::vector<std::string> got;
  while (tl_read_record("block", &rec, &len, &loc) == 0) {
    ASSERT_EQ(std::strlen(rec), len);
    got.emplace_back(rec, len);
  }
  EXPECT_EQ(want, got);
}

// In-memory framing: a record every 227 bytes, delivered without its line
// end when any of its text is there; a NUL ends its text.
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
  const std::string r1(225, '1'), r3(225, '3'), two = r1 + "\r\n" + r3 + "\r\n";
  const struct { std::string buf; long length; std::vector<std::string> records; } cases[] = {
      {two, 454, {r1, r3}},
      {two, 452, {r1, r3}},
      {two, 451, {r1, std::string(224, '3')}},
      {two, 229, {r1, "33"}},
      {two, 228, {r1, "3"}},
      {two, 227, {r1}},
      {two, 0, {}},
      {r1 + "\r\n\r\n", 229, {r1}},  // line ends alone are no record
      {"100101" + std::string(1, '\0') + std::string(218, 'x') + "\r\n", 227, {"100101"}},
  };
  for (const auto& c : cases) EXPECT_EQ(c.records, frame(c.buf, c.length)) << c.length;
}

}  // namespace

// Documents of input arguments made with the real tools: what the end-to-end
// cases cannot see (sizes and positions for the progress line, the thread
// stopped early, the queue's bound), and the unpacker's events.
#include "tl_input.h"

#include <chrono>
#include <fcntl.h>

#include "tl_testutil.h"
#include "tl_unpack.h"

namespace {

class InputTest : public TlScratchDirTest {
 protected:
  void SetUp() override {
    TlScratchDirTest::SetUp();
    tl_input_reset();
    tl_input_opts.progress = tl_progress_when::never;
    tl_input_failures = 0;
    tl_shutdown = 0;
  }
  void TearDown() override {
    tl_input_reset();
    tl_input_failures = 0;
    TlScratchDirTest::TearDown();
  }
  static void sh(const std::string& cmd) { ASSERT_EQ(0, system(cmd.c_str())) << cmd; }
};

struct seen {
  std::string name;
  std::string text;
  long long size, consumed;
  bool failed;
};

std::vector<seen> read_documents(const char* arg, bool* ok) {
  std::vector<seen> out;
  *ok = tl_each_document(arg, [&](tl_document& d) {
    seen s{d.name(), "", d.size(), 0, false};
    const char* rec;
    unsigned long len;
    while (d.next_record(&rec, &len) == 0) s.text.append(rec, len);
    s.consumed = d.consumed();
    s.failed = d.failed();
    out.push_back(s);
  });
  return out;
}

std::string records(int n) {
  std::string s;
  for (int i = 0; i < n; i++) s += tl_test_rec("10010101", {{20, std::to_string(i)}});
  return s;
}

TEST_F(InputTest, SizesAndPositionsForTheProgressLine) {
  const std::string text = records(3000);
  tl_test_write("bill.bdt", text);
  sh("gzip -c bill.bdt > bill.gz && zstd -q -c bill.bdt > bill.zst");
  for (const char* arg : {"bill.bdt", "bill.gz", "bill.zst"}) {
    bool ok = false;
    auto docs = read_documents(arg, &ok);
    ASSERT_TRUE(ok) << arg;
    ASSERT_EQ(1u, docs.size());
    EXPECT_EQ(arg, docs[0].name);
    EXPECT_EQ(text, docs[0].text) << arg;
    // The size is that of the file as it lies, and all of it was read.
    long long size = static_cast<long long>(std::filesystem::file_size(arg));
    EXPECT_EQ(size, docs[0].size) << arg;
    EXPECT_EQ(size, docs[0].consumed) << arg;
  }
  // A pipe has no size.
  int fd = open("bill.gz", O_RDONLY);
  int saved = dup(0);
  FILE* p = popen("cat bill.gz", "r");
  ASSERT_NE(nullptr, p);
  dup2(fileno(p), 0);
  bool ok = false;
  auto docs = read_documents("-", &ok);
  dup2(saved, 0);
  close(saved);
  pclose(p);
  close(fd);
  ASSERT_TRUE(ok);
  ASSERT_EQ(1u, docs.size());
  EXPECT_EQ("-", docs[0].name);
  EXPECT_EQ(-1, docs[0].size);
  EXPECT_EQ(text, docs[0].text);
}

// A small file is unpacked on the calling thread while its bytes fit in the
// queue; one that unpacks to more is unpacked again from its start on a
// thread. Either way every byte comes once, in order, and all of the file
// is read: a member that overflows second, damage after it, too.
TEST_F(InputTest, SmallPackedFilesWholeWhateverTheyUnpackTo) {
  const std::string small = records(40);
  std::string big;
  while (big.size() < 1500000) big += small;  // repeats: a few kilobytes packed
  tl_test_write("small.bdt", small);
  tl_test_write("big.bdt", big);
  sh("gzip -9 -c big.bdt > big.gz && bzip2 -9 -c big.bdt > big.bz2 && gzip -c small.bdt > small.gz"
     " && zip -q -9 two.zip small.bdt big.bdt && cp big.gz cut.gz && truncate -s -9 cut.gz");
  struct want {
    const char* arg;
    std::vector<std::string> texts;
  };
  for (const want& w : {want{"small.gz", {small}}, want{"big.gz", {big}}, want{"big.bz2", {big}},
                        want{"two.zip", {small, big}}}) {
    long long size = static_cast<long long>(std::filesystem::file_size(w.arg));
    ASSERT_LT(size, 16384) << w.arg;  // small enough to be tried on this thread
    bool ok = false;
    auto docs = read_documents(w.arg, &ok);
    ASSERT_TRUE(ok) << w.arg;
    ASSERT_EQ(w.texts.size(), docs.size()) << w.arg;
    for (size_t i = 0; i < docs.size(); i++) {
      EXPECT_FALSE(docs[i].failed) << w.arg;
      EXPECT_TRUE(docs[i].text == w.texts[i]) << w.arg << " document " << i << ": " << docs[i].text.size() << " bytes";
    }
    EXPECT_EQ(size, docs.back().consumed) << w.arg;
  }
  // Truncated: all the bytes before the damage, then the failure, once.
  bool ok = false;
  std::vector<seen> docs;
  std::string err = tl_test_stderr([&] { docs = read_documents("cut.gz", &ok); });
  ASSERT_EQ(1u, docs.size());
  EXPECT_TRUE(docs[0].failed);
  EXPECT_GT(docs[0].text.size(), 1000000u);
  EXPECT_TRUE(big.compare(0, docs[0].text.size(), docs[0].text) == 0);
  EXPECT_EQ(1, tl_input_failures);
  EXPECT_NE(std::string::npos, err.find("cut.gz")) << err;
}

// Unpacked straight through: each member's name and data, in order.
std::string unpack_all(const char* path, int* passes) {
  int fd = open(path, O_RDONLY);
  EXPECT_GE(fd, 0) << path;
  char magic[4] = {};
  EXPECT_EQ(4, read(fd, magic, 4));
  const bool archive = magic[0] == 'P';
  std::string all;
  {
    tl_unpacker u(fd, magic, 4, archive);
    std::string name, what;
    for (tl_unpacker::event e; (e = u.next(&name, &what)) == tl_unpacker::kMember;) {
      all += "[" + name + "]";
      char buf[1 << 16];
      for (long r; (r = u.read(buf, sizeof buf)) > 0;) all.append(buf, static_cast<size_t>(r));
    }
    *passes = u.passes();
  }
  close(fd);
  return all;
}

// A small file that unpacks to more than the queue holds in the data of a
// member is unpacked once: the thread goes on where the calling thread
// stopped. Out of room elsewhere (at the input's end), it is unpacked again
// from its first byte; either way every byte comes once, in order.
TEST_F(InputTest, SmallPackedFileUnpackedOnceWhereItCan) {
  const std::string small = records(40);
  std::string big;
  while (big.size() < 1500000) big += small;
  tl_test_write("s.bdt", small);
  tl_test_write("big.bdt", big);
  for (const char* n : {"m1.bdt", "m2.bdt", "m3.bdt", "m4.bdt", "m5.bdt"}) tl_test_write(n, small);
  sh("gzip -9 -c big.bdt > big.gz && bzip2 -9 -c big.bdt > big.bz2 && zip -q -9 mixed.zip s.bdt big.bdt"
     " && zip -q four.zip m1.bdt m2.bdt m3.bdt m4.bdt && zip -q five.zip m1.bdt m2.bdt m3.bdt m4.bdt m5.bdt");
  struct want {
    const char* path;
    std::string text;
    int passes;
  };
  const std::string s5 = "[m1.bdt]" + small + "[m2.bdt]" + small + "[m3.bdt]" + small + "[m4.bdt]" + small;
  for (const want& w : {want{"big.gz", "[]" + big, 1}, want{"big.bz2", "[]" + big, 1},
                        want{"mixed.zip", "[s.bdt]" + small + "[big.bdt]" + big, 1},
                        want{"five.zip", s5 + "[m5.bdt]" + small, 1}, want{"four.zip", s5, 2}}) {
    ASSERT_LT(std::filesystem::file_size(w.path), 16384u) << w.path;  // tried on the calling thread
    int passes = 0;
    const std::string got = unpack_all(w.path, &passes);
    EXPECT_TRUE(got == w.text) << w.path << ": " << got.size() << " bytes, " << w.text.size() << " wanted";
    EXPECT_EQ(w.passes, passes) << w.path;
  }
}

// The writers rely on it: a missing file gives no document, and says so.
TEST_F(InputTest, MissingFileGivesNoDocument) {
  bool ok = true;
  int visits = 0;
  std::string err = tl_test_stderr([&] { ok = tl_each_document("no-such.bdt", [&](tl_document&) { visits++; }); });
  EXPECT_FALSE(ok);
  EXPECT_EQ(0, visits);
  EXPECT_EQ(1, tl_input_failures);
  // Once as the message, once from the log entry (as for the file driver).
  EXPECT_EQ("ERROR: Unable to open BDT file:no-such.bdt\nERROR: Unable to open BDT file:no-such.bdt\n", err);
  EXPECT_NE(std::string::npos, tl_test_read("tapelens.log").find("ERROR: Unable to open BDT file:no-such.bdt"));
}

TEST_F(InputTest, MembersInOrderTheirFailuresCounted) {
  tl_test_write("a.bdt", records(2));
  tl_test_write("b.bdt", records(5));
  tl_test_write("empty.bdt", "");
  sh("zip -q -P pw locked.zip a.bdt && zip -q locked.zip empty.bdt b.bdt");
  bool ok = true;
  std::string err = tl_test_stderr([&] {
    auto docs = read_documents("locked.zip", &ok);
    ASSERT_EQ(1u, docs.size());
    EXPECT_EQ("locked.zip:b.bdt", docs[0].name);
    EXPECT_EQ(records(5), docs[0].text);
  });
  EXPECT_FALSE(ok);
  EXPECT_EQ(1, tl_input_failures);
  EXPECT_EQ("ERROR: Unable to read BDT file:locked.zip:a.bdt: encrypted member, not read\n", err);
}

// A document left before its end: the unpacking thread is stopped though it
// waits on a pipe whose writer neither writes nor closes.
TEST_F(InputTest, ThreadStopsWhenTheReaderStopsEarly) {
  tl_test_write("bill.bdt", records(30000));
  sh("gzip -c bill.bdt > bill.gz");
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  // As much as the pipe holds, and the writer end stays open.
  ASSERT_EQ(0, fcntl(fds[1], F_SETFL, O_NONBLOCK));
  std::string gz = tl_test_read("bill.gz");
  ASSERT_GT(write(fds[1], gz.data(), gz.size()), 16384);
  auto t0 = std::chrono::steady_clock::now();
  {
    char magic[2];
    ASSERT_EQ(2, read(fds[0], magic, 2));
    tl_unpacker u(fds[0], magic, 2, false);
    std::string name, what;
    ASSERT_EQ(tl_unpacker::kMember, u.next(&name, &what));
    char buf[100];
    EXPECT_EQ(100, u.read(buf, sizeof buf));
  }  // the stream never ends: only the stop ends the thread
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
  close(fds[0]);
  close(fds[1]);
}

// However large the unpacked stream, the thread runs ahead by a bounded
// amount: with nobody reading, it stops, having read only part of the input.
TEST_F(InputTest, UnpackingRunsAheadByABoundedAmount) {
  sh("yes 100101010 | head -c 50000000 | gzip -1 > lines.gz");
  int fd = open("lines.gz", O_RDONLY);
  ASSERT_GE(fd, 0);
  tl_unpacker u(fd, "\x1f\x8b", 2, false);  // read again from the file
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  long long ahead = u.consumed();
  EXPECT_GT(ahead, 0);
  EXPECT_LT(ahead, static_cast<long long>(std::filesystem::file_size("lines.gz")));
  std::string name, what;
  ASSERT_EQ(tl_unpacker::kMember, u.next(&name, &what));
  EXPECT_EQ("", name);  // a compressed file that is no archive
  long long total = 0;
  char buf[1 << 16];
  for (long r; (r = u.read(buf, sizeof buf)) > 0;) total += r;
  EXPECT_EQ(50000000, total);
  EXPECT_EQ(tl_unpacker::kEnd, u.next(&name, &what));
  close(fd);
}

TEST_F(InputTest, GzipMembersJoinedAndBytesAfterThem) {
  tl_test_write("a.bdt", records(3));
  tl_test_write("b.bdt", records(4));
  sh("gzip -c a.bdt > two.gz && gzip -c b.bdt >> two.gz && cp two.gz tail.gz && printf 'junk' >> tail.gz");
  bool ok = false;
  auto docs = read_documents("two.gz", &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(1u, docs.size());
  EXPECT_EQ(records(3) + records(4), docs[0].text);
  std::string err = tl_test_stderr([&] { docs = read_documents("tail.gz", &ok); });
  EXPECT_FALSE(ok);
  ASSERT_EQ(1u, docs.size());
  EXPECT_TRUE(docs[0].failed);
  EXPECT_EQ(records(3) + records(4), docs[0].text);
  EXPECT_EQ("ERROR: Unable to read BDT file:tail.gz: bytes after the gzip data that are no gzip member\n", err);
}

TEST(Progress, LineFormAfterASecond) {
  int saved = dup(2);
  FILE* f = tmpfile();
  ASSERT_NE(nullptr, f);
  dup2(fileno(f), 2);
  tl_progress_start(tl_progress_when::always);
  tl_progress_note("bill.bdt", 1000000, 1000);  // within the first second: nothing
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  tl_progress_note("bill.bdt", 1000000, 501000);
  tl_progress_note("bill.bdt", 1000000, 600000);  // too soon after the last: nothing
  tl_progress_clear();
  tl_progress_clear();  // once erased, nothing more
  dup2(saved, 2);
  close(saved);
  rewind(f);
  char buf[512] = {};
  size_t n = fread(buf, 1, sizeof buf - 1, f);
  fclose(f);
  std::string got(buf, n);
  std::string head = "\rbill.bdt: 50%, ";
  ASSERT_EQ(head, got.substr(0, head.size())) << got;
  EXPECT_NE(std::string::npos, got.find(" MB/s, ")) << got;
  EXPECT_NE(std::string::npos, got.find(" left\033[K\r\033[K")) << got;
  EXPECT_EQ(got.size() - 4, got.find("\r\033[K", 1));
}

TEST(Progress, NeverWithoutATerminal) {
  int saved = dup(2);
  FILE* f = tmpfile();
  dup2(fileno(f), 2);
  tl_progress_start(tl_progress_when::automatic);  // standard error is a file
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  tl_progress_note("bill.bdt", 1000, 500);
  tl_progress_clear();
  dup2(saved, 2);
  close(saved);
  EXPECT_EQ(0, ftell(f));
  fclose(f);
  tl_progress_when w;
  EXPECT_TRUE(tl_progress_parse("never", &w));
  EXPECT_EQ(tl_progress_when::never, w);
  EXPECT_FALSE(tl_progress_parse("yes", &w));
}

}  // namespace

// The file and memory drivers: their document frames, their agreement on
// the records, and the memory driver's own rules (no filter, capacity).
#include "tl_core.h"

#include <cstdio>

#include "tl_formatters.h"
#include "tl_logging.h"
#include "tl_testutil.h"

namespace {

const std::string kDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";
const std::string kVersion = "Tapelens version 1.7.46.0";
const std::string kTextHeader = kVersion + "\r\n\t============================\r\n";
const std::string kPlainTrailer = TL_NOTICE "\r\n" TL_WEBSITE "\r\n";

// The memory driver's document frame (text before and after the records) in
// each format, with header and trailer on. The file driver's frames are
// those of the end-to-end cases.
const struct { const char* name; int format; std::string head, tail; } kFrames[] = {
    {"Text", 0, kTextHeader, kPlainTrailer},
    {"Csv", 1, "\t\t\"" + kVersion + "\"\r\n", "\"" TL_NOTICE "\"\r\n" TL_WEBSITE "\r\n"},
    {"Html", 2, kDecl + "<HTML><HEAD>\r\n</HEAD>\r\n<BODY>\r\n<H1>" + kVersion + "</H1><BR>\r\n",
     "<font size=\"small\">" TL_NOTICE "</font><br>\r\n<a href=\"" TL_WEBSITE "\">" TL_WEBSITE
     "</a><br>\r\n</BODY></HTML>\r\n\r\n"},
    {"Xml", 3, kDecl + "<Tapelens>\r\n<Header>" + kVersion + "</Header>\r\n",
     "<!-- " TL_NOTICE " -->\r\n<!-- " TL_WEBSITE " -->\r\n</Tapelens>\r\n\r\n"},
    {"Anon", 9, "", ""},
};

class DriverTest : public TlScratchDirTest {
 protected:
  void SetUp() override {
    TlScratchDirTest::SetUp();
    tl_test_names();
    char arg0[] = "tapelens";
    char* argv[] = {arg0, nullptr};
    init_globals(argv);
    display_bill = display_detail = display_csr = 1;
  }
  void TearDown() override {
    output_format = 0;
    TlScratchDirTest::TearDown();
  }
  // Each driver over the input; returns the document.
  static std::string core(const std::string& in) {
    tl_test_write("in.bdt", in);
    FILE* o = fopen("out", "w");
    EXPECT_EQ(kVersion + "\r\n", tl_test_stderr([&] { EXPECT_EQ(0, tl_core("in.bdt", o)); }));
    fclose(o);
    return tl_test_read("out");
  }
  static std::string buf(const std::string& in) {
    std::string doc;
    EXPECT_EQ(0, tl_core_buf(in.data(), in.size(), doc));
    return doc;
  }
};

TEST_F(DriverTest, BothDriversFrameEveryFormatAndAgreeOnTheRecords) {
  // Records of every kind the formatters treat differently: ordinary, inline
  // runs, amounts of both signs (the last field negative where it is an
  // amount), an index record; the inline run is open at the end.
  std::string in;
  for (const char* k : {"10010100", "10362450", "10362450", "10362350", "10300500", "30010100", "40010100",
                        "10360500", "10360500"}) {
    in += tl_test_rec(k, {{224, "J"}}, '1');
  }
  for (const auto& fr : kFrames) {
    SCOPED_TRACE(fr.name);
    output_format = fr.format;
    const std::string a = core(in), b = buf(in), frame_a = core("");
    ASSERT_GE(b.size(), fr.head.size() + fr.tail.size());
    EXPECT_EQ(fr.head + "|" + fr.tail, b.substr(0, fr.head.size()) + "|" + b.substr(b.size() - fr.tail.size()));
    const std::string body = b.substr(fr.head.size(), b.size() - fr.head.size() - fr.tail.size());
    EXPECT_GT(body.size(), 9 * 225u);
    // Both drivers close the open HTML table before the trailer.
    EXPECT_EQ(fr.format == 2, body.compare(body.size() - 12, 12, "</table><BR>") == 0);
    // The file driver writes the same records within its own frame.
    bool same = false;
    for (size_t k = 0; k <= frame_a.size() && !same; k++) same = a == frame_a.substr(0, k) + body + frame_a.substr(k);
    EXPECT_TRUE(same) << a;
  }
  // Header and trailer off: the memory driver's XML frame.
  print_header = print_trailer = 0;
  output_format = 3;
  EXPECT_EQ(kDecl + "<Tapelens>\r\n</Tapelens>\r\n\r\n", buf(""));
}

// The memory driver converts every record class.
TEST_F(DriverTest, OnlyTheFileDriverFiltersRecordClasses) {
  print_header = print_trailer = 0;
  print_recno = 1;
  display_bill = display_detail = display_csr = 0;
  const std::string in =
      tl_test_rec("10010101", {}, '2') + tl_test_rec("30030500", {}, '2') + tl_test_rec("40252000", {}, '2');
  EXPECT_EQ("", core(in));
  const std::string doc = buf(in);
  for (const char* key : {"100101.01:\r\n", "300305.00:\r\n", "402520.00:\r\n"}) {
    EXPECT_NE(std::string::npos, doc.find(key)) << key;
  }
}

TEST_F(DriverTest, BufferCapacityIsNeverExceeded) {
  const std::string in = tl_test_rec("10010100", {}, '0'), whole = buf(in);
  ASSERT_GT(whole.size(), 100u);
  std::vector<char> mem(whole.size() + 1 + 16);
  for (size_t cap : {1ul, 2ul, 50ul, whole.size(), whole.size() + 1}) {
    std::fill(mem.begin(), mem.end(), '#');
    mem[0] = '\0';
    EXPECT_EQ(cap > whole.size() ? 0 : -1, tl_core_buf(in.data(), mem.data(), static_cast<long>(in.size()), cap));
    EXPECT_EQ(whole.substr(0, cap - 1), std::string(mem.data())) << cap;
    for (size_t i = cap; i < mem.size(); i++) ASSERT_EQ('#', mem[i]) << "written past capacity " << cap;
  }
}

// The text header replaces what the buffer held; without it the records are
// appended to it.
TEST_F(DriverTest, BufferAppendsOrReplacesAsTheHeaderSays) {
  const std::string in = tl_test_rec("10010101", {}, '0');
  char mem[4096] = "KEEP";
  tl_core_buf(in.data(), mem, static_cast<long>(in.size()), sizeof mem);
  EXPECT_EQ(0, std::strncmp(mem, kTextHeader.c_str(), kTextHeader.size()));
  std::strcpy(mem, "KEEP");
  print_header = 0;
  tl_core_buf(in.data(), mem, static_cast<long>(in.size()), sizeof mem);
  EXPECT_EQ(0, std::strncmp(mem, "KEEP\t", 5));
}

}  // namespace

// Telling inputs apart: the edges of the fixed-length and EBCDIC tests and
// the magic numbers of what the real tools write.
#include "tl_detect.h"
#include "tl_ebcdic.h"
#include "tl_testutil.h"

namespace {

TEST(Detect, FixedLengthNeedsTwoRecordsWithoutALineEnd) {
  std::string s = "100101" + std::string(600, 'x');
  EXPECT_TRUE(tl_looks_fixed(s.data(), s.size()));
  EXPECT_FALSE(tl_looks_fixed(s.data(), 449));  // a short file keeps the usual cutting
  EXPECT_TRUE(tl_looks_fixed(s.data(), 450));
  for (char end : {'\r', '\n'}) {
    std::string t = s;
    t[449] = end;
    EXPECT_FALSE(tl_looks_fixed(t.data(), t.size()));
    t[449] = 'x';
    t[450] = end;  // beyond the two records looked at
    EXPECT_TRUE(tl_looks_fixed(t.data(), t.size()));
  }
  s[5] = ' ';
  EXPECT_FALSE(tl_looks_fixed(s.data(), s.size()));
}

TEST(Detect, EbcdicDigitsOnlyInTheFirstSix) {
  EXPECT_TRUE(tl_looks_ebcdic("\xf1\xf0\xf0\xf1\xf0\xf9", 6));
  EXPECT_FALSE(tl_looks_ebcdic("\xf1\xf0\xf0\xf1\xf0", 5));
  EXPECT_FALSE(tl_looks_ebcdic("\xf1\xf0\xf0\xf1\xf0\xfa", 6));
  EXPECT_FALSE(tl_looks_ebcdic("\xef\xf0\xf0\xf1\xf0\xf1", 6));
  EXPECT_FALSE(tl_looks_ebcdic("100101", 6));
}

TEST(Detect, MagicNumbers) {
  const struct {
    std::string head;
    tl_packing want;
  } cases[] = {
      {"\x1f\x8b\x08", tl_packing::compressed},
      {"BZh91AY", tl_packing::compressed},
      {std::string("\xfd" "7zXZ\0\0", 7), tl_packing::compressed},
      {"\x28\xb5\x2f\xfd\x24", tl_packing::compressed},
      {"PK\x03\x04\x14", tl_packing::archive},
      {"PK\x05\x06", tl_packing::archive},
      {"\x1f", tl_packing::none},
      {"PK\x03", tl_packing::none},
      {"100101010ABC", tl_packing::none},
  };
  for (const auto& c : cases) EXPECT_EQ(c.want, tl_detect_packing(c.head.data(), c.head.size())) << c.head;
  std::string tar(512, '\0');
  tar.replace(257, 6, std::string("ustar\0", 6));
  EXPECT_EQ(tl_packing::archive, tl_detect_packing(tar.data(), tar.size()));
  EXPECT_EQ(tl_packing::none, tl_detect_packing(tar.data(), 261));
}

TEST(Ebcdic, TablesFromIconv) {
  unsigned char t[256];
  ASSERT_TRUE(tl_ebcdic_table("IBM037", t));
  for (int d = 0; d < 10; d++) EXPECT_EQ('0' + d, t[0xF0 + d]);
  // The overpunch signs of zoned amounts: { A-I positive, } J-R negative.
  EXPECT_EQ('{', t[0xC0]);
  EXPECT_EQ('A', t[0xC1]);
  EXPECT_EQ('I', t[0xC9]);
  EXPECT_EQ('}', t[0xD0]);
  EXPECT_EQ('J', t[0xD1]);
  EXPECT_EQ('R', t[0xD9]);
  EXPECT_EQ(' ', t[0x40]);
  EXPECT_EQ('\r', t[0x0D]);
  EXPECT_EQ('\n', t[0x25]);
  EXPECT_EQ('\n', t[0x15]);  // z/OS's NL
  EXPECT_EQ('\0', t[0x00]);
  // Code pages differ where the brackets stand.
  unsigned char u[256];
  ASSERT_TRUE(tl_ebcdic_table("IBM1047", u));
  EXPECT_EQ('[', u[0xAD]);
  EXPECT_EQ('[', t[0xBA]);
  std::memcpy(u, t, sizeof u);
  EXPECT_FALSE(tl_ebcdic_table("NO-SUCH-CODE-PAGE", u));
  EXPECT_EQ(0, std::memcmp(u, t, sizeof u));
}

}  // namespace

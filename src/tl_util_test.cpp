#include "tl_util.h"

#include <gtest/gtest.h>

#include <cstring>

#include <string>

namespace {

struct AmountCase {
  const char* name;
  std::string data;
  int len;
  int dpoint;
  const char* want;
  int want_ind;  // the indicator after the call; callers preset 1
};

class AmountTest : public ::testing::TestWithParam<AmountCase> {};

TEST_P(AmountTest, FormatsLikeTheWorkedExamples) {
  const AmountCase& c = GetParam();
  char out[300];
  std::memset(out, 'x', sizeof out);
  int ind = 1;
  EXPECT_EQ(0, iFormatBDTamount(c.data.data(), c.len, c.dpoint, out, &ind));
  EXPECT_STREQ(c.want, out);
  EXPECT_EQ(c.want_ind, ind);
}

INSTANTIATE_TEST_SUITE_P(
    Amounts, AmountTest,
    ::testing::Values(
        AmountCase{"TwoDecimals", "123", 3, 2, "1.23", 1},
        AmountCase{"LeadingZerosStay", "007", 3, 2, "0.07", 1},
        AmountCase{"WholeNumber", "123", 3, 0, "123", 1},
        AmountCase{"PositiveOverpunchE", "12E", 3, 2, "1.25", 1},
        AmountCase{"NegativeOverpunchN", "12N", 3, 2, "1.25", 0},
        AmountCase{"NegativeZero", "00}", 3, 2, "0.00", 0},
        AmountCase{"PositiveZeroBrace", "00{", 3, 2, "0.00", 1},
        AmountCase{"PointFirstWhenAllDecimals", "123", 3, 3, ".123", 1},
        AmountCase{"NoPointWhenMoreDecimalsThanLength", "12", 2, 4, "12", 1},
        AmountCase{"TrailingBlankDropped", "12 ", 3, 2, "1.2", 1},
        AmountCase{"PointLeftDanglingBeforeDroppedChar", "12 ", 3, 1, "12.", 1},
        AmountCase{"OverpunchA", "00A", 3, 0, "001", 1},
        AmountCase{"OverpunchI", "00I", 3, 0, "009", 1},
        AmountCase{"OverpunchJ", "00J", 3, 0, "001", 0},
        AmountCase{"OverpunchR", "00R", 3, 0, "009", 0},
        AmountCase{"SignOnlyInLastPosition", "}J2", 3, 0, "}J2", 1},
        AmountCase{"InnerBlanksStay", " 1 2", 4, 2, " 1. 2", 1},
        AmountCase{"ZeroLength", "123", 0, 2, "", 1},
        AmountCase{"NulEndsTextEarly", std::string("12\0\0\0", 5), 5, 2, "12", 1},
        AmountCase{"NulRightAtThePointKeepsThePoint", std::string("123\0\0", 5), 5, 2, "123.", 1},
        AmountCase{"ElevenWithTwoDecimals", "0000012345}", 11, 2, "000001234.50", 0}),
    [](const ::testing::TestParamInfo<AmountCase>& i) { return std::string(i.param.name); });

TEST(AmountTest, ZeroLengthLeavesIndicatorAlone) {
  char out[8];
  int ind = 7;
  iFormatBDTamount("1}", 0, 0, out, &ind);
  EXPECT_EQ(7, ind);
  EXPECT_STREQ("", out);
}

// The fast form over a value cut from a record must agree with the classic
// form over the same value padded with NULs to the field's length.
TEST(AmountTest, CutValueFormMatchesPaddedForm) {
  const char* samples[] = {"1234567890}", "0000000001A", "12 45", "", "9", "  1", "ABCDEFGHIJR", "00000\r\n"};
  for (const char* s : samples) {
    size_t vlen = std::strlen(s);
    for (int len = 1; len <= 12; len++) {
      if (vlen > static_cast<size_t>(len)) continue;
      for (int dp = -1; dp <= 13; dp++) {
        char padded[32] = {0};
        std::memcpy(padded, s, vlen);
        char a[40], b[40];
        int ia = 5, ib = 5;
        iFormatBDTamount(padded, len, dp, a, &ia);
        size_t n = tl_format_amount(s, vlen, len, dp, b, &ib);
        EXPECT_STREQ(a, b) << s << " len " << len << " dp " << dp;
        EXPECT_EQ(std::strlen(b), n);
        EXPECT_EQ(ia, ib) << s << " len " << len << " dp " << dp;
      }
    }
  }
}

TEST(XmlNameTest, ReplacesTheSixCharactersOnly) {
  char out[64];
  iFixFieldNameForXML("Usage/Rate & Total", out);
  EXPECT_STREQ("Usage_Rate___Total", out);
  iFixFieldNameForXML("a\\b<c>d", out);
  EXPECT_STREQ("a_b_c_d", out);
  iFixFieldNameForXML("1st (x).y-z#,", out);
  EXPECT_STREQ("1st_(x).y-z#,", out);
  iFixFieldNameForXML("", out);
  EXPECT_STREQ("", out);
}

std::string run(void (*fn)(tl_out&, const char*, size_t), const std::string& v) {
  char buf[512];
  tl_out o(buf, sizeof buf);
  fn(o, v.data(), v.size());
  return std::string(o.buf, o.len);
}

std::string csv(const std::string& v, bool neg, bool special) {
  char buf[512];
  tl_out o(buf, sizeof buf);
  if (special) tl_put_csv_special(o, v.data(), v.size(), neg);
  else tl_put_csv(o, v.data(), v.size(), neg);
  return std::string(o.buf, o.len);
}

TEST(EscapeTest, XmlEntitiesAndBadBytes) {
  EXPECT_EQ("plain text 123", run(tl_put_xml, "plain text 123"));
  EXPECT_EQ("a&amp;b&lt;c&gt;d", run(tl_put_xml, "a&b<c>d"));
  EXPECT_EQ("tab\tcr\rlf\n", run(tl_put_xml, "tab\tcr\rlf\n"));
  EXPECT_EQ("?x???", run(tl_put_xml, std::string("\x01x\x7f\x80\xff", 5)));
  EXPECT_EQ("?", run(tl_put_xml, std::string("\0", 1)));
}

TEST(EscapeTest, HtmlEntitiesOnly) {
  EXPECT_EQ("&lt;b&gt;x&amp;y&lt;/b&gt;", run(tl_put_html, "<b>x&y</b>"));
  EXPECT_EQ("\x01\xe9\"'", run(tl_put_html, "\x01\xe9\"'"));
}

TEST(EscapeTest, CsvQuotesOnlyWhenNeeded) {
  EXPECT_EQ("abc 12", csv("abc 12", false, false));
  EXPECT_EQ("-1.25", csv("1.25", true, false));
  EXPECT_EQ("\"a,b\"", csv("a,b", false, false));
  EXPECT_EQ("\"a\"\"b\"", csv("a\"b", false, false));
  EXPECT_EQ("\"x\r\n\"", csv("x\r\n", false, false));
  EXPECT_EQ("\"-1,5\"", csv("1,5", true, false));
}

TEST(EscapeTest, CsvSpecialForm) {
  EXPECT_EQ("=\"007\"", csv("007", false, true));
  EXPECT_EQ("=\"-1.25\"", csv("1.25", true, true));
  EXPECT_EQ("\"=\"\"a,b\"\"\"", csv("a,b", false, true));
  EXPECT_EQ("\"=\"\"a\"\"\"\"b\"\"\"", csv("a\"b", false, true));
  EXPECT_EQ("\"=\"\"-1,2\"\"\"", csv("1,2", true, true));
}

TEST(OutTest, NeverWritesPastItsCapacity) {
  char buf[8];
  std::memset(buf, 'z', sizeof buf);
  tl_out o(buf, 6);
  o.put("abcdefgh");
  EXPECT_TRUE(o.full);
  EXPECT_EQ(5u, o.len);
  EXPECT_STREQ("abcde", buf);
  EXPECT_EQ('z', buf[6]);
  o.put('q');
  EXPECT_EQ(5u, o.len);
  o.clear();
  EXPECT_FALSE(o.full);
  o.put_all(tl_lit("ab"), tl_lit("cdef"));
  EXPECT_STREQ("abcde", buf) << "pieces that do not all fit go in as far as they fit";
  EXPECT_EQ('z', buf[6]);
}

TEST(OutTest, UnknownNoticePadsBeforeEscaping) {
  char buf[128];
  tl_out o(buf, sizeof buf);
  tl_put_unknown(o, "1&\r\n", 4, tl_escape::xml, tl_lit("\n"));
  EXPECT_STREQ("Unknown record type found: line = [  1&amp;\r\n]\n", buf);
  o.clear();
  tl_put_unknown(o, "1234567", 7, tl_escape::none, tl_lit("\r\n"));
  EXPECT_STREQ("Unknown record type found: line = [1234567]\r\n", buf);
}

}  // namespace

namespace {

// The word-at-a-time scanners must agree with a plain byte test for every
// byte value at every position of a word and of the tail.
TEST(EscapeTest, ScannersAgreeWithBytewiseTests) {
  auto csv_bad = [](unsigned char c) { return c == ',' || c == '"' || c == '\r' || c == '\n'; };
  auto html_bad = [](unsigned char c) { return c == '&' || c == '<' || c == '>'; };
  auto xml_bad = [&](unsigned char c) { return html_bad(c) || c < 0x20 || c >= 0x7f; };
  for (size_t len : {1u, 5u, 8u, 13u, 16u}) {
    for (size_t pos = 0; pos < len; pos++) {
      for (int v = 0; v < 256; v++) {
        std::string s(len, 'a');
        s[pos] = static_cast<char>(v);
        unsigned char c = static_cast<unsigned char>(v);
        ASSERT_EQ(!csv_bad(c), tl_csv_plain(s.data(), s.size())) << v << " at " << pos;
        ASSERT_EQ(!html_bad(c), tl_html_plain(s.data(), s.size())) << v << " at " << pos;
        ASSERT_EQ(!xml_bad(c), tl_xml_plain(s.data(), s.size())) << v << " at " << pos;
      }
    }
  }
  EXPECT_TRUE(tl_csv_plain("", 0));
}

}  // namespace

// Amounts, XML names, escaping and quoting, and the bounded output buffer.
#include "tl_util.h"

#include "tl_testutil.h"

namespace {

TEST(AmountTest, FormatsLikeTheWorkedExamples) {
  const struct { const char* name; std::string data; int len, dpoint; const char* want; int positive; } cases[] = {
      {"two decimals", "123", 3, 2, "1.23", 1},          {"leading zeros stay", "007", 3, 2, "0.07", 1},
      {"whole number", "123", 3, 0, "123", 1},           {"positive overpunch E", "12E", 3, 2, "1.25", 1},
      {"negative overpunch N", "12N", 3, 2, "1.25", 0},  {"negative zero", "00}", 3, 2, "0.00", 0},
      {"positive zero brace", "00{", 3, 2, "0.00", 1},   {"point first when all decimals", "123", 3, 3, ".123", 1},
      {"overpunch A", "00A", 3, 0, "001", 1},            {"overpunch I", "00I", 3, 0, "009", 1},
      {"overpunch J", "00J", 3, 0, "001", 0},            {"overpunch R", "00R", 3, 0, "009", 0},
      {"trailing blank dropped", "12 ", 3, 2, "1.2", 1}, {"inner blanks stay", " 1 2", 4, 2, " 1. 2", 1},
      {"no point when more decimals than length", "12", 2, 4, "12", 1},
      {"point left dangling before the dropped blank", "12 ", 3, 1, "12.", 1},
      {"sign only in the last position", "}J2", 3, 0, "}J2", 1},
      {"NUL ends the text early", std::string("12\0\0\0", 5), 5, 2, "12", 1},
      {"NUL right at the point keeps the point", std::string("123\0\0", 5), 5, 2, "123.", 1},
      {"eleven with two decimals", "0000012345}", 11, 2, "000001234.50", 0},
  };
  for (const auto& c : cases) {
    char out[64];
    std::memset(out, 'x', sizeof out);
    int ind = 1;  // callers preset it
    EXPECT_EQ(0, iFormatBDTamount(c.data.data(), c.len, c.dpoint, out, &ind)) << c.name;
    EXPECT_STREQ(c.want, out) << c.name;
    EXPECT_EQ(c.positive, ind) << c.name;
  }
  char out[8];
  int ind = 7;
  iFormatBDTamount("1}", 0, 0, out, &ind);
  EXPECT_STREQ("", out);
  EXPECT_EQ(7, ind) << "zero length leaves the indicator alone";
}

// The form over a value cut from a record must agree with the classic form
// over the same value padded with NULs to the field's length.
TEST(AmountTest, CutValueFormMatchesPaddedForm) {
  for (const char* s : {"1234567890}", "0000000001A", "12 45", "", "9", "  1", "ABCDEFGHIJR", "00000\r\n"}) {
    const size_t vlen = std::strlen(s);
    for (int len = static_cast<int>(vlen > 0 ? vlen : 1); len <= 12; len++) {
      for (int dp = -1; dp <= 13; dp++) {
        char padded[32] = {0}, a[40], b[40];
        std::memcpy(padded, s, vlen);
        int ia = 5, ib = 5;
        iFormatBDTamount(padded, len, dp, a, &ia);
        const size_t n = tl_format_amount(s, vlen, len, dp, b, &ib);
        EXPECT_STREQ(a, b) << s << " len " << len << " dp " << dp;
        EXPECT_EQ(std::strlen(b), n);
        EXPECT_EQ(ia, ib) << s << " len " << len << " dp " << dp;
      }
    }
  }
}

TEST(XmlNameTest, ReplacesTheSixCharactersOnly) {
  const std::pair<const char*, const char*> cases[] = {
      {"Usage/Rate & Total", "Usage_Rate___Total"}, {"a\\b<c>d", "a_b_c_d"}, {"1st (x).y-z#,", "1st_(x).y-z#,"},
      {"", ""}};
  for (const auto& c : cases) {
    char out[64];
    iFixFieldNameForXML(c.first, out);
    EXPECT_STREQ(c.second, out);
  }
}

std::string put(void (*fn)(tl_out&, const char*, size_t), const std::string& v) {
  return tl_test_out([&](tl_out& o) { fn(o, v.data(), v.size()); });
}
std::string csv(const std::string& v, bool neg, bool special) {
  return tl_test_out([&](tl_out& o) { (special ? tl_put_csv_special : tl_put_csv)(o, v.data(), v.size(), neg); });
}

TEST(EscapeTest, XmlHtmlAndCsv) {
  // XML: & < > as entities, control bytes, DEL and bytes >= 0x80 as '?';
  // tab, CR and LF stay. HTML: the three entities only.
  EXPECT_EQ("plain text 123", put(tl_put_xml, "plain text 123"));
  EXPECT_EQ("a&amp;b&lt;c&gt;d", put(tl_put_xml, "a&b<c>d"));
  EXPECT_EQ("tab\tcr\rlf\n", put(tl_put_xml, "tab\tcr\rlf\n"));
  EXPECT_EQ("??x???", put(tl_put_xml, std::string("\0\x01x\x7f\x80\xff", 6)));
  EXPECT_EQ("&lt;b&gt;x&amp;y&lt;/b&gt;", put(tl_put_html, "<b>x&y</b>"));
  EXPECT_EQ("\x01\xe9\"'", put(tl_put_html, "\x01\xe9\"'"));
  // CSV: quoted only for , " CR LF, the sign inside the quotes; the special
  // form ="..." quoted as a whole.
  EXPECT_EQ("abc 12", csv("abc 12", false, false));
  EXPECT_EQ("-1.25", csv("1.25", true, false));
  EXPECT_EQ("\"a,b\"", csv("a,b", false, false));
  EXPECT_EQ("\"a\"\"b\"", csv("a\"b", false, false));
  EXPECT_EQ("\"x\r\n\"", csv("x\r\n", false, false));
  EXPECT_EQ("\"-1,5\"", csv("1,5", true, false));
  EXPECT_EQ("=\"007\"", csv("007", false, true));
  EXPECT_EQ("=\"-1.25\"", csv("1.25", true, true));
  EXPECT_EQ("\"=\"\"a,b\"\"\"", csv("a,b", false, true));
  EXPECT_EQ("\"=\"\"a\"\"\"\"b\"\"\"", csv("a\"b", false, true));
  EXPECT_EQ("\"=\"\"-1,2\"\"\"", csv("1,2", true, true));
}

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

// Pieces that do not all fit go in as far as they fit.
TEST(OutTest, NeverWritesPastItsCapacity) {
  char buf[8] = "zzzzzzz";
  tl_out o(buf, 6);
  o.put("abcdefgh");
  o.put('q');
  EXPECT_TRUE(o.full && o.len == 5 && std::string(buf, 8) == std::string("abcde\0z", 8));
  o.clear();
  EXPECT_FALSE(o.full);
  o.put_all(tl_lit("ab"), tl_lit("cdef"));
  EXPECT_TRUE(o.full && o.len == 5 && std::string(buf, 8) == std::string("abcde\0z", 8));
}

// The record text is padded to six characters before it is escaped.
TEST(OutTest, UnknownRecordNotice) {
  const struct { std::string rec; tl_escape esc; std::string want; } cases[] = {
      {"1&\r\n", tl_escape::xml, "  1&amp;\r\n"}, {"1234\r\n", tl_escape::xml, "1234\r\n"},
      {"", tl_escape::xml, "      "},             {"1234567", tl_escape::none, "1234567"}};
  for (const auto& c : cases) {
    EXPECT_EQ("Unknown record type found: line = [" + c.want + "]\n",
              tl_test_out([&](tl_out& o) { tl_put_unknown(o, c.rec.data(), c.rec.size(), c.esc, tl_lit("\n")); }));
  }
}

}  // namespace

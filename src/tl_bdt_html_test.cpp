// HTML formatter: the page header, the field lines, the table runs of inline
// layouts, and the escaping of record texts and values.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tl_bdt.h"
#include "tl_formatters.h"
#include "tl_globals.h"
#include "tl_testutil.h"

namespace {

// A 100101.01 record: three text fields and a filler.
std::string rec_100101_01(const std::string& f61 = "ABCDEFGHIJKLMNO") {
  return tl_test_rec("10010101", {{61, f61}, {76, "0123456789ABC"}, {89, "WXYZ"}}, '0');
}
const std::string kLines23 =
    "Pos 077-089 text:&nbsp;<b>0123456789ABC</b><BR>\nPos 090-093 text:&nbsp;<b>WXYZ</b><BR>\n";
const std::string kLines = "Pos 062-076 text:&nbsp;<b>ABCDEFGHIJKLMNO</b><BR>\n" + kLines23 + "<BR>";

// A record of the inline layout 103624.50 with a negative amount; mark tells
// the rows apart.
std::string rec624(char mark) {
  return tl_test_rec("10362450",
                     {{62, std::string(1, mark)}, {63, "BBBBBB"}, {69, "CCCCCCCCCC"}, {79, "DDDDDDDDDD"},
                      {89, std::string(90, 'E')}, {199, "000000001234N"}, {221, "FF"}, {223, "G"}, {224, "H"}},
                     '0');
}
const std::string kHead624 =
    "<table><tr><td>Pos 063-063 text</td><td>Pos 064-069 text</td><td>Pos 070-079 text</td>"
    "<td>Pos 080-089 text</td><td>Pos 090-179 text</td><td>Pos 200-212 amount 4 decimals</td>"
    "<td>Pos 222-223 text</td><td>Pos 224-224 text</td><td>Pos 225-225 text</td></tr>";
std::string row624(char mark) {
  return "<tr><td>" + std::string(1, mark) + "</td><td>BBBBBB</td><td>CCCCCCCCCC</td><td>DDDDDDDDDD</td><td>" +
         std::string(90, 'E') + "</td><td>-000000001.2345</td><td>FF</td><td>G</td><td>H</td></tr>\n";
}

// A record of the inline layout 103623.50, all zeros.
const std::string kRec623 = tl_test_rec("10362350", {}, '0');
const std::string kHead623 =
    "<table><tr><td>Pos 064-069 text</td><td>Pos 070-079 text</td><td>Pos 080-089 text</td>"
    "<td>Pos 090-179 text</td><td>Pos 200-200 text</td><td>Pos 201-202 text</td></tr>";
const std::string kRow623 = "<tr><td>000000</td><td>0000000000</td><td>0000000000</td><td>" +
                            std::string(90, '0') + "</td><td>0</td><td>00</td></tr>\n";

class HtmlFormatter : public ::testing::Test {
 protected:
  void SetUp() override {
    tl_test_names();
    tl_test_settings(0, 0, 0, 0);
    bodyonly_flag = 0;
    init_bdt_html();
  }
  void TearDown() override { SetUp(); }

  static std::string run(const std::string& rec) { return tl_test_format(psParseBDTrecord_html, {rec}); }
};

TEST_F(HtmlFormatter, TableRuns) {
  const std::string close = " </table><BR>";
  const std::string unknown = tl_test_rec("10010102", {}, '0');
  struct Step {
    std::string record, expected;
    int table_open;  // iHTMLtableOpen() afterwards
  };
  const struct { const char* name; int recno, types; std::vector<Step> steps; } cases[] = {
      {"three inline records, then another layout", 0, 0,
       {{rec624('1'), " <hr>" + kHead624 + row624('1'), 1},
        {rec624('2'), " " + row624('2'), 1},
        {rec624('3'), " " + row624('3'), 1},
        {rec_100101_01(), close + "<hr>" + kLines, 0}}},
      {"inline after non-inline opens a new table", 0, 0,
       {{rec624('1'), " <hr>" + kHead624 + row624('1'), 1},
        {rec_100101_01(), close + "<hr>" + kLines, 0},
        {rec624('2'), " <hr>" + kHead624 + row624('2'), 1}}},
      {"another inline layout closes and opens", 0, 0,
       {{rec624('1'), " <hr>" + kHead624 + row624('1'), 1},
        {kRec623, close + "<hr>" + kHead623 + kRow623, 1},
        {rec624('2'), close + "<hr>" + kHead624 + row624('2'), 1}}},
      {"unknown record leaves the table open", 0, 0,
       {{rec624('1'), " <hr>" + kHead624 + row624('1'), 1},
        {unknown, " Unknown record type found: line = [" + unknown + "]<BR>", 1},
        {rec624('2'), " " + row624('2'), 1}}},
      {"non-inline records", 0, 0, {{rec_100101_01(), " <hr>" + kLines, 0}, {rec_100101_01(), " <hr>" + kLines, 0}}},
      {"headings only where a table starts", 1, 1,
       {{rec624('1'), " <hr><h2>103624.50: Bill record 103624.50</h2>\n" + kHead624 + row624('1'), 1},
        {rec624('2'), " " + row624('2'), 1},
        {rec_100101_01(), close + "<hr><h2>100101.01: Bill record 100101.01</h2>\n" + kLines, 0}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    init_bdt_html();
    tl_test_settings(c.recno, c.types, 0, 0);
    for (size_t i = 0; i < c.steps.size(); i++) {
      EXPECT_EQ(run(c.steps[i].record), c.steps[i].expected) << "record " << i + 1;
      EXPECT_EQ(iHTMLtableOpen(), c.steps[i].table_open) << "record " << i + 1;
    }
  }
  // A new input forgets the table: no closing tag, a new header row.
  tl_test_settings(0, 0, 0, 0);
  init_bdt_html();
  EXPECT_EQ(iHTMLtableOpen(), 0);
  EXPECT_EQ(run(rec624('2')), " <hr>" + kHead624 + row624('2'));
}

TEST_F(HtmlFormatter, Records) {
  const std::string bad("A&B<C>D\x01\x7f\xc3\xa9\tZ\"'", 15);
  std::string bad_raw = rec_100101_01(bad);
  bad_raw.replace(61, 7, "A&amp;B&lt;C&gt;D");
  std::string common = rec_100101_01();
  tl_test_put(common, 8, "7ABCDEFGHIJKLM0123456789XYZ000J12345678}thirteen char");
  const struct { const char* name; int recno, types, raw, common; std::string record, expected; } cases[] = {
      {"defaults", 0, 0, 0, 0, rec_100101_01(), " <hr>" + kLines},
      {"key heading", 1, 0, 0, 0, rec_100101_01(), " <hr><h2>100101.01: </h2>\n" + kLines},
      {"type heading", 0, 1, 0, 0, rec_100101_01(), " <hr><h2>Bill record 100101.01</h2>\n" + kLines},
      {"raw text escaped before the heading", 1, 0, 1, 0, rec_100101_01(bad),
       " <hr><p>" + bad_raw + "</p><h2>100101.01: </h2>\n" +
           "Pos 062-076 text:&nbsp;<b>A&amp;B&lt;C&gt;D\x01\x7f\xc3\xa9\tZ\"'</b><BR>\n" + kLines23 + "<BR>"},
      {"common block as cut", 0, 0, 0, 1, common,
       " <hr>Record identifier pos 001-006:&nbsp;<b>100101</b><BR>\n"
       "Record suffix pos 007-008:&nbsp;<b>01</b><BR>\n"
       "Pos 009-009 amount 0 decimals:&nbsp;<b>7</b><BR>\n"
       "Pos 010-014 text:&nbsp;<b>ABCDE</b><BR>\n"
       "Pos 015-022 text:&nbsp;<b>FGHIJKLM</b><BR>\n"
       "Pos 023-032 text:&nbsp;<b>0123456789</b><BR>\n"
       "Pos 033-035 text:&nbsp;<b>XYZ</b><BR>\n"
       "Pos 036-039 amount 0 decimals:&nbsp;<b>000J</b><BR>\n"
       "Pos 040-048 amount 0 decimals:&nbsp;<b>12345678}</b><BR>\n"
       "Pos 049-061 text:&nbsp;<b>thirteen char</b><BR>\n" + kLines},
      {"negative amount inside the bold element", 0, 0, 0, 0,
       tl_test_rec("10269050", {{61, "0000000012N"}, {72, "0000001234{"}}, '0'),
       " <hr>Pos 062-072 amount 2 decimals:&nbsp;<b>-000000001.25</b><BR>\n"
       "Pos 073-083 amount 2 decimals:&nbsp;<b>000000123.40</b><BR>\n<BR>"},
      {"unknown short record padded", 1, 1, 1, 1, "12\r\n", " Unknown record type found: line = [  12\r\n]<BR>"},
      {"unknown record padded, then escaped", 0, 0, 0, 0, "<&\r\n",
       " Unknown record type found: line = [  &lt;&amp;\r\n]<BR>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    init_bdt_html();
    tl_test_settings(c.recno, c.types, c.raw, c.common);
    EXPECT_EQ(run(c.record), c.expected);
  }
  // Whatever the buffer held is replaced by the record's output.
  char storage[4096];
  tl_out o(storage, sizeof storage);
  o.lit("left over");
  psParseBDTrecord_html("12\r\n", o);
  EXPECT_EQ(std::string(o.buf, o.len), " Unknown record type found: line = [  12\r\n]<BR>");
}

TEST_F(HtmlFormatter, PageHeader) {
  const std::string doctype =
      "<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\" \"http://www.w3.org/TR/html4/loose.dtd\">"
      "<html><head><title>Tapelens Report for ACME</title></head><body><a name=\"top\"></a>\n";
  const std::string heading =
      "<h1><img src=\"tapelens.gif\" alt=\"Icon\" align=\"middle\" height=\"96\" width=\"96\">"
      "&nbsp;&nbsp;Tapelens Report for ACME</h1>\nCustom Header Information for ACME<br><br>\n";
  const struct {
    int bodyonly, header;
    std::string expected;
  } cases[] = {{0, 1, doctype + heading}, {0, 0, doctype}, {1, 1, heading}, {1, 0, ""}};
  for (const auto& c : cases) {
    bodyonly_flag = c.bodyonly;
    char storage[4096];
    tl_out o(storage, sizeof storage);
    EXPECT_EQ(psHTML_tl_header(o, "ACME", c.header), 0);
    EXPECT_EQ(std::string(o.buf, o.len), c.expected) << "-b " << c.bodyonly << ", header " << c.header;
  }
}

}  // namespace

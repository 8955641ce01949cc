// Checks of the HTML formatter: the page header, the field lines, the table
// runs of inline layouts, and the escaping of record texts and values.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tl_bdt.h"
#include "tl_formatters.h"
#include "tl_globals.h"
#include "tl_testutil.h"

namespace {

class HtmlFormatter : public ::testing::Test {
 protected:
  void SetUp() override {
    tl_test_names();
    print_recno = 0;
    print_types = 0;
    print_raw = 0;
    print_common = 0;
    bodyonly_flag = 0;
    init_bdt_html();
  }
  void TearDown() override { SetUp(); }

  static std::string run(const std::string& rec) {
    static char storage[16384];
    tl_out o(storage, sizeof storage);
    EXPECT_EQ(psParseBDTrecord_html(rec.c_str(), o), 0);
    EXPECT_FALSE(o.full);
    return std::string(o.buf, o.len);
  }
};

// A 100101.01 record as read from a file: three text fields and a filler.
std::string rec_100101_01(const std::string& f61 = "ABCDEFGHIJKLMNO") {
  std::string r = tl_test_record("10010101");
  tl_test_put(r, 61, f61);
  tl_test_put(r, 76, "0123456789ABC");
  tl_test_put(r, 89, "WXYZ");
  return r + "\r\n";
}
const std::string kLines_100101_01 =
    "Pos 062-076 text:&nbsp;<b>ABCDEFGHIJKLMNO</b><BR>\n"
    "Pos 077-089 text:&nbsp;<b>0123456789ABC</b><BR>\n"
    "Pos 090-093 text:&nbsp;<b>WXYZ</b><BR>\n";

// A record of the inline layout 103624.50; mark tells the rows apart. Its
// amount (13 places, 4 decimals) is negative.
std::string rec_103624_50(char mark) {
  std::string r = tl_test_record("10362450");
  tl_test_put(r, 62, std::string(1, mark));
  tl_test_put(r, 63, "BBBBBB");
  tl_test_put(r, 69, "CCCCCCCCCC");
  tl_test_put(r, 79, "DDDDDDDDDD");
  tl_test_put(r, 89, std::string(90, 'E'));
  tl_test_put(r, 199, "000000001234N");
  tl_test_put(r, 221, "FF");
  tl_test_put(r, 223, "G");
  tl_test_put(r, 224, "H");
  return r + "\r\n";
}
const std::string kHead_103624_50 =
    "<table><tr><td>Pos 063-063 text</td><td>Pos 064-069 text</td><td>Pos 070-079 text</td>"
    "<td>Pos 080-089 text</td><td>Pos 090-179 text</td><td>Pos 200-212 amount 4 decimals</td>"
    "<td>Pos 222-223 text</td><td>Pos 224-224 text</td><td>Pos 225-225 text</td></tr>";
std::string row_103624_50(char mark) {
  return "<tr><td>" + std::string(1, mark) +
         "</td><td>BBBBBB</td><td>CCCCCCCCCC</td><td>DDDDDDDDDD</td><td>" + std::string(90, 'E') +
         "</td><td>-000000001.2345</td><td>FF</td><td>G</td><td>H</td></tr>\n";
}

// A record of the inline layout 103623.50, all zeros.
const std::string kRec_103623_50 = tl_test_record("10362350") + "\r\n";
const std::string kHead_103623_50 =
    "<table><tr><td>Pos 064-069 text</td><td>Pos 070-079 text</td><td>Pos 080-089 text</td>"
    "<td>Pos 090-179 text</td><td>Pos 200-200 text</td><td>Pos 201-202 text</td></tr>";
const std::string kRow_103623_50 = "<tr><td>000000</td><td>0000000000</td><td>0000000000</td><td>" +
                                   std::string(90, '0') + "</td><td>0</td><td>00</td></tr>\n";

// A record whose suffix no layout has.
const std::string kUnknown = tl_test_record("10010102") + "\r\n";

struct Step {
  std::string record;
  std::string expected;
  int table_open;  // iHTMLtableOpen() afterwards
};
struct SequenceCase {
  const char* name;
  int recno, types;
  std::vector<Step> steps;
};

TEST_F(HtmlFormatter, TableRuns) {
  const std::string close = "</table><BR>";
  const std::string lines = kLines_100101_01 + "<BR>";
  const std::vector<SequenceCase> cases = {
      {"three_inline_records_then_another_layout", 0, 0,
       {{rec_103624_50('1'), " <hr>" + kHead_103624_50 + row_103624_50('1'), 1},
        {rec_103624_50('2'), " " + row_103624_50('2'), 1},
        {rec_103624_50('3'), " " + row_103624_50('3'), 1},
        {rec_100101_01(), " " + close + "<hr>" + lines, 0}}},
      {"inline_after_non_inline_opens_a_new_table", 0, 0,
       {{rec_103624_50('1'), " <hr>" + kHead_103624_50 + row_103624_50('1'), 1},
        {rec_100101_01(), " " + close + "<hr>" + lines, 0},
        {rec_103624_50('2'), " <hr>" + kHead_103624_50 + row_103624_50('2'), 1}}},
      {"another_inline_layout_closes_and_opens", 0, 0,
       {{rec_103624_50('1'), " <hr>" + kHead_103624_50 + row_103624_50('1'), 1},
        {kRec_103623_50, " " + close + "<hr>" + kHead_103623_50 + kRow_103623_50, 1},
        {rec_103624_50('2'), " " + close + "<hr>" + kHead_103624_50 + row_103624_50('2'), 1}}},
      {"unknown_record_leaves_the_table_open", 0, 0,
       {{rec_103624_50('1'), " <hr>" + kHead_103624_50 + row_103624_50('1'), 1},
        {kUnknown, " Unknown record type found: line = [" + kUnknown + "]<BR>", 1},
        {rec_103624_50('2'), " " + row_103624_50('2'), 1}}},
      {"non_inline_records", 0, 0,
       {{rec_100101_01(), " <hr>" + lines, 0}, {rec_100101_01(), " <hr>" + lines, 0}}},
      {"headings_only_where_a_table_starts", 1, 1,
       {{rec_103624_50('1'),
         " <hr><h2>103624.50: Bill record 103624.50</h2>\n" + kHead_103624_50 + row_103624_50('1'), 1},
        {rec_103624_50('2'), " " + row_103624_50('2'), 1},
        {rec_100101_01(), " " + close + "<hr><h2>100101.01: Bill record 100101.01</h2>\n" + lines, 0}}},
  };
  for (const SequenceCase& c : cases) {
    SCOPED_TRACE(c.name);
    init_bdt_html();
    print_recno = c.recno;
    print_types = c.types;
    for (size_t i = 0; i < c.steps.size(); i++) {
      SCOPED_TRACE("record " + std::to_string(i + 1));
      EXPECT_EQ(run(c.steps[i].record), c.steps[i].expected);
      EXPECT_EQ(iHTMLtableOpen(), c.steps[i].table_open);
    }
  }
}

TEST_F(HtmlFormatter, ResetForgetsTheTable) {
  run(rec_103624_50('1'));
  ASSERT_EQ(iHTMLtableOpen(), 1);
  init_bdt_html();
  EXPECT_EQ(iHTMLtableOpen(), 0);
  // No closing tag for a table of the previous input, and a new header row.
  EXPECT_EQ(run(rec_103624_50('2')), " <hr>" + kHead_103624_50 + row_103624_50('2'));
}

struct RecordCase {
  const char* name;
  int recno, types, raw, common;
  std::string record;
  std::string expected;
};

TEST_F(HtmlFormatter, Records) {
  std::string hostile = rec_100101_01(std::string("A&B<C>D\x01\x7f\xc3\xa9\tZ\"'", 15));
  std::string hostile_raw = hostile;
  hostile_raw.replace(61, 7, "A&amp;B&lt;C&gt;D");
  std::string amounts = tl_test_record("10269050");
  tl_test_put(amounts, 61, "0000000012N");
  tl_test_put(amounts, 72, "0000001234{");
  std::string common = rec_100101_01();
  tl_test_put(common, 8, "7ABCDEFGHIJKLM0123456789XYZ000J12345678}thirteen char");

  const std::vector<RecordCase> cases = {
      {"defaults", 0, 0, 0, 0, rec_100101_01(), " <hr>" + kLines_100101_01 + "<BR>"},
      {"recno_heading", 1, 0, 0, 0, rec_100101_01(),
       " <hr><h2>100101.01: </h2>\n" + kLines_100101_01 + "<BR>"},
      {"types_heading", 0, 1, 0, 0, rec_100101_01(),
       " <hr><h2>Bill record 100101.01</h2>\n" + kLines_100101_01 + "<BR>"},
      {"raw_text_escaped_before_heading", 1, 0, 1, 0, hostile,
       " <hr><p>" + hostile_raw + "</p><h2>100101.01: </h2>\n"
       "Pos 062-076 text:&nbsp;<b>A&amp;B&lt;C&gt;D\x01\x7f\xc3\xa9\tZ\"'</b><BR>\n"
       "Pos 077-089 text:&nbsp;<b>0123456789ABC</b><BR>\n"
       "Pos 090-093 text:&nbsp;<b>WXYZ</b><BR>\n<BR>"},
      {"common_block_as_cut", 0, 0, 0, 1, common,
       " <hr>"
       "Record identifier pos 001-006:&nbsp;<b>100101</b><BR>\n"
       "Record suffix pos 007-008:&nbsp;<b>01</b><BR>\n"
       "Pos 009-009 amount 0 decimals:&nbsp;<b>7</b><BR>\n"
       "Pos 010-014 text:&nbsp;<b>ABCDE</b><BR>\n"
       "Pos 015-022 text:&nbsp;<b>FGHIJKLM</b><BR>\n"
       "Pos 023-032 text:&nbsp;<b>0123456789</b><BR>\n"
       "Pos 033-035 text:&nbsp;<b>XYZ</b><BR>\n"
       "Pos 036-039 amount 0 decimals:&nbsp;<b>000J</b><BR>\n"
       "Pos 040-048 amount 0 decimals:&nbsp;<b>12345678}</b><BR>\n"
       "Pos 049-061 text:&nbsp;<b>thirteen char</b><BR>\n" +
           kLines_100101_01 + "<BR>"},
      {"negative_amount_inside_bold", 0, 0, 0, 0, amounts + "\r\n",
       " <hr>"
       "Pos 062-072 amount 2 decimals:&nbsp;<b>-000000001.25</b><BR>\n"
       "Pos 073-083 amount 2 decimals:&nbsp;<b>000000123.40</b><BR>\n<BR>"},
      {"unknown_short_padded", 1, 1, 1, 1, "12\r\n", " Unknown record type found: line = [  12\r\n]<BR>"},
      {"unknown_padded_then_escaped", 0, 0, 0, 0, "<&\r\n",
       " Unknown record type found: line = [  &lt;&amp;\r\n]<BR>"},
  };
  for (const RecordCase& c : cases) {
    SCOPED_TRACE(c.name);
    init_bdt_html();
    print_recno = c.recno;
    print_types = c.types;
    print_raw = c.raw;
    print_common = c.common;
    EXPECT_EQ(run(c.record), c.expected);
  }
}

TEST_F(HtmlFormatter, FieldLinesFollowTheDisplayNames) {
  // The names in force when an input starts are the ones written; swap one
  // name of a layout and one of the common block, start an input, put them back.
  int r = tl_test_layout("10010101");
  ASSERT_GE(r, 0);
  char* old_field = bdtr_list[r].fields[1].field_name;
  char* old_common = bdtf_common[1].field_name;
  char field_name[] = "Usage/Rate & Total";
  char common_name[] = "Suffix";
  bdtr_list[r].fields[1].field_name = field_name;
  bdtf_common[1].field_name = common_name;
  init_bdt_html();
  print_common = 1;
  const std::string out = run(rec_100101_01());
  bdtr_list[r].fields[1].field_name = old_field;
  bdtf_common[1].field_name = old_common;
  init_bdt_html();

  EXPECT_EQ(out,
            " <hr>"
            "Record identifier pos 001-006:&nbsp;<b>100101</b><BR>\n"
            "Suffix:&nbsp;<b>01</b><BR>\n"
            "Pos 009-009 amount 0 decimals:&nbsp;<b>0</b><BR>\n"
            "Pos 010-014 text:&nbsp;<b>00000</b><BR>\n"
            "Pos 015-022 text:&nbsp;<b>00000000</b><BR>\n"
            "Pos 023-032 text:&nbsp;<b>0000000000</b><BR>\n"
            "Pos 033-035 text:&nbsp;<b>000</b><BR>\n"
            "Pos 036-039 amount 0 decimals:&nbsp;<b>0000</b><BR>\n"
            "Pos 040-048 amount 0 decimals:&nbsp;<b>000000000</b><BR>\n"
            "Pos 049-061 text:&nbsp;<b>0000000000000</b><BR>\n"
            "Pos 062-076 text:&nbsp;<b>ABCDEFGHIJKLMNO</b><BR>\n"
            "Usage/Rate & Total:&nbsp;<b>0123456789ABC</b><BR>\n"
            "Pos 090-093 text:&nbsp;<b>WXYZ</b><BR>\n<BR>");
  // And the catalogue's own names again.
  print_common = 0;
  EXPECT_EQ(run(rec_100101_01()), " <hr>" + kLines_100101_01 + "<BR>");
}

TEST_F(HtmlFormatter, RecordOutputReplacesTheBuffer) {
  char storage[4096];
  tl_out o(storage, sizeof storage);
  o.lit("left over");
  psParseBDTrecord_html("12\r\n", o);
  EXPECT_EQ(std::string(o.buf, o.len), " Unknown record type found: line = [  12\r\n]<BR>");
}

TEST_F(HtmlFormatter, PageHeader) {
  const std::string doctype =
      "<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\" "
      "\"http://www.w3.org/TR/html4/loose.dtd\">"
      "<html><head><title>Tapelens Report for ACME</title></head><body><a name=\"top\"></a>\n";
  const std::string heading =
      "<h1><img src=\"tapelens.gif\" alt=\"Icon\" align=\"middle\" height=\"96\" width=\"96\">"
      "&nbsp;&nbsp;Tapelens Report for ACME</h1>\n"
      "Custom Header Information for ACME<br><br>\n";
  struct HeaderCase {
    const char* name;
    int bodyonly, header;
    std::string expected;
  };
  const HeaderCase cases[] = {
      {"page_with_heading", 0, 1, doctype + heading},
      {"page_without_heading", 0, 0, doctype},
      {"body_only_with_heading", 1, 1, heading},
      {"body_only_without_heading", 1, 0, ""},
  };
  for (const HeaderCase& c : cases) {
    SCOPED_TRACE(c.name);
    bodyonly_flag = c.bodyonly;
    char storage[4096];
    tl_out o(storage, sizeof storage);
    EXPECT_EQ(psHTML_tl_header(o, "ACME", c.header), 0);
    EXPECT_EQ(std::string(o.buf, o.len), c.expected);
  }
}

}  // namespace

// XML formatter: element and line order, the settings that add lines,
// amounts, element names and the escaping that keeps documents well-formed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tl_bdt.h"
#include "tl_formatters.h"
#include "tl_globals.h"
#include "tl_names.h"
#include "tl_testutil.h"

namespace {

// A 100101.01 record: three text fields and a filler.
std::string rec_100101_01(const std::string& f61 = "ABCDEFGHIJKLMNO") {
  return tl_test_rec("10010101", {{61, f61}, {76, "0123456789ABC"}, {89, "WXYZ"}}, '0');
}
const std::string kOpen = "<Bill_record_100101.01 recordID=\"100101.01\">\r\n";
const std::string kFields23 =
    "\t<Pos_077-089_text>0123456789ABC</Pos_077-089_text>\r\n\t<Pos_090-093_text>WXYZ</Pos_090-093_text>\r\n";
const std::string kFields = "\t<Pos_062-076_text>ABCDEFGHIJKLMNO</Pos_062-076_text>\r\n" + kFields23;
const std::string kClose = "</Bill_record_100101.01>\r\n\r\n";
const std::string kBody = kOpen + kFields + kClose;

class XmlFormatter : public ::testing::Test {
 protected:
  void SetUp() override {
    tl_test_names();
    tl_test_settings(0, 0, 0, 0);
    init_bdt_xml();
  }
  void TearDown() override { SetUp(); }
};

TEST_F(XmlFormatter, Records) {
  const std::string rec = rec_100101_01();
  std::string common = rec;
  tl_test_put(common, 8, "7ABCDEFGHIJKLM0123456789XYZ000J12345678}thirteen char");
  std::string raw = rec_100101_01(std::string("<&>\x1b", 4) + "12345678901");
  std::string raw_escaped = raw;
  raw_escaped.replace(61, 4, "&lt;&amp;&gt;?");
  std::string unknown = tl_test_rec("10010102", {{10, "<&>"}}, '0');
  std::string unknown_escaped = unknown;
  unknown_escaped.replace(10, 3, "&lt;&amp;&gt;");
  const std::string notice = "Unknown record type found: line = [";
  const struct { const char* name; int recno, types, raw, common; std::string record, expected; } cases[] = {
      {"defaults", 0, 0, 0, 0, rec, kBody},
      {"key, raw and type lines in that order before the start tag", 1, 1, 1, 0, rec,
       "100101.01:\r\nBill record 100101.01: record = [" + rec + "]\r\nBill record 100101.01\r\n" + kBody},
      {"type line alone", 0, 1, 0, 0, rec, "Bill record 100101.01\r\n" + kBody},
      {"raw line escaped", 0, 0, 1, 0, raw,
       "Bill record 100101.01: record = [" + raw_escaped + "]\r\n" + kOpen +
           "\t<Pos_062-076_text>&lt;&amp;&gt;?12345678901</Pos_062-076_text>\r\n" + kFields23 + kClose},
      {"common block first, values as cut", 0, 0, 0, 1, common,
       kOpen +
           "\t<Record_identifier_pos_001-006>100101</Record_identifier_pos_001-006>\r\n"
           "\t<Record_suffix_pos_007-008>01</Record_suffix_pos_007-008>\r\n"
           "\t<Pos_009-009_amount_0_decimals>7</Pos_009-009_amount_0_decimals>\r\n"
           "\t<Pos_010-014_text>ABCDE</Pos_010-014_text>\r\n"
           "\t<Pos_015-022_text>FGHIJKLM</Pos_015-022_text>\r\n"
           "\t<Pos_023-032_text>0123456789</Pos_023-032_text>\r\n"
           "\t<Pos_033-035_text>XYZ</Pos_033-035_text>\r\n"
           "\t<Pos_036-039_amount_0_decimals>000J</Pos_036-039_amount_0_decimals>\r\n"
           "\t<Pos_040-048_amount_0_decimals>12345678}</Pos_040-048_amount_0_decimals>\r\n"
           "\t<Pos_049-061_text>thirteen char</Pos_049-061_text>\r\n" +
           kFields + kClose},
      {"negative and positive amounts", 0, 0, 0, 0,
       tl_test_rec("10269050", {{61, "0000000012N"}, {72, "0000001234{"}}),
       "<Bill_record_102690.50 recordID=\"102690.50\">\r\n"
       "\t<Pos_062-072_amount_2_decimals>-000000001.25</Pos_062-072_amount_2_decimals>\r\n"
       "\t<Pos_073-083_amount_2_decimals>000000123.40</Pos_073-083_amount_2_decimals>\r\n"
       "</Bill_record_102690.50>\r\n\r\n"},
      {"negative zero", 0, 0, 0, 0, tl_test_rec("10269050", {{61, "0000000000}"}, {72, "0000000000A"}}),
       "<Bill_record_102690.50 recordID=\"102690.50\">\r\n"
       "\t<Pos_062-072_amount_2_decimals>-000000000.00</Pos_062-072_amount_2_decimals>\r\n"
       "\t<Pos_073-083_amount_2_decimals>000000000.01</Pos_073-083_amount_2_decimals>\r\n"
       "</Bill_record_102690.50>\r\n\r\n"},
      {"short record: line end in the first value, the others empty", 0, 0, 0, 0,
       tl_test_record("10010101").substr(0, 61) + "ABC\r\n",
       kOpen + "\t<Pos_062-076_text>ABC\r\n</Pos_062-076_text>\r\n\t<Pos_077-089_text></Pos_077-089_text>\r\n"
               "\t<Pos_090-093_text></Pos_090-093_text>\r\n" + kClose},
      // & < > become entities; control bytes, DEL and bytes >= 0x80 become '?';
      // tab and quotes stay.
      {"entities and bad bytes", 0, 0, 0, 0, rec_100101_01(std::string("A&B<C>D\x01\x7f\xc3\xa9\tZ\"'", 15)),
       kOpen + "\t<Pos_062-076_text>A&amp;B&lt;C&gt;D????\tZ\"'</Pos_062-076_text>\r\n" + kFields23 + kClose},
      {"unknown record: the notice is all, escaped", 1, 1, 1, 1, unknown, notice + unknown_escaped + "]\n"},
      {"unknown short record padded", 1, 1, 1, 1, "12\r\n", notice + "  12\r\n]\n"},
      // Padding counts the record's own characters, not the entities.
      {"unknown short record padded, then escaped", 0, 0, 0, 0, "<&\r\n", notice + "  &lt;&amp;\r\n]\n"},
      {"six characters are not padded", 0, 0, 0, 0, "1234\r\n", notice + "1234\r\n]\n"},
      {"empty record", 0, 0, 0, 0, "", notice + "      ]\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tl_test_settings(c.recno, c.types, c.raw, c.common);
    EXPECT_EQ(tl_test_format(psParseBDTrecord_xml, {c.record}), c.expected);
  }
}

// The element names are made from the display names in force when an input
// starts: two names are swapped, an input started, and the names put back.
TEST_F(XmlFormatter, ElementNamesFollowTheDisplayNames) {
  bdt_record_tag& layout = bdtr_list[tl_test_layout("10010101")];
  char* old_record = layout.record_name;
  char* old_field = layout.fields[1].field_name;
  char record_name[] = "Usage/Rate & Total";
  char field_name[] = "x\\y<z>";
  layout.record_name = record_name;
  layout.fields[1].field_name = field_name;
  tl_name_texts::names_changed();
  init_bdt_xml();
  tl_test_settings(0, 1, 0, 0);
  const std::string out = tl_test_format(psParseBDTrecord_xml, {rec_100101_01()});
  layout.record_name = old_record;
  layout.fields[1].field_name = old_field;
  tl_name_texts::names_changed();
  init_bdt_xml();
  EXPECT_EQ(out,
            "Usage/Rate & Total\r\n"
            "<Usage_Rate___Total recordID=\"100101.01\">\r\n"
            "\t<Pos_062-076_text>ABCDEFGHIJKLMNO</Pos_062-076_text>\r\n"
            "\t<x_y_z_>0123456789ABC</x_y_z_>\r\n"
            "\t<Pos_090-093_text>WXYZ</Pos_090-093_text>\r\n"
            "</Usage_Rate___Total>\r\n\r\n");
  tl_test_settings(0, 0, 0, 0);
  EXPECT_EQ(tl_test_format(psParseBDTrecord_xml, {rec_100101_01()}), kBody);
}

}  // namespace

// Checks of the XML formatter: element and line order, the settings that add
// lines, amounts, element names and the escaping that keeps documents
// well-formed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tl_bdt.h"
#include "tl_formatters.h"
#include "tl_globals.h"
#include "tl_testutil.h"

namespace {

class XmlFormatter : public ::testing::Test {
 protected:
  void SetUp() override {
    tl_test_names();
    print_recno = 0;
    print_types = 0;
    print_raw = 0;
    print_common = 0;
    init_bdt_xml();
  }
  void TearDown() override { SetUp(); }

  static std::string run(const std::string& rec) {
    static char storage[16384];
    tl_out o(storage, sizeof storage);
    EXPECT_EQ(psParseBDTrecord_xml(rec.c_str(), o), 0);
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

const char kBody_100101_01[] =
    "<Bill_record_100101.01 recordID=\"100101.01\">\r\n"
    "\t<Pos_062-076_text>ABCDEFGHIJKLMNO</Pos_062-076_text>\r\n"
    "\t<Pos_077-089_text>0123456789ABC</Pos_077-089_text>\r\n"
    "\t<Pos_090-093_text>WXYZ</Pos_090-093_text>\r\n"
    "</Bill_record_100101.01>\r\n\r\n";

struct SettingsCase {
  const char* name;
  int recno, raw, types, common;
  std::string expected;
};

TEST_F(XmlFormatter, SettingsShapeTheRecord) {
  const std::string rec = rec_100101_01();
  // The common block of that record, as cut (never formatted as amounts).
  const std::string common =
      "\t<Record_identifier_pos_001-006>100101</Record_identifier_pos_001-006>\r\n"
      "\t<Record_suffix_pos_007-008>01</Record_suffix_pos_007-008>\r\n"
      "\t<Pos_009-009_amount_0_decimals>0</Pos_009-009_amount_0_decimals>\r\n"
      "\t<Pos_010-014_text>00000</Pos_010-014_text>\r\n"
      "\t<Pos_015-022_text>00000000</Pos_015-022_text>\r\n"
      "\t<Pos_023-032_text>0000000000</Pos_023-032_text>\r\n"
      "\t<Pos_033-035_text>000</Pos_033-035_text>\r\n"
      "\t<Pos_036-039_amount_0_decimals>0000</Pos_036-039_amount_0_decimals>\r\n"
      "\t<Pos_040-048_amount_0_decimals>000000000</Pos_040-048_amount_0_decimals>\r\n"
      "\t<Pos_049-061_text>0000000000000</Pos_049-061_text>\r\n";
  const std::string open = "<Bill_record_100101.01 recordID=\"100101.01\">\r\n";
  const std::string body = std::string(kBody_100101_01).substr(open.size());
  const std::vector<SettingsCase> cases = {
      {"defaults", 0, 0, 0, 0, kBody_100101_01},
      {"recno", 1, 0, 0, 0, "100101.01:\r\n" + std::string(kBody_100101_01)},
      {"types", 0, 0, 1, 0, "Bill record 100101.01\r\n" + std::string(kBody_100101_01)},
      {"raw", 0, 1, 0, 0,
       "Bill record 100101.01: record = [" + rec + "]\r\n" + std::string(kBody_100101_01)},
      {"recno_raw_types_in_order", 1, 1, 1, 0,
       "100101.01:\r\n"
       "Bill record 100101.01: record = [" + rec + "]\r\n"
       "Bill record 100101.01\r\n" + std::string(kBody_100101_01)},
      {"common_first", 0, 0, 0, 1, open + common + body},
  };
  for (const SettingsCase& c : cases) {
    SCOPED_TRACE(c.name);
    print_recno = c.recno;
    print_raw = c.raw;
    print_types = c.types;
    print_common = c.common;
    EXPECT_EQ(run(rec), c.expected);
  }
}

TEST_F(XmlFormatter, CommonBlockIsWrittenAsCut) {
  // Amount-like common fields keep their sign characters and digits.
  std::string r = rec_100101_01();
  tl_test_put(r, 8, "7ABCDEFGHIJKLM0123456789XYZ000J12345678}thirteen char");
  print_common = 1;
  const std::string out = run(r);
  const std::string expected_common =
      "\t<Record_identifier_pos_001-006>100101</Record_identifier_pos_001-006>\r\n"
      "\t<Record_suffix_pos_007-008>01</Record_suffix_pos_007-008>\r\n"
      "\t<Pos_009-009_amount_0_decimals>7</Pos_009-009_amount_0_decimals>\r\n"
      "\t<Pos_010-014_text>ABCDE</Pos_010-014_text>\r\n"
      "\t<Pos_015-022_text>FGHIJKLM</Pos_015-022_text>\r\n"
      "\t<Pos_023-032_text>0123456789</Pos_023-032_text>\r\n"
      "\t<Pos_033-035_text>XYZ</Pos_033-035_text>\r\n"
      "\t<Pos_036-039_amount_0_decimals>000J</Pos_036-039_amount_0_decimals>\r\n"
      "\t<Pos_040-048_amount_0_decimals>12345678}</Pos_040-048_amount_0_decimals>\r\n"
      "\t<Pos_049-061_text>thirteen char</Pos_049-061_text>\r\n";
  const std::string open = "<Bill_record_100101.01 recordID=\"100101.01\">\r\n";
  EXPECT_EQ(out, open + expected_common + std::string(kBody_100101_01).substr(open.size()));
}

struct ValueCase {
  const char* name;
  std::string record;
  std::string expected;
};

TEST_F(XmlFormatter, Values) {
  std::string amounts = tl_test_record("10269050");
  tl_test_put(amounts, 61, "0000000012N");
  tl_test_put(amounts, 72, "0000001234{");
  std::string negzero = tl_test_record("10269050");
  tl_test_put(negzero, 61, "0000000000}");
  tl_test_put(negzero, 72, "0000000000A");
  // Cut short by its end: the first field holds the line end, the others are empty.
  std::string shortrec = tl_test_record("10010101").substr(0, 61) + "ABC\r\n";

  const std::vector<ValueCase> cases = {
      {"negative_and_positive_amounts", amounts + "\r\n",
       "<Bill_record_102690.50 recordID=\"102690.50\">\r\n"
       "\t<Pos_062-072_amount_2_decimals>-000000001.25</Pos_062-072_amount_2_decimals>\r\n"
       "\t<Pos_073-083_amount_2_decimals>000000123.40</Pos_073-083_amount_2_decimals>\r\n"
       "</Bill_record_102690.50>\r\n\r\n"},
      {"negative_zero", negzero + "\r\n",
       "<Bill_record_102690.50 recordID=\"102690.50\">\r\n"
       "\t<Pos_062-072_amount_2_decimals>-000000000.00</Pos_062-072_amount_2_decimals>\r\n"
       "\t<Pos_073-083_amount_2_decimals>000000000.01</Pos_073-083_amount_2_decimals>\r\n"
       "</Bill_record_102690.50>\r\n\r\n"},
      {"short_record", shortrec,
       "<Bill_record_100101.01 recordID=\"100101.01\">\r\n"
       "\t<Pos_062-076_text>ABC\r\n</Pos_062-076_text>\r\n"
       "\t<Pos_077-089_text></Pos_077-089_text>\r\n"
       "\t<Pos_090-093_text></Pos_090-093_text>\r\n"
       "</Bill_record_100101.01>\r\n\r\n"},
      {"entities_and_bad_bytes",
       // & < > become entities; control bytes, DEL and bytes >= 0x80 become '?';
       // tab and quotes stay.
       rec_100101_01(std::string("A&B<C>D\x01\x7f\xc3\xa9\tZ\"'", 15)),
       "<Bill_record_100101.01 recordID=\"100101.01\">\r\n"
       "\t<Pos_062-076_text>A&amp;B&lt;C&gt;D????\tZ\"'</Pos_062-076_text>\r\n"
       "\t<Pos_077-089_text>0123456789ABC</Pos_077-089_text>\r\n"
       "\t<Pos_090-093_text>WXYZ</Pos_090-093_text>\r\n"
       "</Bill_record_100101.01>\r\n\r\n"},
  };
  for (const ValueCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(run(c.record), c.expected);
  }
}

TEST_F(XmlFormatter, RawLineIsEscaped) {
  print_raw = 1;
  const std::string rec = rec_100101_01(std::string("<&>\x1b", 4) + "12345678901");
  std::string raw = rec;
  raw.replace(61, 4, "&lt;&amp;&gt;?");
  const std::string out = run(rec);
  const std::string line = "Bill record 100101.01: record = [" + raw + "]\r\n";
  ASSERT_GE(out.size(), line.size());
  EXPECT_EQ(out.substr(0, line.size()), line);
}

TEST_F(XmlFormatter, UnknownRecords) {
  std::string full = tl_test_record("10010102", '0') + "\r\n";
  std::string hostile = full;
  hostile.replace(10, 3, "<&>");
  std::string hostile_escaped = full;
  hostile_escaped.replace(10, 3, "&lt;&amp;&gt;");
  const std::vector<ValueCase> cases = {
      {"unknown_suffix", full, "Unknown record type found: line = [" + full + "]\n"},
      {"short_padded", "12\r\n", "Unknown record type found: line = [  12\r\n]\n"},
      // Padding counts the record's own characters, not the entities.
      {"short_padded_then_escaped", "<&\r\n", "Unknown record type found: line = [  &lt;&amp;\r\n]\n"},
      {"six_chars_not_padded", "1234\r\n", "Unknown record type found: line = [1234\r\n]\n"},
      {"empty", "", "Unknown record type found: line = [      ]\n"},
      {"escaped", hostile, "Unknown record type found: line = [" + hostile_escaped + "]\n"},
  };
  for (const ValueCase& c : cases) {
    SCOPED_TRACE(c.name);
    print_recno = 1;  // the notice is all there is, whatever the settings
    print_types = 1;
    EXPECT_EQ(run(c.record), c.expected);
  }
}

TEST_F(XmlFormatter, ElementNamesFollowTheDisplayNames) {
  // The element names in force are those of the display names when the input
  // starts; swap two names, start an input, and put them back.
  int r = tl_test_layout("10010101");
  ASSERT_GE(r, 0);
  bdt_record_tag& layout = bdtr_list[r];
  char* old_record = layout.record_name;
  char* old_field = layout.fields[1].field_name;
  char record_name[] = "Usage/Rate & Total";
  char field_name[] = "x\\y<z>";
  layout.record_name = record_name;
  layout.fields[1].field_name = field_name;
  init_bdt_xml();
  print_types = 1;
  const std::string out = run(rec_100101_01());
  layout.record_name = old_record;
  layout.fields[1].field_name = old_field;
  init_bdt_xml();

  EXPECT_EQ(out,
            "Usage/Rate & Total\r\n"
            "<Usage_Rate___Total recordID=\"100101.01\">\r\n"
            "\t<Pos_062-076_text>ABCDEFGHIJKLMNO</Pos_062-076_text>\r\n"
            "\t<x_y_z_>0123456789ABC</x_y_z_>\r\n"
            "\t<Pos_090-093_text>WXYZ</Pos_090-093_text>\r\n"
            "</Usage_Rate___Total>\r\n\r\n");
  // And the catalogue's own names again.
  print_types = 0;
  EXPECT_EQ(run(rec_100101_01()), kBody_100101_01);
}

TEST_F(XmlFormatter, PartsCalledDirectly) {
  const std::string rec = rec_100101_01();
  static char storage[4096];
  tl_out o(storage, sizeof storage);
  psParseBDTfields_xml(rec.c_str(), tl_test_layout("10010101"), o);
  const std::string body = kBody_100101_01;
  const std::string fields = body.substr(body.find("\r\n") + 2);  // after the start tag
  EXPECT_EQ(std::string(o.buf, o.len), fields.substr(0, fields.find("</Bill")));
  o.clear();
  psParseBDTcommonFields_xml("1001", o);
  EXPECT_EQ(std::string(o.buf, o.len),
            "\t<Record_identifier_pos_001-006>1001</Record_identifier_pos_001-006>\r\n"
            "\t<Record_suffix_pos_007-008></Record_suffix_pos_007-008>\r\n"
            "\t<Pos_009-009_amount_0_decimals></Pos_009-009_amount_0_decimals>\r\n"
            "\t<Pos_010-014_text></Pos_010-014_text>\r\n"
            "\t<Pos_015-022_text></Pos_015-022_text>\r\n"
            "\t<Pos_023-032_text></Pos_023-032_text>\r\n"
            "\t<Pos_033-035_text></Pos_033-035_text>\r\n"
            "\t<Pos_036-039_amount_0_decimals></Pos_036-039_amount_0_decimals>\r\n"
            "\t<Pos_040-048_amount_0_decimals></Pos_040-048_amount_0_decimals>\r\n"
            "\t<Pos_049-061_text></Pos_049-061_text>\r\n");
}

}  // namespace

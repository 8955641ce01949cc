// CSV formatter: line shapes, the special form and signs, the inline header
// rules, and the quoting that keeps the columns in place.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tl_formatters.h"
#include "tl_globals.h"
#include "tl_testutil.h"

namespace {

// Layout 300305.00: (61,10) special text, (71,4) text.
std::string r305(const std::string& a, const std::string& b) { return tl_test_rec("30030500", {{61, a}, {71, b}}); }
const std::string kBody305 = ",Pos 062-071 text,=\"007       \"\r\n,Pos 072-075 text,ABCD\r\n\r\n";

// Layout 103624.50 (inline): (62,1) (63,6) (69,10) (79,10) (89,90)
// (199,13 amount 4) (221,2) (223,1) (224,1).
std::string r624(const std::string& second) {
  return tl_test_rec("10362450", {{62, "K"}, {63, second}, {69, "LLLLLLLLLL"}, {79, "MMMMMMMMMM"}, {89, "N"},
                                  {199, "000000001250J"}, {221, "PQ"}, {223, "R"}, {224, "S"}});
}
const std::string kHead624 =
    "Pos 063-063 text,Pos 064-069 text,Pos 070-079 text,Pos 080-089 text,Pos 090-179 text,"
    "Pos 200-212 amount 4 decimals,Pos 222-223 text,Pos 224-224 text,Pos 225-225 text,\r\n";
std::string v624(const std::string& second) {
  return "K," + second + ",LLLLLLLLLL,MMMMMMMMMM,N" + std::string(89, ' ') + ",-000000001.2501,PQ,R,S,\r\n";
}

const auto& r623 = tl_test_r623;
const auto& v623 = tl_test_v623;
const std::string& kHead623 = tl_test_head623;
const std::string kUnknown = tl_test_rec("10362399");
const std::string kUnknownLine = "Unknown record type found: line = [" + kUnknown + "]\n";

struct Case {
  const char* name;
  int recno, types, raw, common;
  std::vector<std::string> records;  // one input
  std::string expected;
};

class CsvTest : public ::testing::Test {
 protected:
  void SetUp() override { tl_test_names(); }
  void TearDown() override { tl_test_settings(0, 0, 0, 0); }

  static void run_cases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      init_bdt_csv();
      tl_test_settings(c.recno, c.types, c.raw, c.common);
      EXPECT_EQ(tl_test_format(psParseBDTrecord_csv, c.records), c.expected);
    }
  }
};

TEST_F(CsvTest, RecordLines) {
  std::string common = r305("007", "ABCD");
  tl_test_put(common, 8, "7A,B  20260101CUST000001XYZ012J00000000{NOTE\"Q1234567");
  run_cases({
      {"special text keeps its zeros in the quoted form; an empty line ends the record", 0, 0, 0, 0,
       {r305("007", "ABCD")}, kBody305},
      {"key and type lines", 1, 1, 0, 0, {r305("007", "ABCD")},
       "300305.00:\r\nSupplemental Detail record 300305.00 \r\n" + kBody305},
      {"raw line, with the record's line end, instead of the type line", 0, 1, 1, 0, {r305("007", "ABCD")},
       "Supplemental Detail record 300305.00: record = [" + r305("007", "ABCD") + "]\r\n" + kBody305},
      {"raw without types writes nothing more", 0, 0, 1, 0, {r305("007", "ABCD")}, kBody305},
      {"common block first, values raw but quoted where needed", 0, 0, 0, 1, {common},
       ",Record identifier pos 001-006,300305\r\n,Record suffix pos 007-008,00\r\n"
       ",Pos 009-009 amount 0 decimals,7\r\n,Pos 010-014 text,\"A,B  \"\r\n,Pos 015-022 text,20260101\r\n"
       ",Pos 023-032 text,CUST000001\r\n,Pos 033-035 text,XYZ\r\n,Pos 036-039 amount 0 decimals,012J\r\n"
       ",Pos 040-048 amount 0 decimals,00000000{\r\n,Pos 049-061 text,\"NOTE\"\"Q1234567\"\r\n" + kBody305},
      {"no common block for inline records", 0, 0, 0, 1, {r623("A00001")}, kHead623 + v623("A00001")},
      {"amounts: decimal point, sign, a comma quotes the value with its sign", 0, 0, 0, 0,
       {tl_test_rec("10269050", {{61, "00000000125"}, {72, "0000,00012N"}})},
       ",Pos 062-072 amount 2 decimals,000000001.25\r\n,Pos 073-083 amount 2 decimals,\"-0000,0001.25\"\r\n\r\n"},
      {"special amount: minus sign inside the quotes; negative zero", 0, 0, 0, 0,
       {tl_test_rec("10352750", {{61, "ACCOUNT0001"}, {72, "000000012N"}, {82, "XY"}, {84, "00}"}, {224, "Z"}})},
       ",Pos 062-072 text,ACCOUNT0001\r\n,Pos 073-082 amount 0 decimals,=\"-0000000125\"\r\n"
       ",Pos 083-084 text,XY\r\n,Pos 085-087 amount 0 decimals,-000\r\n,Pos 225-225 text,Z\r\n\r\n"},
      {"comma in a special amount", 0, 0, 0, 0,
       {tl_test_rec("10352750", {{61, "ACCOUNT0001"}, {72, "0,0000012N"}, {82, "XY"}, {84, "123"}, {224, "Z"}})},
       ",Pos 062-072 text,ACCOUNT0001\r\n,Pos 073-082 amount 0 decimals,\"=\"\"-0,00000125\"\"\"\r\n"
       ",Pos 083-084 text,XY\r\n,Pos 085-087 amount 0 decimals,123\r\n,Pos 225-225 text,Z\r\n\r\n"},
      {"comma in special text, quote in text", 0, 0, 0, 0, {r305("a,b", "A\"BC")},
       ",Pos 062-071 text,\"=\"\"a,b       \"\"\"\r\n,Pos 072-075 text,\"A\"\"BC\"\r\n\r\n"},
      {"quote in special text, comma in text", 0, 0, 0, 0, {r305("a\"b", "A,BC")},
       ",Pos 062-071 text,\"=\"\"a\"\"\"\"b       \"\"\"\r\n,Pos 072-075 text,\"A,BC\"\r\n\r\n"},
      {"short record: line end inside the last value", 0, 0, 0, 0,
       {tl_test_record("30030500", ' ').substr(0, 61) + "0000000007AB\r\n"},
       ",Pos 062-071 text,=\"0000000007\"\r\n,Pos 072-075 text,\"AB\r\n\"\r\n\r\n"},
      {"short record: special value with the line end, field beyond the end empty", 0, 0, 0, 0,
       {tl_test_record("30030500", ' ').substr(0, 61) + "00007\r\n"},
       ",Pos 062-071 text,\"=\"\"00007\r\n\"\"\"\r\n,Pos 072-075 text,\r\n\r\n"},
      {"unknown record: whole text, bare line feed", 1, 1, 1, 1, {kUnknown}, kUnknownLine},
      {"unknown short record padded to six characters", 0, 0, 0, 0, {"12\r\n"},
       "Unknown record type found: line = [  12\r\n]\n"},
  });
}

TEST_F(CsvTest, InlineHeaderLines) {
  run_cases({
      {"three of one type: one header", 0, 0, 0, 0, {r623("A00001"), r623("A00002"), r623("A00003")},
       kHead623 + v623("A00001") + v623("A00002") + v623("A00003")},
      {"type changes: a header each time", 0, 0, 0, 0, {r624("B00001"), r623("A00001"), r624("B00002")},
       kHead624 + v624("B00001") + kHead623 + v623("A00001") + kHead624 + v624("B00002")},
      {"ordinary record between: header again", 0, 0, 0, 0, {r623("A00001"), r305("007", "ABCD"), r623("A00002")},
       kHead623 + v623("A00001") + kBody305 + kHead623 + v623("A00002")},
      {"unknown record between: one header", 0, 0, 0, 0, {r623("A00001"), kUnknown, r623("A00002")},
       kHead623 + v623("A00001") + kUnknownLine + v623("A00002")},
      {"unknown record first: header still due", 0, 0, 0, 0, {kUnknown, r623("A00001")},
       kUnknownLine + kHead623 + v623("A00001")},
      {"key line before the header line", 1, 0, 0, 0, {r623("A00001"), r623("A00002")},
       "103623.50:\r\n" + kHead623 + v623("A00001") + "103623.50:\r\n" + v623("A00002")},
      {"key and type lines before the header line", 1, 1, 0, 0, {r623("A00001")},
       "103623.50:\r\nBill record 103623.50 \r\n" + kHead623 + v623("A00001")},
  });
  // A new input starts without a current inline type.
  tl_test_settings(0, 0, 0, 0);
  init_bdt_csv();
  EXPECT_EQ(tl_test_format(psParseBDTrecord_csv, {r623("A00001")}), kHead623 + v623("A00001"));
  init_bdt_csv();
  EXPECT_EQ(tl_test_format(psParseBDTrecord_csv, {r623("A00002")}), kHead623 + v623("A00002"));
}

}  // namespace

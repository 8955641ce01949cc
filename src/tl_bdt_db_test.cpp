// Database load formatter: header lines on layout change, the running index
// over the whole run, and values that keep their columns.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tl_formatters.h"
#include "tl_globals.h"
#include "tl_testutil.h"

namespace {

std::string z(size_t n) { return std::string(n, '0'); }
std::string zeros(const std::string& key8) { return tl_test_rec(key8, {}, '0'); }

// The index records 103005.00 and 103010.00, and 103016.00 (an ordinary
// layout whose identifier shares five characters with 103010), all zeros.
const std::string kHead005 =
    "103005.00, Index, Pos 070-077 text,Pos 078-089 text,Pos 090-105 text,Pos 106-108 amount 0 decimals,"
    "Pos 109-109 text,Pos 110-125 text,Pos 142-142 text,Pos 143-143 text,Pos 144-146 amount 0 decimals,"
    "Pos 147-166 text,Pos 224-224 text,Pos 225-225 text,\r\n";
std::string line005(int index) {
  return "103005.00," + std::to_string(index) + "," + z(8) + "," + z(12) + "," + z(16) + ",000,0," + z(16) +
         ",0,0,000," + z(20) + ",0,0,\r\n";
}
const std::string kHead010 =
    "103010.00, Index, Pos 072-076 text,Pos 077-126 text,Pos 127-129 amount 0 decimals,Pos 130-140 text,"
    "Pos 141-141 text,Pos 142-144 amount 0 decimals,Pos 224-224 text,Pos 225-225 text,\r\n";
std::string line010(int index) {
  return "103010.00," + std::to_string(index) + ",00000," + z(50) + ",000," + z(11) + ",0,000,0,0,\r\n";
}
const std::string kHead016 =
    "103016.00, Index, Pos 062-064 text,Pos 065-109 text,Pos 110-154 text,Pos 155-199 text,Pos 200-200 text,\r\n";
std::string line016(int index) {
  return "103016.00," + std::to_string(index) + ",000," + z(45) + "," + z(45) + "," + z(45) + ",0,\r\n";
}

// Layout 300305.00: (61,10) special text, (71,4) text.
const std::string kHead305 = "300305.00, Index, Pos 062-071 text,Pos 072-075 text,\r\n";
const std::string kRec305 = tl_test_rec("30030500", {{61, "007"}, {71, "ABCD"}});
std::string line305(int index) { return "300305.00," + std::to_string(index) + ",007       ,ABCD,\r\n"; }

class DbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tl_test_names();
    tl_test_settings(0, 0, 0, 0);
    reset_bdt_db();
  }
  void TearDown() override { SetUp(); }

  static std::string run(const std::vector<std::string>& recs) { return tl_test_format(psParseBDTrecord_db, recs); }
};

TEST_F(DbTest, IndexAndHeaderLines) {
  const std::string unknown = tl_test_rec("10300599");
  const struct { const char* name; std::vector<std::string> records; std::string expected; } cases[] = {
      {"index records number the records after them",
       {zeros("10300500"), zeros("10301600"), zeros("10301600"), zeros("10301000"), zeros("10301600")},
       kHead005 + line005(1) + kHead016 + line016(1) + line016(1) + kHead010 + line010(2) + kHead016 + line016(2)},
      {"before any index record the index is 0", {kRec305, kRec305}, kHead305 + line305(0) + line305(0)},
      {"an unknown record neither counts nor brings a second header", {kRec305, unknown, kRec305},
       kHead305 + line305(0) + "Unknown record type found: line = [" + unknown + "]\n" + line305(0)},
      {"short unknown record padded to six characters", {"12\r\n"}, "Unknown record type found: line = [  12\r\n]\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    reset_bdt_db();
    EXPECT_EQ(run(c.records), c.expected);
  }
}

TEST_F(DbTest, ValuesAndSettings) {
  std::string common = kRec305;
  tl_test_put(common, 8, "7A,B  20260101CUST000001XYZ012J00000000{NOTE\"Q1234567");
  const struct {
    const char* name;
    int recno, types, raw, common;
    std::string record;
    std::string expected;
  } cases[] = {
      {"key and type lines have no effect", 1, 1, 0, 0, kRec305, kHead305 + line305(0)},
      {"raw line before the header line", 0, 0, 1, 0, kRec305,
       "Supplemental Detail record 300305.00: record = [" + kRec305 + "]\r\n" + kHead305 + line305(0)},
      {"common block names after Index, values after the index", 0, 0, 0, 1, common,
       "300305.00, Index, Record identifier pos 001-006,Record suffix pos 007-008,"
       "Pos 009-009 amount 0 decimals,Pos 010-014 text,Pos 015-022 text,Pos 023-032 text,Pos 033-035 text,"
       "Pos 036-039 amount 0 decimals,Pos 040-048 amount 0 decimals,Pos 049-061 text,"
       "Pos 062-071 text,Pos 072-075 text,\r\n"
       "300305.00,0,300305,00,7,\"A,B  \",20260101,CUST000001,XYZ,012J,00000000{,\"NOTE\"\"Q1234567\","
       "007       ,ABCD,\r\n"},
      {"special values written plainly; comma and quote quoted", 0, 0, 0, 0,
       tl_test_rec("30030500", {{61, "a,b"}, {71, "A\"BC"}}),
       kHead305 + "300305.00,0,\"a,b       \",\"A\"\"BC\",\r\n"},
      {"line end of a short record inside a value", 0, 0, 0, 0,
       tl_test_record("30030500", ' ').substr(0, 61) + "0000000007AB\r\n",
       kHead305 + "300305.00,0,0000000007,\"AB\r\n\",\r\n"},
      {"amounts: sign, and a comma quotes the value with its sign", 0, 0, 0, 0,
       tl_test_rec("10269050", {{61, "00000000125"}, {72, "0000,00012N"}}),
       "102690.50, Index, Pos 062-072 amount 2 decimals,Pos 073-083 amount 2 decimals,\r\n"
       "102690.50,0,000000001.25,\"-0000,0001.25\",\r\n"},
      {"special amount without quotes or equals sign; negative zero", 0, 0, 0, 0,
       tl_test_rec("10352750", {{61, "ACCOUNT0001"}, {72, "000000012N"}, {82, "XY"}, {84, "00}"}, {224, "Z"}}),
       "103527.50, Index, Pos 062-072 text,Pos 073-082 amount 0 decimals,Pos 083-084 text,"
       "Pos 085-087 amount 0 decimals,Pos 225-225 text,\r\n"
       "103527.50,0,ACCOUNT0001,-0000000125,XY,-000,Z,\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    reset_bdt_db();
    tl_test_settings(c.recno, c.types, c.raw, c.common);
    EXPECT_EQ(run({c.record}), c.expected);
  }
}

// The driver's per-input reset for this format is the CSV one; the database
// state carries on into the next input.
TEST_F(DbTest, StateCarriesAcrossInputs) {
  init_bdt_csv();
  EXPECT_EQ(run({zeros("10300500"), kRec305}), kHead005 + line005(1) + kHead305 + line305(1));
  init_bdt_csv();
  EXPECT_EQ(run({kRec305, zeros("10301000"), kRec305}), line305(1) + kHead010 + line010(2) + kHead305 + line305(2));
}

}  // namespace

// Anon CSV formatter: the CSV record lines byte for byte, with state of its
// own.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tl_formatters.h"
#include "tl_globals.h"
#include "tl_testutil.h"

namespace {

std::string sp(size_t n) { return std::string(n, ' '); }

std::string rec(const std::string& key8, const std::vector<std::pair<size_t, std::string>>& puts) {
  std::string r = tl_test_record(key8, ' ');
  for (const auto& p : puts) tl_test_put(r, p.first, p.second);
  return r + "\r\n";
}

// Layout 103623.50 (inline): (63,6) (69,10) (79,10) (89,90) (199,1) (200,2).
std::string r623(const std::string& first) {
  return rec("10362350", {{63, first}, {69, "BBBBBBBBBB"}, {79, "CCCCCCCCCC"}, {89, "D"}, {199, "E"}, {200, "FF"}});
}
const std::string kHead623 =
    "Pos 064-069 text,Pos 070-079 text,Pos 080-089 text,Pos 090-179 text,Pos 200-200 text,Pos 201-202 text,\r\n";
std::string v623(const std::string& first) { return first + ",BBBBBBBBBB,CCCCCCCCCC,D" + sp(89) + ",E,FF,\r\n"; }

void settings(int recno, int types, int raw, int common) {
  print_recno = recno;
  print_types = types;
  print_raw = raw;
  print_common = common;
}

class AnonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tl_test_names();
    settings(0, 0, 0, 0);
    init_bdt_csv();
    init_bdt_anon();
  }
  void TearDown() override { settings(0, 0, 0, 0); }

  static std::string one(int (*fmt)(const char*, tl_out&), const std::string& r) {
    static char storage[16384];
    tl_out o(storage, sizeof storage);
    EXPECT_EQ(0, fmt(r.c_str(), o));
    EXPECT_FALSE(o.full);
    return std::string(o.buf, o.len);
  }
};

// A mixed input: inline runs of two types, ordinary records, an unknown and
// a short record, amounts, special values and values that need quoting.
std::vector<std::string> mixed_input() {
  std::string common =
      rec("30030500", {{9, "A,B  "}, {35, "012J"}, {48, "NOTE\"Q1234567"}, {61, "a,b"}, {71, "A\"BC"}});
  return {
      r623("A00001"),
      r623("A00002"),
      rec("10362450", {{62, "K"}, {63, "B00001"}, {199, "000000001250J"}}),
      r623("A00003"),
      "12\r\n",
      r623("A00004"),
      common,
      r623("A00005"),
      rec("10269050", {{61, "0000,00012E"}, {72, "0000000012N"}}),
      rec("10352750", {{61, "ACCOUNT0001"}, {72, "000000012N"}, {84, "00}"}}),
      tl_test_record("30030500", ' ').substr(0, 61) + "0000000007AB\r\n",
      tl_test_record("10010100", '0') + "\r\n",
      rec("10362399", {}),
      r623("A00006"),
  };
}

// Both formatters run side by side over the same records, record by record,
// under every combination of -n, -T, -r and -C: each record's output is the
// same, and neither formatter's state disturbs the other's.
TEST_F(AnonTest, SameLinesAsCsvUnderEverySetting) {
  const std::vector<std::string> input = mixed_input();
  for (int bits = 0; bits < 16; bits++) {
    settings(bits & 1, (bits >> 1) & 1, (bits >> 2) & 1, (bits >> 3) & 1);
    SCOPED_TRACE("recno/types/raw/common = " + std::to_string(bits & 1) + std::to_string((bits >> 1) & 1) +
                 std::to_string((bits >> 2) & 1) + std::to_string((bits >> 3) & 1));
    init_bdt_csv();
    init_bdt_anon();
    std::string csv_all, anon_all;
    for (size_t i = 0; i < input.size(); i++) {
      SCOPED_TRACE("record " + std::to_string(i));
      std::string c = one(psParseBDTrecord_csv, input[i]);
      std::string a = one(psParseBDTrecord_anon, input[i]);
      EXPECT_EQ(c, a);
      csv_all += c;
      anon_all += a;
    }
    EXPECT_EQ(csv_all, anon_all);
    // Four header lines of 103623.50 in the output: for the first record,
    // after the 103624.50 record, after the first ordinary record and after
    // the last ones; the unknown and short unknown records keep the header.
    size_t headers = 0;
    for (size_t p = anon_all.find(kHead623); p != std::string::npos; p = anon_all.find(kHead623, p + 1)) headers++;
    EXPECT_EQ(4u, headers);
  }
}

TEST_F(AnonTest, HandCheckedLines) {
  // Anon output checked on its own, not only against the CSV formatter.
  EXPECT_EQ(kHead623 + v623("A00001"), one(psParseBDTrecord_anon, r623("A00001")));
  EXPECT_EQ(v623("A00002"), one(psParseBDTrecord_anon, r623("A00002")));
  // A new file: the header line is due again, after the key and type lines.
  init_bdt_anon();
  settings(1, 1, 0, 0);
  EXPECT_EQ("103623.50:\r\nBill record 103623.50 \r\n" + kHead623 + v623("A00003"),
            one(psParseBDTrecord_anon, r623("A00003")));
}

TEST_F(AnonTest, StateIsSeparateFromCsv) {
  // CSV has a current inline type; the anon formatter's first inline record
  // still gets its header line.
  EXPECT_EQ(kHead623 + v623("A00001"), one(psParseBDTrecord_csv, r623("A00001")));
  EXPECT_EQ(kHead623 + v623("A00001"), one(psParseBDTrecord_anon, r623("A00001")));
  // Resetting anon leaves the CSV state alone, and the other way round.
  init_bdt_anon();
  EXPECT_EQ(v623("A00002"), one(psParseBDTrecord_csv, r623("A00002")));
  EXPECT_EQ(kHead623 + v623("A00002"), one(psParseBDTrecord_anon, r623("A00002")));
  init_bdt_csv();
  EXPECT_EQ(v623("A00003"), one(psParseBDTrecord_anon, r623("A00003")));
  EXPECT_EQ(kHead623 + v623("A00003"), one(psParseBDTrecord_csv, r623("A00003")));
  // The anon field writer empties only the anon current type.
  static char storage[16384];
  tl_out o(storage, sizeof storage);
  const std::string r = rec("30030500", {{61, "007"}, {71, "ABCD"}});
  EXPECT_EQ(0, psParseBDTfields_anon(r.c_str(), tl_test_layout("30030500"), o));
  EXPECT_EQ(",Pos 062-071 text,=\"007       \"\r\n,Pos 072-075 text,ABCD\r\n", std::string(o.buf, o.len));
  EXPECT_EQ(kHead623 + v623("A00004"), one(psParseBDTrecord_anon, r623("A00004")));
  EXPECT_EQ(v623("A00004"), one(psParseBDTrecord_csv, r623("A00004")));
}

TEST_F(AnonTest, SubWriters) {
  static char storage[16384];
  const std::string r = r623("A00001");
  int idx = tl_test_layout("10362350");
  ASSERT_GE(idx, 0);
  tl_out o(storage, sizeof storage);
  EXPECT_EQ(0, psParseBDTfields_anon_header(r.c_str(), idx, o));
  EXPECT_EQ(0, psParseBDTfields_anon_inline(r.c_str(), idx, o));
  EXPECT_EQ(kHead623 + v623("A00001"), std::string(o.buf, o.len));
}

}  // namespace

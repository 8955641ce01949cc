// CSV formatter: line shapes, inline header rules and the quoting that keeps
// the columns in place.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tl_formatters.h"
#include "tl_globals.h"
#include "tl_testutil.h"

namespace {

std::string sp(size_t n) { return std::string(n, ' '); }

// A record as the file reader delivers it: blanks, the key, the given texts
// at their 0-based positions, then the line end.
std::string rec(const std::string& key8, const std::vector<std::pair<size_t, std::string>>& puts) {
  std::string r = tl_test_record(key8, ' ');
  for (const auto& p : puts) tl_test_put(r, p.first, p.second);
  return r + "\r\n";
}

// Layout 300305.00: (61,10) special text, (71,4) text.
std::string r305(const std::string& a, const std::string& b) { return rec("30030500", {{61, a}, {71, b}}); }

// Layout 103623.50 (inline): (63,6) (69,10) (79,10) (89,90) (199,1) (200,2).
std::string r623(const std::string& first) {
  return rec("10362350", {{63, first}, {69, "BBBBBBBBBB"}, {79, "CCCCCCCCCC"}, {89, "D"}, {199, "E"}, {200, "FF"}});
}
const std::string kHead623 =
    "Pos 064-069 text,Pos 070-079 text,Pos 080-089 text,Pos 090-179 text,Pos 200-200 text,Pos 201-202 text,\r\n";
std::string v623(const std::string& first) {
  return first + ",BBBBBBBBBB,CCCCCCCCCC,D" + sp(89) + ",E,FF,\r\n";
}

// Layout 103624.50 (inline): (62,1) (63,6) (69,10) (79,10) (89,90)
// (199,13 amount 4) (221,2) (223,1) (224,1).
std::string r624(const std::string& second) {
  return rec("10362450", {{62, "K"}, {63, second}, {69, "LLLLLLLLLL"}, {79, "MMMMMMMMMM"}, {89, "N"},
                          {199, "000000001250J"}, {221, "PQ"}, {223, "R"}, {224, "S"}});
}
const std::string kHead624 =
    "Pos 063-063 text,Pos 064-069 text,Pos 070-079 text,Pos 080-089 text,Pos 090-179 text,"
    "Pos 200-212 amount 4 decimals,Pos 222-223 text,Pos 224-224 text,Pos 225-225 text,\r\n";
std::string v624(const std::string& second) {
  return "K," + second + ",LLLLLLLLLL,MMMMMMMMMM,N" + sp(89) + ",-000000001.2501,PQ,R,S,\r\n";
}

const std::string kUnknown = rec("10362399", {});

struct Settings {
  int recno = 0, types = 0, raw = 0, common = 0;
};

void apply(const Settings& s) {
  print_recno = s.recno;
  print_types = s.types;
  print_raw = s.raw;
  print_common = s.common;
}

class CsvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tl_test_names();
    apply(Settings());
    init_bdt_csv();
  }
  void TearDown() override { apply(Settings()); }

  // Runs the records through the formatter as one input, like the driver.
  static std::string run(const std::vector<std::string>& recs) {
    static char storage[16384];
    std::string out;
    for (const auto& r : recs) {
      tl_out o(storage, sizeof storage);
      EXPECT_EQ(0, psParseBDTrecord_csv(r.c_str(), o));
      EXPECT_FALSE(o.full);
      out.append(o.buf, o.len);
    }
    return out;
  }
};

struct Case {
  const char* name;
  Settings settings;
  std::vector<std::string> records;
  std::string expected;
};

void run_cases(const std::vector<Case>& cases, std::string (*run)(const std::vector<std::string>&)) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    init_bdt_csv();
    apply(c.settings);
    EXPECT_EQ(c.expected, run(c.records));
  }
}

// One line per field, the special form, signs, and the empty line after the
// record.
TEST_F(CsvTest, OrdinaryRecords) {
  Settings none;
  Settings types;
  types.types = 1;
  Settings raw;
  raw.raw = 1;
  Settings types_raw;
  types_raw.types = 1;
  types_raw.raw = 1;
  Settings recno;
  recno.recno = 1;
  const std::string r = r305("007", "ABCD");
  const std::string body = ",Pos 062-071 text,=\"007       \"\r\n,Pos 072-075 text,ABCD\r\n\r\n";
  std::vector<Case> cases = {
      {"special text keeps its zeros in the quoted form", none, {r}, body},
      {"type line", types, {r}, "Supplemental Detail record 300305.00 \r\n" + body},
      {"raw without types writes nothing more", raw, {r}, body},
      {"raw line holds the record with its line end", types_raw, {r},
       "Supplemental Detail record 300305.00: record = [" + r + "]\r\n" + body},
      {"key line", recno, {r}, "300305.00:\r\n" + body},
      {"amounts: decimal point and decoded sign",
       none,
       {rec("10269050", {{61, "00000000125"}, {72, "0000000012N"}})},
       ",Pos 062-072 amount 2 decimals,000000001.25\r\n"
       ",Pos 073-083 amount 2 decimals,-000000001.25\r\n\r\n"},
      {"special amount: minus sign inside the quotes; negative zero",
       none,
       {rec("10352750", {{61, "ACCOUNT0001"}, {72, "000000012N"}, {82, "XY"}, {84, "00}"}, {224, "Z"}})},
       ",Pos 062-072 text,ACCOUNT0001\r\n"
       ",Pos 073-082 amount 0 decimals,=\"-0000000125\"\r\n"
       ",Pos 083-084 text,XY\r\n"
       ",Pos 085-087 amount 0 decimals,-000\r\n"
       ",Pos 225-225 text,Z\r\n\r\n"},
  };
  run_cases(cases, run);
}

// Values holding a comma, a quote or a line end are quoted fields.
TEST_F(CsvTest, ValuesKeepTheirColumns) {
  Settings none;
  std::string short73 = tl_test_record("30030500", ' ').substr(0, 61) + "0000000007AB\r\n";
  std::string short66 = tl_test_record("30030500", ' ').substr(0, 61) + "00007\r\n";
  std::vector<Case> cases = {
      {"comma in text", none, {r305("007", "A,BC")},
       ",Pos 062-071 text,=\"007       \"\r\n,Pos 072-075 text,\"A,BC\"\r\n\r\n"},
      {"quote in text", none, {r305("007", "A\"BC")},
       ",Pos 062-071 text,=\"007       \"\r\n,Pos 072-075 text,\"A\"\"BC\"\r\n\r\n"},
      {"comma in special text", none, {r305("a,b", "ABCD")},
       ",Pos 062-071 text,\"=\"\"a,b       \"\"\"\r\n,Pos 072-075 text,ABCD\r\n\r\n"},
      {"quote in special text", none, {r305("a\"b", "ABCD")},
       ",Pos 062-071 text,\"=\"\"a\"\"\"\"b       \"\"\"\r\n,Pos 072-075 text,ABCD\r\n\r\n"},
      {"comma in amounts, negative keeps its sign inside the quotes",
       none,
       {rec("10269050", {{61, "0000,00012E"}, {72, "0000,00012N"}})},
       ",Pos 062-072 amount 2 decimals,\"0000,0001.25\"\r\n"
       ",Pos 073-083 amount 2 decimals,\"-0000,0001.25\"\r\n\r\n"},
      {"comma in special amount",
       none,
       {rec("10352750", {{61, "ACCOUNT0001"}, {72, "0,0000012N"}, {82, "XY"}, {84, "123"}, {224, "Z"}})},
       ",Pos 062-072 text,ACCOUNT0001\r\n"
       ",Pos 073-082 amount 0 decimals,\"=\"\"-0,00000125\"\"\"\r\n"
       ",Pos 083-084 text,XY\r\n"
       ",Pos 085-087 amount 0 decimals,123\r\n"
       ",Pos 225-225 text,Z\r\n\r\n"},
      {"short record: line end inside the last value", none, {short73},
       ",Pos 062-071 text,=\"0000000007\"\r\n,Pos 072-075 text,\"AB\r\n\"\r\n\r\n"},
      {"short record: special value with the line end, field beyond the end empty", none, {short66},
       ",Pos 062-071 text,\"=\"\"00007\r\n\"\"\"\r\n,Pos 072-075 text,\r\n\r\n"},
  };
  run_cases(cases, run);
}

// The common block: raw values (no amount formatting), only for ordinary
// records, before the layout's fields.
TEST_F(CsvTest, CommonBlock) {
  Settings common;
  common.common = 1;
  std::string r = r305("007", "ABCD");
  tl_test_put(r, 8, "7");
  tl_test_put(r, 9, "A,B  ");
  tl_test_put(r, 14, "20260101");
  tl_test_put(r, 22, "CUST000001");
  tl_test_put(r, 32, "XYZ");
  tl_test_put(r, 35, "012J");
  tl_test_put(r, 39, "00000000{");
  tl_test_put(r, 48, "NOTE\"Q1234567");
  const std::string common_lines =
      ",Record identifier pos 001-006,300305\r\n"
      ",Record suffix pos 007-008,00\r\n"
      ",Pos 009-009 amount 0 decimals,7\r\n"
      ",Pos 010-014 text,\"A,B  \"\r\n"
      ",Pos 015-022 text,20260101\r\n"
      ",Pos 023-032 text,CUST000001\r\n"
      ",Pos 033-035 text,XYZ\r\n"
      ",Pos 036-039 amount 0 decimals,012J\r\n"
      ",Pos 040-048 amount 0 decimals,00000000{\r\n"
      ",Pos 049-061 text,\"NOTE\"\"Q1234567\"\r\n";
  std::vector<Case> cases = {
      {"common lines before the fields", common, {r},
       common_lines + ",Pos 062-071 text,=\"007       \"\r\n,Pos 072-075 text,ABCD\r\n\r\n"},
      {"never for inline records", common, {r623("A00001")}, kHead623 + v623("A00001")},
  };
  run_cases(cases, run);
}

// When an inline record gets its header line.
TEST_F(CsvTest, InlineHeaderLines) {
  Settings none;
  Settings recno;
  recno.recno = 1;
  Settings recno_types;
  recno_types.recno = 1;
  recno_types.types = 1;
  const std::string ord = ",Pos 062-071 text,=\"007       \"\r\n,Pos 072-075 text,ABCD\r\n\r\n";
  const std::string unk = "Unknown record type found: line = [" + kUnknown + "]\n";
  std::vector<Case> cases = {
      {"three of one type: one header", none, {r623("A00001"), r623("A00002"), r623("A00003")},
       kHead623 + v623("A00001") + v623("A00002") + v623("A00003")},
      {"type changes: a header each time", none, {r624("B00001"), r623("A00001"), r624("B00002")},
       kHead624 + v624("B00001") + kHead623 + v623("A00001") + kHead624 + v624("B00002")},
      {"ordinary record between: header again", none, {r623("A00001"), r305("007", "ABCD"), r623("A00002")},
       kHead623 + v623("A00001") + ord + kHead623 + v623("A00002")},
      {"unknown record between: one header", none, {r623("A00001"), kUnknown, r623("A00002")},
       kHead623 + v623("A00001") + unk + v623("A00002")},
      {"unknown record first: header still due", none, {kUnknown, r623("A00001")},
       unk + kHead623 + v623("A00001")},
      {"key line before the header line", recno, {r623("A00001"), r623("A00002")},
       "103623.50:\r\n" + kHead623 + v623("A00001") + "103623.50:\r\n" + v623("A00002")},
      {"key and type lines before the header line", recno_types, {r623("A00001")},
       "103623.50:\r\nBill record 103623.50 \r\n" + kHead623 + v623("A00001")},
  };
  run_cases(cases, run);
}

TEST_F(CsvTest, ResetStartsTheInlineStateAfresh) {
  EXPECT_EQ(kHead623 + v623("A00001"), run({r623("A00001")}));
  init_bdt_csv();
  EXPECT_EQ(kHead623 + v623("A00002"), run({r623("A00002")}));
}

TEST_F(CsvTest, UnknownRecordsEndInABareLineFeed) {
  std::vector<Case> cases = {
      {"whole record with its line end", Settings(), {kUnknown},
       "Unknown record type found: line = [" + kUnknown + "]\n"},
      {"short record padded to six characters", Settings(), {"12\r\n"},
       "Unknown record type found: line = [  12\r\n]\n"},
  };
  run_cases(cases, run);
}

// The sub-writers on their own.
TEST_F(CsvTest, SubWriters) {
  static char storage[16384];
  const std::string r = r623("A00001");
  int idx = tl_test_layout("10362350");
  ASSERT_GE(idx, 0);
  {
    tl_out o(storage, sizeof storage);
    EXPECT_EQ(0, psParseBDTfields_csv_header(r.c_str(), idx, o));
    EXPECT_EQ(kHead623, std::string(o.buf, o.len));
  }
  {
    tl_out o(storage, sizeof storage);
    EXPECT_EQ(0, psParseBDTfields_csv_inline(r.c_str(), idx, o));
    EXPECT_EQ(v623("A00001"), std::string(o.buf, o.len));
  }
  {
    // The field writer makes the next inline record need its header again.
    EXPECT_EQ(kHead623 + v623("A00001"), run({r}));
    tl_out o(storage, sizeof storage);
    const std::string r2 = r305("007", "ABCD");
    EXPECT_EQ(0, psParseBDTfields_csv(r2.c_str(), tl_test_layout("30030500"), o));
    EXPECT_EQ(",Pos 062-071 text,=\"007       \"\r\n,Pos 072-075 text,ABCD\r\n", std::string(o.buf, o.len));
    EXPECT_EQ(kHead623 + v623("A00001"), run({r}));
  }
}

}  // namespace

// Database load formatter: header lines on layout change, the running index
// over the whole run, and values that keep their columns.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "tl_core.h"
#include "tl_formatters.h"
#include "tl_globals.h"
#include "tl_testutil.h"

namespace {

std::string z(size_t n) { return std::string(n, '0'); }

std::string rec(const std::string& key8, const std::vector<std::pair<size_t, std::string>>& puts) {
  std::string r = tl_test_record(key8, ' ');
  for (const auto& p : puts) tl_test_put(r, p.first, p.second);
  return r + "\r\n";
}

// A record of zeros after its key.
std::string zeros(const std::string& key8) { return tl_test_record(key8, '0') + "\r\n"; }

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

const std::string kHead015 =
    "103015.00, Index, Pos 062-064 text,Pos 065-066 text,Pos 067-070 text,Pos 071-078 text,Pos 079-086 text,"
    "Pos 087-087 text,Pos 088-088 text,Pos 089-089 text,Pos 090-100 amount 2 decimals,"
    "Pos 101-111 amount 2 decimals,Pos 112-122 amount 2 decimals,Pos 123-133 amount 2 decimals,"
    "Pos 134-144 amount 2 decimals,Pos 145-155 amount 0 decimals,Pos 156-166 amount 4 decimals,"
    "Pos 167-175 amount 0 decimals,Pos 176-191 text,Pos 192-192 text,Pos 193-193 text,Pos 194-194 text,"
    "Pos 195-209 text,Pos 210-217 text,Pos 218-218 text,Pos 219-221 amount 0 decimals,"
    "Pos 222-222 amount 0 decimals,Pos 223-223 text,Pos 224-224 text,Pos 225-225 text,\r\n";
std::string line015(int index) {
  std::string amounts2;
  for (int i = 0; i < 5; i++) amounts2 += "000000000.00,";
  return "103015.00," + std::to_string(index) + ",000,00,0000," + z(8) + "," + z(8) + ",0,0,0," + amounts2 +
         z(11) + ",0000000.0000," + z(9) + "," + z(16) + ",0,0,0," + z(15) + "," + z(8) + ",0,000,0,0,0,0,\r\n";
}

// Layout 300305.00: (61,10) special text, (71,4) text.
const std::string kHead305 = "300305.00, Index, Pos 062-071 text,Pos 072-075 text,\r\n";
const std::string kRec305 = rec("30030500", {{61, "007"}, {71, "ABCD"}});
std::string line305(int index) { return "300305.00," + std::to_string(index) + ",007       ,ABCD,\r\n"; }

void settings(int recno, int types, int raw, int common) {
  print_recno = recno;
  print_types = types;
  print_raw = raw;
  print_common = common;
}

class DbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tl_test_names();
    settings(0, 0, 0, 0);
    reset_bdt_db();
  }
  void TearDown() override {
    settings(0, 0, 0, 0);
    reset_bdt_db();
  }

  static std::string run(const std::vector<std::string>& recs) {
    static char storage[16384];
    std::string out;
    for (const auto& r : recs) {
      tl_out o(storage, sizeof storage);
      EXPECT_EQ(0, psParseBDTrecord_db(r.c_str(), o));
      EXPECT_FALSE(o.full);
      out.append(o.buf, o.len);
    }
    return out;
  }
};

TEST_F(DbTest, IndexAndHeaderLines) {
  struct Case {
    const char* name;
    std::vector<std::string> records;
    std::string expected;
  };
  const std::string unknown005 = rec("10300599", {});
  std::vector<Case> cases = {
      {"index records number the records after them",
       {zeros("10300500"), zeros("10301500"), zeros("10301500"), zeros("10301000"), zeros("10301500")},
       kHead005 + line005(1) + kHead015 + line015(1) + line015(1) + kHead010 + line010(2) + kHead015 + line015(2)},
      {"before any index record the index is 0", {kRec305, kRec305}, kHead305 + line305(0) + line305(0)},
      {"an unknown record neither counts nor brings a second header",
       {kRec305, unknown005, kRec305},
       kHead305 + line305(0) + "Unknown record type found: line = [" + unknown005 + "]\n" + line305(0)},
      {"short unknown record padded to six characters",
       {"12\r\n"},
       "Unknown record type found: line = [  12\r\n]\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    reset_bdt_db();
    EXPECT_EQ(c.expected, run(c.records));
  }
}

TEST_F(DbTest, ValuesAndSettings) {
  struct Case {
    const char* name;
    int recno, types, raw, common;
    std::string record;
    std::string expected;
  };
  std::string common = kRec305;
  tl_test_put(common, 8, "7");
  tl_test_put(common, 9, "A,B  ");
  tl_test_put(common, 14, "20260101");
  tl_test_put(common, 22, "CUST000001");
  tl_test_put(common, 32, "XYZ");
  tl_test_put(common, 35, "012J");
  tl_test_put(common, 39, "00000000{");
  tl_test_put(common, 48, "NOTE\"Q1234567");
  const std::string short73 = tl_test_record("30030500", ' ').substr(0, 61) + "0000000007AB\r\n";
  std::vector<Case> cases = {
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
       rec("30030500", {{61, "a,b"}, {71, "A\"BC"}}),
       kHead305 + "300305.00,0,\"a,b       \",\"A\"\"BC\",\r\n"},
      {"line end of a short record inside a value", 0, 0, 0, 0, short73,
       kHead305 + "300305.00,0,0000000007,\"AB\r\n\",\r\n"},
      {"negative amounts; a comma quotes the value with its sign", 0, 0, 0, 0,
       rec("10269050", {{61, "00000000125"}, {72, "0000,00012N"}}),
       "102690.50, Index, Pos 062-072 amount 2 decimals,Pos 073-083 amount 2 decimals,\r\n"
       "102690.50,0,000000001.25,\"-0000,0001.25\",\r\n"},
      {"special amount without quotes or equals sign; negative zero", 0, 0, 0, 0,
       rec("10352750", {{61, "ACCOUNT0001"}, {72, "000000012N"}, {82, "XY"}, {84, "00}"}, {224, "Z"}}),
       "103527.50, Index, Pos 062-072 text,Pos 073-082 amount 0 decimals,Pos 083-084 text,"
       "Pos 085-087 amount 0 decimals,Pos 225-225 text,\r\n"
       "103527.50,0,ACCOUNT0001,-0000000125,XY,-000,Z,\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    reset_bdt_db();
    settings(c.recno, c.types, c.raw, c.common);
    EXPECT_EQ(c.expected, run({c.record}));
  }
}

// The driver's per-file reset for this format is the CSV one; the database
// state carries on into the next file.
TEST_F(DbTest, StateCarriesAcrossFiles) {
  init_bdt_csv();
  EXPECT_EQ(kHead005 + line005(1) + kHead305 + line305(1), run({zeros("10300500"), kRec305}));
  init_bdt_csv();
  EXPECT_EQ(line305(1) + kHead010 + line010(2) + kHead305 + line305(2), run({kRec305, zeros("10301000"), kRec305}));
}

TEST_F(DbTest, SubWriters) {
  static char storage[16384];
  tl_out o(storage, sizeof storage);
  const std::string r = kRec305;
  int idx = tl_test_layout("30030500");
  ASSERT_GE(idx, 0);
  EXPECT_EQ(0, psParseBDTfields_db_header(r.c_str(), idx, o));
  EXPECT_EQ(0, psParseBDTfields_db_inline(r.c_str(), idx, o));
  EXPECT_EQ("Pos 062-071 text,Pos 072-075 text,\r\n007       ,ABCD,\r\n", std::string(o.buf, o.len));
}

// Two files through the file driver with -D settings: one header for the
// layout in all, the index numbered on from the first file.
TEST_F(DbTest, TwoFilesThroughTheDriver) {
  const int saved[] = {output_format, database_flag, print_header, print_trailer,
                       display_bill,  display_detail, display_csr};
  display_bill = display_detail = display_csr = 1;
  output_format = 1;
  database_flag = 1;
  print_header = 0;
  print_trailer = 0;
  char name1[] = "/tmp/tl_db_testXXXXXX";
  char name2[] = "/tmp/tl_db_testXXXXXX";
  int fd1 = mkstemp(name1);
  int fd2 = mkstemp(name2);
  ASSERT_GE(fd1, 0);
  ASSERT_GE(fd2, 0);
  const std::string f1 = zeros("10300500") + kRec305;
  const std::string f2 = kRec305 + kRec305;
  ASSERT_EQ(static_cast<ssize_t>(f1.size()), write(fd1, f1.data(), f1.size()));
  ASSERT_EQ(static_cast<ssize_t>(f2.size()), write(fd2, f2.data(), f2.size()));
  close(fd1);
  close(fd2);
  FILE* out = tmpfile();
  ASSERT_NE(nullptr, out);
  EXPECT_EQ(0, tl_core(name1, out));
  EXPECT_EQ(0, tl_core(name2, out));
  std::string got;
  rewind(out);
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, out)) > 0) got.append(buf, n);
  fclose(out);
  unlink(name1);
  unlink(name2);
  output_format = saved[0];
  database_flag = saved[1];
  print_header = saved[2];
  print_trailer = saved[3];
  display_bill = saved[4];
  display_detail = saved[5];
  display_csr = saved[6];
  EXPECT_EQ(kHead005 + line005(1) + kHead305 + line305(1) + line305(1) + line305(1), got);
}

}  // namespace

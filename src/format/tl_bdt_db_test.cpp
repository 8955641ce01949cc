// Database load formatter: its state (running index, layout of the last
// header line) belongs to the whole run, not to one input.
#include "tl_formatters.h"
#include "tl_testutil.h"

namespace {

std::string z(size_t n) { return std::string(n, '0'); }

// The driver's per-input reset for this format is the CSV one; only the
// database reset starts the index and the header lines afresh.
TEST(DbFormatter, StateCarriesAcrossInputs) {
  tl_test_names();
  tl_test_settings(0, 0, 0, 0);
  const std::string r305 = tl_test_rec("30030500", {{61, "007"}, {71, "ABCD"}});
  const std::string head305 = "300305.00, Index, Pos 062-071 text,Pos 072-075 text,\r\n";
  auto line305 = [](int index) { return "300305.00," + std::to_string(index) + ",007       ,ABCD,\r\n"; };
  const std::string head005 =
      "103005.00, Index, Pos 070-077 text,Pos 078-089 text,Pos 090-105 text,Pos 106-108 amount 0 decimals,"
      "Pos 109-109 text,Pos 110-125 text,Pos 142-142 text,Pos 143-143 text,Pos 144-146 amount 0 decimals,"
      "Pos 147-166 text,Pos 224-224 text,Pos 225-225 text,\r\n"
      "103005.00,1," + z(8) + "," + z(12) + "," + z(16) + ",000,0," + z(16) + ",0,0,000," + z(20) + ",0,0,\r\n";
  const std::string head010 =
      "103010.00, Index, Pos 072-076 text,Pos 077-126 text,Pos 127-129 amount 0 decimals,Pos 130-140 text,"
      "Pos 141-141 text,Pos 142-144 amount 0 decimals,Pos 224-224 text,Pos 225-225 text,\r\n"
      "103010.00,2,00000," + z(50) + ",000," + z(11) + ",0,000,0,0,\r\n";
  reset_bdt_db();
  init_bdt_csv();
  EXPECT_EQ(tl_test_format(psParseBDTrecord_db, {tl_test_rec("10300500", {}, '0'), r305}),
            head005 + head305 + line305(1));
  init_bdt_csv();
  EXPECT_EQ(tl_test_format(psParseBDTrecord_db, {r305, tl_test_rec("10301000", {}, '0'), r305}),
            line305(1) + head010 + head305 + line305(2));
  reset_bdt_db();
  EXPECT_EQ(tl_test_format(psParseBDTrecord_db, {r305}), head305 + line305(0));
}

}  // namespace

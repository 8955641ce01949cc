// CSV formatter: the few rules the end-to-end cases leave open (their
// documents pin the line shapes, quoting and inline header runs).
#include "tl_formatters.h"
#include "tl_testutil.h"

namespace {

TEST(CsvFormatter, RawWithoutTypesAndInlineStateAtTheStart) {
  tl_test_names();
  const std::string r305 = tl_test_rec("30030500", {{61, "007"}, {71, "ABCD"}});
  const std::string unknown = tl_test_rec("10362399");
  // -r adds its line only together with -T.
  init_bdt_csv();
  tl_test_settings(0, 0, 1, 0);
  EXPECT_EQ(tl_test_format(psParseBDTrecord_csv, {r305}),
            ",Pos 062-071 text,=\"007       \"\r\n,Pos 072-075 text,ABCD\r\n\r\n");
  tl_test_settings(0, 0, 0, 0);
  // An unknown record before the first inline one leaves its header due.
  init_bdt_csv();
  EXPECT_EQ(tl_test_format(psParseBDTrecord_csv, {unknown, tl_test_r623("A00001")}),
            "Unknown record type found: line = [" + unknown + "]\n" + tl_test_head623 + tl_test_v623("A00001"));
  // Each input starts without a current inline type.
  init_bdt_csv();
  EXPECT_EQ(tl_test_format(psParseBDTrecord_csv, {tl_test_r623("A00002")}),
            tl_test_head623 + tl_test_v623("A00002"));
}

}  // namespace

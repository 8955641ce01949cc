// Anon CSV formatter: the CSV record lines byte for byte, with state of its
// own.
#include "tl_formatters.h"
#include "tl_testutil.h"

namespace {

std::string csv(const std::string& r) { return tl_test_format(psParseBDTrecord_csv, {r}); }
std::string anon(const std::string& r) { return tl_test_format(psParseBDTrecord_anon, {r}); }

// Both formatters side by side over a mixed input (inline runs of two types,
// ordinary and unknown records, a short record, amounts, special values and
// values that need quoting), record by record, under every combination of
// -n, -T, -r and -C.
TEST(AnonFormatter, SameLinesAsCsvUnderEverySetting) {
  tl_test_names();
  const std::vector<std::string> input = {
      tl_test_r623("A00001"),
      tl_test_r623("A00002"),
      tl_test_rec("10362450", {{62, "K"}, {63, "B00001"}, {199, "000000001250J"}}),
      tl_test_r623("A00003"),
      "12\r\n",
      tl_test_r623("A00004"),
      tl_test_rec("30030500", {{9, "A,B  "}, {35, "012J"}, {48, "NOTE\"Q1234567"}, {61, "a,b"}, {71, "A\"BC"}}),
      tl_test_r623("A00005"),
      tl_test_rec("10269050", {{61, "0000,00012E"}, {72, "0000000012N"}}),
      tl_test_rec("10352750", {{61, "ACCOUNT0001"}, {72, "000000012N"}, {84, "00}"}}),
      tl_test_rec("30030500").substr(0, 61) + "0000000007AB\r\n",
      tl_test_rec("10010100", {}, '0'),
      tl_test_rec("10362399"),
      tl_test_r623("A00006"),
  };
  for (int bits = 0; bits < 16; bits++) {
    SCOPED_TRACE("-n -T -r -C bits " + std::to_string(bits));
    tl_test_settings(bits & 1, (bits >> 1) & 1, (bits >> 2) & 1, (bits >> 3) & 1);
    init_bdt_csv();
    init_bdt_anon();
    std::string all;
    for (size_t i = 0; i < input.size(); i++) {
      const std::string c = csv(input[i]);
      EXPECT_EQ(anon(input[i]), c) << "record " << i;
      all += c;
    }
    // Headers of 103623.50 for the first record and after the 103624.50 one,
    // the first ordinary one and the last ones; the unknown ones keep it.
    size_t headers = 0;
    for (size_t p = 0; (p = all.find(tl_test_head623, p)) != std::string::npos; ++p) ++headers;
    EXPECT_EQ(headers, 4u);
  }
  tl_test_settings(0, 0, 0, 0);
}

// Each has its own current inline type, reset and ended on its own; the
// field, header and value writers on their own.
TEST(AnonFormatter, StateIsSeparateFromCsv) {
  tl_test_names();
  const auto& r = tl_test_r623;
  const auto& v = tl_test_v623;
  const std::string& head = tl_test_head623;
  const std::string r305 = tl_test_rec("30030500", {{61, "007"}, {71, "ABCD"}});
  init_bdt_csv();
  init_bdt_anon();
  EXPECT_EQ(csv(r("A00001")) + anon(r("A00001")), head + v("A00001") + head + v("A00001"));
  init_bdt_csv();
  EXPECT_EQ(csv(r("A00002")) + anon(r("A00002")), head + v("A00002") + v("A00002"));
  init_bdt_anon();
  EXPECT_EQ(csv(r("A00003")) + anon(r("A00003")), v("A00003") + head + v("A00003"));
  EXPECT_EQ(tl_test_out([&](tl_out& o) { psParseBDTfields_anon(r305.c_str(), tl_test_layout("30030500"), o); }),
            ",Pos 062-071 text,=\"007       \"\r\n,Pos 072-075 text,ABCD\r\n");
  EXPECT_EQ(csv(r("A00004")) + anon(r("A00004")), v("A00004") + head + v("A00004"));
  EXPECT_EQ(tl_test_out([&](tl_out& o) {
              psParseBDTfields_anon_header(r("A00005").c_str(), tl_test_layout("10362350"), o);
              psParseBDTfields_anon_inline(r("A00005").c_str(), tl_test_layout("10362350"), o);
            }),
            head + v("A00005"));
}

}  // namespace

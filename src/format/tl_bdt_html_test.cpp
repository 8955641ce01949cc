// HTML formatter: the heading with both -n and -T, given only where a table
// starts (the end-to-end cases pin the tables, frames and escaping).
#include "tl_formatters.h"
#include "tl_testutil.h"

namespace {

TEST(HtmlFormatter, KeyAndTypeHeadingOnlyWhereATableStarts) {
  tl_test_names();
  tl_test_settings(1, 1, 0, 0);
  init_bdt_html();
  const std::string head623 =
      "<table><tr><td>Pos 064-069 text</td><td>Pos 070-079 text</td><td>Pos 080-089 text</td>"
      "<td>Pos 090-179 text</td><td>Pos 200-200 text</td><td>Pos 201-202 text</td></tr>";
  auto row623 = [](const char* first) {
    return "<tr><td>" + std::string(first) + "</td><td>BBBBBBBBBB</td><td>CCCCCCCCCC</td><td>D" +
           std::string(89, ' ') + "</td><td>E</td><td>FF</td></tr>\n";
  };
  const std::string r305 = tl_test_rec("30030500", {{61, "007"}, {71, "ABCD"}});
  EXPECT_EQ(tl_test_format(psParseBDTrecord_html, {tl_test_r623("A00001"), tl_test_r623("A00002"), r305}),
            " <hr><h2>103623.50: Bill record 103623.50</h2>\n" + head623 + row623("A00001") + " " +
                row623("A00002") + " </table><BR><hr><h2>300305.00: Supplemental Detail record 300305.00</h2>\n" +
                "Pos 062-071 text:&nbsp;<b>007       </b><BR>\nPos 072-075 text:&nbsp;<b>ABCD</b><BR>\n<BR>");
  tl_test_settings(0, 0, 0, 0);
}

}  // namespace

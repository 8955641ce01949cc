#include "tl_plan.h"

#include <algorithm>
#include <random>

#include "tl_testutil.h"
#include "tl_util.h"

namespace {

void lead(const bdt_fields_tag& f, std::string& out) {
  out += "<";
  if (f.field_name != nullptr) out += f.field_name;
  out += "|";
}
void tail(const bdt_fields_tag&, std::string& out) { out += ">\n"; }

// What the field-by-field writers give for the shown fields of a layout.
std::string field_by_field(int rindex, const std::string& rec, int32_t bdt_fields_tag::*shown) {
  std::string out;
  char scratch[258];
  for (const bdt_fields_tag* f = bdtr_list[rindex].fields; f != nullptr && !bdt_is_end(*f); f++) {
    if (f->*shown != 1) continue;
    tl_field_text t = tl_field_value(rec.c_str(), rec.size(), *f, scratch);
    lead(*f, out);
    if (t.negative) out += '-';
    out.append(t.p, t.n);
    tail(*f, out);
  }
  return out;
}

// Record bytes that amounts decode in every way: digits, overpunch signs of
// both kinds, and bytes that carry no sign at all.
std::string random_record(std::mt19937& rng, const std::string& key8) {
  static const char kBytes[] = "0123456789{}ABCDEFGHIJKLMNOPQR XYZ-.";
  std::string r = key8;
  while (r.size() < 225) r += kBytes[rng() % (sizeof kBytes - 1)];
  return r + "\r\n";
}

TEST(FieldPlan, WritesWhatTheFieldWritersWriteForEveryLayout) {
  tl_test_names();
  tl_field_plan by_display(&bdt_fields_tag::display, lead, tail);
  tl_field_plan by_csv(&bdt_fields_tag::display_csv, lead, tail);
  std::mt19937 rng(7);
  static char storage[16384];
  int negatives = 0;
  for (int r = 0; r < bdtr_count; r++) {
    std::string key8 = std::string(bdtr_list[r].record_id) + bdtr_list[r].record_suffix;
    for (int i = 0; i < 20; i++) {
      std::string rec = random_record(rng, key8);
      for (auto [plan, shown] : {std::pair{&by_display, &bdt_fields_tag::display},
                                 std::pair{&by_csv, &bdt_fields_tag::display_csv}}) {
        tl_out o(storage, sizeof storage);
        o.lit("before;");
        ASSERT_TRUE(plan->put(r, rec.c_str(), rec.size(), o)) << key8;
        std::string want = "before;" + field_by_field(r, rec, shown);
        ASSERT_EQ(std::string(o.buf, o.len), want) << key8 << " record " << rec;
        ASSERT_EQ(o.buf[o.len], '\0');
        negatives += static_cast<int>(std::count(want.begin(), want.end(), '-') > 0);
      }
    }
  }
  // The records did exercise the minus sign.
  EXPECT_GT(negatives, 100);
}

TEST(FieldPlan, DeclinesShortRecordsAndTightBuffersWithoutWriting) {
  tl_test_names();
  tl_field_plan plan(&bdt_fields_tag::display_csv, lead, tail);
  const int r = tl_test_layout("10362350");  // its last field ends at byte 202
  ASSERT_GE(r, 0);
  std::string rec = tl_test_r623("AAAAAA");
  char storage[4096];

  tl_out o(storage, sizeof storage);
  EXPECT_FALSE(plan.put(r, rec.c_str(), 201, o));
  EXPECT_EQ(o.len, 0u);
  EXPECT_TRUE(plan.put(r, rec.c_str(), 202, o));
  const size_t whole = o.len;

  // Room for the text but not for the worst case the plan allows for.
  tl_out tight(storage, whole + 1);
  EXPECT_FALSE(plan.put(r, rec.c_str(), rec.size(), tight));
  EXPECT_EQ(tight.len, 0u);
  EXPECT_FALSE(tight.full);
}

}  // namespace

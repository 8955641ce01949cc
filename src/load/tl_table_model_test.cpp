#include "tl_table_model.h"

#include <cstdlib>
#include <new>
#include <regex>
#include <set>

#include "tl_testutil.h"
#include "tl_sink.h"

// GCC takes the pairs below for mismatched (operator new returns what
// malloc gave, operator delete frees it): they are the replacement itself.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

// Allocations are counted while this is set (the test binary's operator new
// below forwards to malloc).
static bool g_count_allocations = false;
static long g_allocations = 0;

void* operator new(std::size_t n) {
  if (g_count_allocations) g_allocations++;
  void* p = std::malloc(n == 0 ? 1 : n);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  if (g_count_allocations) g_allocations++;
  return std::malloc(n == 0 ? 1 : n);
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

const tl_table& table_of(const tl_table_model& m, const char* key8) {
  const tl_table* t = m.table(tl_test_layout(key8));
  EXPECT_NE(t, nullptr) << key8;
  return *t;
}

}  // namespace

TEST(TableModel, ColumnNamesFromDisplayNames) {
  EXPECT_EQ(tl_column_name("Pos 111-121 amount 2 decimals"), "pos_111_121_amount_2_decimals");
  EXPECT_EQ(tl_column_name("  --Billing  Number (BAN)!! "), "billing_number_ban");
  EXPECT_EQ(tl_column_name("\xe9t\xe9 \"x\""), "t_x");
  EXPECT_EQ(tl_column_name(""), "field");
  EXPECT_EQ(tl_column_name("%%%"), "field");
  EXPECT_EQ(tl_column_name("2nd line"), "f_2nd_line");
  const std::string n = tl_column_name(std::string(62, 'a').append(" b").c_str());
  EXPECT_EQ(n, std::string(62, 'a')) << "cut to 63 bytes, no '_' left at the end";
}

TEST(TableModel, TablesOfEveryLayout) {
  tl_test_names();
  tl_table_model m;
  std::set<std::string> names;
  const std::regex ident("[a-z][a-z0-9_]{0,62}");
  for (int i = 0; i < bdtr_count; i++) {
    const tl_table* t = m.table(i);
    if (bdtr_list[i].fields == nullptr) {
      EXPECT_EQ(t, nullptr);
      continue;
    }
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(names.insert(t->name).second) << "two layouts share " << t->name;
    EXPECT_EQ(t->name, std::string("r") + bdtr_list[i].record_id + "_" + bdtr_list[i].record_suffix);
    ASSERT_GE(t->columns.size(), kTlKeyColumns + 10);
    EXPECT_EQ(t->columns[0].name, "file_id");
    EXPECT_EQ(t->columns[1].name, "line");
    EXPECT_EQ(t->columns[2].name, "idx");
    std::set<std::string> cols;
    size_t shown = 0;
    for (const bdt_fields_tag* f = bdtr_list[i].fields; !bdt_is_end(*f); f++) shown += f->display_csv == 1;
    EXPECT_EQ(t->columns.size(), kTlKeyColumns + 10 + shown);
    for (size_t k = 0; k < t->columns.size(); k++) {
      const tl_column& c = t->columns[k];
      EXPECT_TRUE(cols.insert(c.name).second) << t->name << " has " << c.name << " twice";
      EXPECT_TRUE(std::regex_match(c.name, ident)) << c.name;
      if (k < kTlKeyColumns) continue;
      EXPECT_EQ(c.start, c.field->field_offset + 1);
      EXPECT_EQ(c.length, c.field->field_length);
      // The common block is text, as -D writes it; layout amounts keep their decimals.
      EXPECT_EQ(c.decimals, k < kTlKeyColumns + 10 ? -1 : c.field->amount_ind);
    }
  }
  EXPECT_EQ(m.table(-1), nullptr);
  EXPECT_EQ(m.table(bdtr_count), nullptr);
  const tl_table& t = table_of(m, "10269050");
  EXPECT_EQ(t.record_key, "102690.50");
  EXPECT_EQ(t.record_class, "10");
  EXPECT_EQ(t.columns[3].name, "record_identifier_pos_001_006");
  EXPECT_EQ(t.columns[13].name, "pos_062_072_amount_2_decimals");
  EXPECT_EQ(t.columns[13].display, "Pos 062-072 amount 2 decimals");
  EXPECT_EQ(t.columns[13].start, 62);
  EXPECT_EQ(t.columns[13].length, 11);
  EXPECT_EQ(t.columns[13].decimals, 2);
}

TEST(TableModel, NamesAsTheyAreWhenTheModelIsMadeAndMadeUnique) {
  tl_test_names();
  const int r = tl_test_layout("10269050");
  bdt_fields_tag* f = bdtr_list[r].fields;
  while (f->display_csv != 1 || f->field_offset < 61) f++;
  char* before[2] = {f[0].field_name, f[1].field_name};
  char same[] = "Line";
  char idx[] = "IDX";
  f[0].field_name = same;
  f[1].field_name = same;
  tl_table_model m1;
  f[0].field_name = idx;
  tl_table_model m2;
  f[0].field_name = before[0];
  f[1].field_name = before[1];
  const tl_table& t1 = *m1.table(r);
  EXPECT_EQ(t1.columns[13].name, "line_2") << "line is taken by the record number";
  EXPECT_EQ(t1.columns[14].name, "line_3");
  EXPECT_EQ(t1.columns[13].display, "Line");
  EXPECT_EQ(m2.table(r)->columns[13].name, "idx_2");
  tl_table_model m3;
  EXPECT_EQ(m3.table(r)->columns[13].name, "pos_062_072_amount_2_decimals");
}

TEST(TableModel, Amounts) {
  int64_t v = 99;
  EXPECT_TRUE(tl_parse_amount("123", 3, &v));
  EXPECT_EQ(v, 123);
  EXPECT_TRUE(tl_parse_amount("12E", 3, &v));
  EXPECT_EQ(v, 125);
  EXPECT_TRUE(tl_parse_amount("12N", 3, &v));
  EXPECT_EQ(v, -125);
  EXPECT_TRUE(tl_parse_amount("00}", 3, &v));
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(tl_parse_amount("00{", 3, &v));
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(tl_parse_amount("R", 1, &v));
  EXPECT_EQ(v, -9);
  EXPECT_TRUE(tl_parse_amount("999999999999999999", 18, &v));
  EXPECT_EQ(v, 999999999999999999LL);
  v = 7;
  for (const char* bad : {"1 3", " 12", "12 ", "1.2", "12S", "-12", "1\x80" "2"}) {
    EXPECT_FALSE(tl_parse_amount(bad, std::strlen(bad), &v)) << bad;
  }
  EXPECT_FALSE(tl_parse_amount("", 0, &v));
  EXPECT_FALSE(tl_parse_amount("1234567890123456789", 19, &v));
  EXPECT_EQ(v, 7) << "left untouched when not a number";

  // Eight digits at a time: every byte value at every place of every length
  // against a reading one character at a time.
  auto one_by_one = [](const std::string& t, int64_t* u) {
    if (t.empty() || t.size() > 18) return false;
    int64_t x = 0;
    for (size_t i = 0; i + 1 < t.size(); i++) {
      if (t[i] < '0' || t[i] > '9') return false;
      x = x * 10 + (t[i] - '0');
    }
    const char c = t.back();
    int d = -1, sign = 1;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c == '{') d = 0;
    else if (c == '}') d = 0, sign = -1;
    else if (c >= 'A' && c <= 'I') d = c - 'A' + 1;
    else if (c >= 'J' && c <= 'R') d = c - 'J' + 1, sign = -1;
    if (d < 0) return false;
    *u = sign * (x * 10 + d);
    return true;
  };
  int differ = 0;
  for (size_t n = 1; n <= 18; n++) {
    for (size_t at = 0; at < n; at++) {
      for (int b = 0; b < 256; b++) {
        std::string t = std::string("987654321098765432").substr(0, n);
        t[at] = static_cast<char>(b);
        int64_t want = 0, got = 0;
        const bool w = one_by_one(t, &want), g = tl_parse_amount(t.data(), t.size(), &got);
        if (w != g || (w && want != got)) differ++;
        // Within a record: the eight bytes before the field are anything.
        const std::string rec = std::string("x\x01\xff 9-}A", 8) + t;
        int64_t in_record = 0;
        const bool r = tl_parse_amount_in_record(rec.data() + 8, t.size(), &in_record);
        if (w != r || (w && want != in_record)) differ++;
      }
    }
  }
  EXPECT_EQ(differ, 0);

  char out[64];
  auto dec = [&](int64_t u, int d) { return std::string(out, tl_put_decimal(u, d, out)); };
  EXPECT_EQ(dec(12345, 2), "123.45");
  EXPECT_EQ(dec(-100, 2), "-1.00");
  EXPECT_EQ(dec(-5, 2), "-0.05");
  EXPECT_EQ(dec(0, 2), "0.00");
  EXPECT_EQ(dec(7, 0), "7");
  EXPECT_EQ(dec(-7, 0), "-7");
  EXPECT_EQ(dec(123, 3), "0.123");
  EXPECT_EQ(dec(999999999999999999LL, 4), "99999999999999.9999");
  EXPECT_EQ(dec(INT64_MIN, 0), "-9223372036854775808");
  // Sums beyond 64 bits, to the ends of the 128-bit range.
  auto dec128 = [&](__int128 u, int d) { return std::string(out, tl_put_decimal(u, d, out)); };
  const __int128 big = static_cast<__int128>(INT64_MAX) * 1000;
  EXPECT_EQ(dec128(big + 5, 2), "92233720368547758070.05");
  EXPECT_EQ(dec128(-big, 0), "-9223372036854775807000");
  const __int128 min128 = -static_cast<__int128>((static_cast<unsigned __int128>(1) << 127) - 1) - 1;
  EXPECT_EQ(dec128(min128, 0), "-170141183460469231731687303715884105728");
  EXPECT_EQ(dec128(min128, 40), "-0.0170141183460469231731687303715884105728");
}

TEST(TableModel, Latin1AndCsvFields) {
  char out[16];
  auto utf8 = [&](const std::string& s) { return std::string(out, tl_latin1_to_utf8(s.data(), s.size(), out)); };
  EXPECT_EQ(utf8("ab c"), "ab c");
  EXPECT_EQ(utf8("\xe9"), "\xc3\xa9");
  EXPECT_EQ(utf8("\x80"), "\xc2\x80");
  EXPECT_EQ(utf8("a\xff" "b"), "a\xc3\xbf" "b");
  EXPECT_EQ(utf8("\x7f\x01"), "\x7f\x01");

  auto csv = [](const std::string& s) {
    std::string o = "x,";
    tl_append_csv_field(o, s.data(), s.size());
    return o;
  };
  EXPECT_EQ(csv("plain  "), "x,plain  ");
  EXPECT_EQ(csv("a,b"), "x,\"a,b\"");
  EXPECT_EQ(csv("say \"hi\""), "x,\"say \"\"hi\"\"\"");
  EXPECT_EQ(csv("a\rb"), "x,\"a\rb\"");
  EXPECT_EQ(csv("a\nb"), "x,\"a\nb\"");
  EXPECT_EQ(csv(""), "x,");
  EXPECT_EQ(csv("'=;\t"), "x,'=;\t");

  EXPECT_EQ(tl_record_content("ab\r\n", 4), 2u);
  EXPECT_EQ(tl_record_content("ab\n", 3), 2u);
  EXPECT_EQ(tl_record_content("ab\r", 3), 2u);
  EXPECT_EQ(tl_record_content("ab", 2), 2u);
  EXPECT_EQ(tl_record_content("a\r\r\n", 4), 2u) << "one line end only";

  // Identifiers and raw bytes as the loaders write them.
  EXPECT_EQ(tl_sql_quoted("r100101_00"), "\"r100101_00\"");
  EXPECT_EQ(tl_sql_quoted("a\"b\"\""), "\"a\"\"b\"\"\"\"\"");
  EXPECT_EQ(tl_sql_quoted(""), "\"\"");
  std::string raw = "\\x";
  tl_append_hex(raw, "\x00\x0f\xf0\xff" "A", 5);
  EXPECT_EQ(raw, "\\x000ff0ff41");
  tl_append_hex(raw, "", 0);
  EXPECT_EQ(raw, "\\x000ff0ff41");

  char hex[33];
  tl_digest_hex({0x0123456789abcdefULL, 0xfedcba9876543210ULL}, hex);
  EXPECT_STREQ(hex, "0123456789abcdeffedcba9876543210");
}

TEST(TableModel, RowsOfRecords) {
  tl_test_names();
  tl_table_model m;
  tl_row_maker rows(m);
  // 102690.50: amounts at (61,11) and (72,11).
  std::string rec = tl_test_rec("10269050", {{48, "ACCT,\"\xe9\"    "}, {61, "00000012345"}, {72, "0000000010J"}});
  const tl_row* r = &rows.make(rec.data(), rec.size(), 5);
  ASSERT_EQ(r->table, m.table(tl_test_layout("10269050")));
  EXPECT_EQ(r->line, 5u);
  EXPECT_EQ(r->idx, 0);
  EXPECT_EQ(r->reject, nullptr);
  ASSERT_EQ(r->ncells, r->table->columns.size() - kTlKeyColumns);
  EXPECT_EQ(r->cells[0].kind, tl_cell::text);
  EXPECT_EQ(std::string(r->cells[0].p, r->cells[0].n), "102690");
  EXPECT_EQ(std::string(r->cells[9].p, r->cells[9].n), "ACCT,\"\xc3\xa9\"     ") << "cut as is, Latin-1 in UTF-8";
  EXPECT_EQ(r->cells[10].kind, tl_cell::amount);
  EXPECT_EQ(r->cells[10].units, 12345);
  EXPECT_EQ(r->cells[10].decimals, 2);
  EXPECT_EQ(r->cells[11].units, -101);
  EXPECT_EQ(r->raw, rec.data());
  EXPECT_EQ(r->raw_len, rec.size());

  // An amount that is no number, and a NUL in a text: NULL and listed.
  std::string bad = rec;
  bad[65] = ' ';
  bad[50] = '\0';
  r = &rows.make(bad.data(), bad.size(), 6);
  EXPECT_EQ(r->cells[10].kind, tl_cell::null_value);
  EXPECT_EQ(r->cells[9].kind, tl_cell::null_value);
  EXPECT_EQ(r->cells[11].kind, tl_cell::amount);
  ASSERT_NE(r->reject, nullptr);
  EXPECT_STREQ(r->reject, "NUL byte in pos_049_061_text; amount not a number in pos_062_072_amount_2_decimals");

  // A short record: stored as far as it goes.
  std::string shortrec = rec.substr(0, 66) + "\r\n";
  r = &rows.make(shortrec.data(), shortrec.size(), 7);
  EXPECT_EQ(r->cells[9].kind, tl_cell::text);
  EXPECT_EQ(r->cells[10].kind, tl_cell::null_value);
  EXPECT_EQ(r->cells[11].kind, tl_cell::null_value);
  EXPECT_STREQ(r->reject, "short record (66 of 225 characters); amount cut short in pos_062_072_amount_2_decimals");
  std::string longrec = rec.substr(0, 225) + "XY\r\n";
  EXPECT_STREQ(rows.make(longrec.data(), longrec.size(), 8).reject, "long record (227 of 225 characters)");

  // Unknown layouts go to the rejects only.
  std::string unknown = tl_test_rec("10010199");
  r = &rows.make(unknown.data(), unknown.size(), 9);
  EXPECT_EQ(r->table, nullptr);
  EXPECT_STREQ(r->reject, "unknown layout");

  // The index as -D counts it: an index record carries the new value.
  std::string i1 = tl_test_rec("10300500"), i2 = tl_test_rec("10301000"), other = tl_test_rec("10301500");
  EXPECT_EQ(rows.make(other.data(), other.size(), 1).idx, 0);
  EXPECT_EQ(rows.make(i1.data(), i1.size(), 2).idx, 1);
  EXPECT_EQ(rows.make(other.data(), other.size(), 3).idx, 1);
  EXPECT_EQ(rows.make(i2.data(), i2.size(), 4).idx, 2);
  EXPECT_EQ(rows.make(unknown.data(), unknown.size(), 5).idx, 2);
  rows.reset();
  EXPECT_EQ(rows.make(other.data(), other.size(), 1).idx, 0) << "counted per document";
}

TEST(TableModel, RowsWithoutAllocating) {
  tl_test_names();
  tl_table_model m;
  tl_row_maker rows(m);
  std::vector<std::string> recs = {
      tl_test_rec("10269050", {{48, "ACCT\xe9\xff,\"x"}, {61, "00000012345"}, {72, "0000000010J"}}),
      tl_test_rec("10269050", {{61, "0000 012345"}}),
      tl_test_rec("10269050").substr(0, 70) + "\r\n",
      tl_test_rec("10269050") + "XYZ",
      tl_test_rec("10010199"),
      tl_test_rec("10300500"),
  };
  for (int i = 0; i < bdtr_count; i++) {
    recs.push_back(tl_test_rec(std::string(bdtr_list[i].record_id) + bdtr_list[i].record_suffix, {}, '\xe9'));
  }
  size_t cells = 0;
  g_allocations = 0;
  g_count_allocations = true;
  for (int round = 0; round < 3; round++) {
    for (size_t i = 0; i < recs.size(); i++) cells += rows.make(recs[i].data(), recs[i].size(), i + 1).ncells;
  }
  g_count_allocations = false;
  EXPECT_EQ(g_allocations, 0) << "allocations while converting " << cells << " values";
  EXPECT_GT(cells, 1000u);
  // The counter itself counts.
  g_count_allocations = true;
  std::vector<int> control(10);
  g_count_allocations = false;
  EXPECT_EQ(g_allocations, 1);
}

// The built-in record catalogue against the published layout figures, and
// record identification.
#include <algorithm>
#include <map>
#include <memory>
#include <set>

#include "tl_testutil.h"

namespace {

std::string key_of(const bdt_record_tag& r) { return std::string(r.record_id) + "." + r.record_suffix; }

bool is_filler(const bdt_fields_tag& f) {
  return f.display == 0 && f.display_csv == 0 && f.display_xml == 0 && f.display_html == 0;
}

int list_size(const bdt_fields_tag* f) {
  int n = 0;
  while (!bdt_is_end(f[n])) ++n;
  return n;
}

// The layout with the key "nnnnnn.ss".
const bdt_record_tag* find_layout(const std::string& key) {
  return &bdtr_list[tl_test_layout(key.substr(0, 6) + key.substr(7))];
}

// Reads "key n key (n), key ..." lists: a key alone counts 1.
std::vector<std::pair<std::string, int>> keyed(const std::string& text) {
  std::vector<std::pair<std::string, int>> out;
  std::istringstream in(text);
  for (std::string t; in >> t;) {
    t.erase(std::remove_if(t.begin(), t.end(), [](char c) { return c == ',' || c == '(' || c == ')'; }), t.end());
    if (t.find('.') != std::string::npos) {
      out.emplace_back(t.substr(0, 9), 1);
    } else {
      out.back().second = std::stoi(t);
    }
  }
  return out;
}

// Every layout with the number of its entries, in catalogue order.
const char kLayoutCounts[] =
    "100101.00 38 100101.01 4 100405.00 8 100505.00 10 100505.01 6 100506.00 8 100510.00 13 100510.50 6 100512.00 19 "
    "100512.50 8 100513.00 19 100513.01 8 100514.00 14 100515.00 14 100516.00 14 100522.00 12 100523.00 12 100524.00 "
    "12 100525.00 11 100550.00 15 100550.50 8 100551.00 19 100552.00 14 100553.00 14 100554.00 14 100555.00 12 "
    "100556.00 12 100557.00 12 100558.00 11 100612.00 16 100612.01 4 100613.00 9 100614.00 17 100615.00 19 100805.00 "
    "13 101005.00 3 101505.00 10 101590.00 4 102005.00 17 102005.01 30 102005.02 7 102005.03 11 102005.50 5 102005.51 "
    "13 102090.00 8 102505.00 8 102590.00 4 102605.50 10 102690.50 3 102705.00 22 102705.01 12 102710.00 18 102715.00 "
    "13 102790.00 9 103005.00 15 103010.00 10 103015.00 28 103015.01 42 103015.02 16 103016.00 6 103020.00 44 "
    "103020.01 15 103020.50 11 103021.00 6 103025.00 13 103090.00 10 103425.00 19 103505.00 44 103505.01 31 103505.02 "
    "10 103510.00 50 103515.00 42 103520.00 43 103520.01 32 103520.02 7 103522.00 23 103525.00 49 103527.00 47 "
    "103527.01 31 103527.02 21 103527.50 6 103528.00 28 103528.50 16 103529.00 23 103530.00 20 103590.00 18 103593.00 "
    "21 103595.00 15 103604.50 43 103605.00 42 103623.50 9 103624.50 12 103629.00 26 103630.00 10 103690.00 8 "
    "103705.00 42 103705.01 15 103706.00 38 103706.01 9 103708.00 31 103710.00 36 103715.00 29 103720.00 44 103720.01 "
    "20 103721.00 20 103724.00 29 103727.00 48 103730.00 12 103790.00 9 103793.00 17 103805.00 28 103810.00 25 "
    "103815.00 23 103817.00 24 103820.00 26 103830.00 11 103905.00 40 103910.00 32 103915.00 23 103920.00 50 "
    "103920.01 7 103927.00 44 103927.01 27 103930.00 10 103990.00 9 103993.00 10 104001.00 12 104005.00 17 104015.00 "
    "14 104105.00 10 104115.00 9 104205.00 13 104215.00 12 104305.00 13 104315.00 12 105003.00 15 105005.00 12 "
    "105090.00 9 105505.00 11 105590.00 9 106005.00 18 106005.01 7 106090.00 14 106305.00 9 106390.00 10 109999.00 16 "
    "109999.01 3 300101.00 12 300305.00 3 300305.01 6 300505.00 11 300510.00 21 300512.00 30 300513.00 25 300515.00 6 "
    "300530.00 13 305005.00 20 305010.00 10 305015.00 15 305105.00 8 305110.00 19 305110.01 5 305111.00 18 305111.01 "
    "8 305130.00 12 309999.00 6 400101.00 16 400505.00 29 400505.01 3 400510.00 11 401005.00 6 401010.00 6 401010.50 "
    "33 401015.00 8 401020.00 4 401021.00 9 401505.00 12 401506.00 9 401510.00 13 401510.01 23 401515.00 5 401516.00 "
    "17 401517.00 17 401520.00 38 401520.01 17 401521.00 37 401521.01 20 401522.00 18 401524.00 22 401524.01 9 "
    "401525.00 9 401535.00 12 402005.00 3 402505.00 13 402510.00 5 402510.50 3 402515.00 12 402515.50 3 402517.00 9 "
    "402518.00 19 402520.00 4 402520.50 3 402521.00 5 402521.50 4 402522.00 5 402522.50 4 402525.00 8 402525.50 5 "
    "402527.00 6 402530.00 6 409999.00 7 999999.00 7 ";

TEST(CatalogueContent, LayoutsClassesAndFlags) {
  const auto want = keyed(kLayoutCounts);
  ASSERT_EQ(bdtr_count, 212);
  ASSERT_EQ(want.size(), 212u);
  std::map<char, int> by_class;
  std::vector<std::string> inline_keys;
  for (int i = 0; i < bdtr_count; ++i) {
    const bdt_record_tag& r = bdtr_list[i];
    SCOPED_TRACE(want[i].first);
    EXPECT_EQ(key_of(r), want[i].first);
    ASSERT_NE(r.fields, nullptr);
    EXPECT_EQ(list_size(r.fields), want[i].second);
    EXPECT_TRUE(r.required_suffix == 1 && r.display == 1 && r.display_fields == 1);
    ++by_class[r.record_id[0]];
    if (r.display_csv_inline == 1) inline_keys.push_back(key_of(r));
  }
  EXPECT_EQ(by_class, (std::map<char, int>{{'1', 147}, {'3', 19}, {'4', 45}, {'9', 1}}));
  EXPECT_EQ(inline_keys, (std::vector<std::string>{"103604.50", "103605.00", "103623.50", "103624.50", "103629.00"}));
}

TEST(CatalogueContent, EndMarkerTerminatorsAndIndexRecords) {
  const bdt_record_tag& end = bdtr_list[bdtr_count];
  EXPECT_TRUE(key_of(end) == "000000.00" && end.required_suffix == 99 && end.display == 0 &&
              end.display_fields == 0 && end.display_csv_inline == 0 && end.record_name == nullptr &&
              end.fields == nullptr && std::string(end.record_name2) == "end of list");
  ASSERT_EQ(list_size(bdtf_common), 10);
  std::vector<const bdt_fields_tag*> ends = {&bdtf_common[10]};
  for (int i = 0; i < bdtr_count; ++i) ends.push_back(&bdtr_list[i].fields[list_size(bdtr_list[i].fields)]);
  for (const bdt_fields_tag* t : ends) {
    EXPECT_TRUE(t->field_offset == 0 && t->field_length == 0 && is_filler(*t) && t->amount_ind == -1 &&
                t->special_format == 0 && t->field_name == nullptr && t->record_value == nullptr &&
                std::string(t->field_name2) == "end of list");
  }
  EXPECT_EQ(std::string(indexRecords[0]) + indexRecords[1] + indexRecords[2], "103005103010999999");
}

// Per-entry rules, the published totals over all 3439 entries, and where
// each list lies: every layout ends at position 224; all but 999999.00 start
// at 61; all but the four irregular ones run without gaps or overlaps.
TEST(CatalogueContent, EntriesTotalsAndCoverage) {
  const std::set<std::string> irregular = {"103505.01", "103708.00", "103715.00", "305111.01"};
  int entries = 0, shown = 0, fillers = 0, longest_list = 0, longest_amount = 0, widest = 0;
  std::map<int, int> amount, special;  // by amount_ind
  std::set<std::string> special_layouts;
  std::map<int, std::map<std::string, int>> amount_layouts;
  auto walk = [&](const bdt_fields_tag* f, const std::string& key) {
    SCOPED_TRACE(key);
    const int n = list_size(f);
    longest_list = std::max(longest_list, n);
    int max_end = 0;
    bool contiguous = true;
    for (int e = 0; e < n; ++e) {
      SCOPED_TRACE(e);
      EXPECT_TRUE((f[e].display == 0 || f[e].display == 1) && f[e].display_csv == f[e].display &&
                  f[e].display_xml == f[e].display && f[e].display_html == f[e].display);
      EXPECT_EQ(f[e].field_index, e + (is_filler(f[e]) && key != "999999.00" ? 10 : 0));
      EXPECT_TRUE(f[e].record_value == nullptr && f[e].field_length >= 1 &&
                  (f[e].special_format == 0 || f[e].special_format == 1));
      EXPECT_TRUE(!is_filler(f[e]) || (f[e].amount_ind == -1 && f[e].special_format == 0));
      ++entries;
      ++(is_filler(f[e]) ? fillers : shown);
      ++amount[f[e].amount_ind];
      widest = std::max(widest, f[e].field_length);
      if (f[e].amount_ind >= 0) {
        longest_amount = std::max(longest_amount, f[e].field_length);
        if (key != "common") ++amount_layouts[f[e].amount_ind][key];
      }
      if (f[e].special_format == 1) {
        ++special[f[e].amount_ind];
        special_layouts.insert(key);
      }
      max_end = std::max(max_end, f[e].field_offset + f[e].field_length);
      if (e > 0 && f[e].field_offset != f[e - 1].field_offset + f[e - 1].field_length) contiguous = false;
    }
    if (key == "common") return;
    EXPECT_EQ(max_end, 225);
    EXPECT_EQ(f[n - 1].field_offset + f[n - 1].field_length, 225);
    EXPECT_EQ(f[0].field_offset, key == "999999.00" ? 0 : 61);
    EXPECT_EQ(contiguous, irregular.count(key) == 0);
  };
  for (int i = 0; i < bdtr_count; ++i) walk(bdtr_list[i].fields, key_of(bdtr_list[i]));
  EXPECT_EQ(entries, 3429);
  walk(bdtf_common, "common");
  EXPECT_EQ(entries, 3439);
  EXPECT_EQ(shown, 3010);
  EXPECT_EQ(fillers, 429);
  EXPECT_EQ(amount, (std::map<int, int>{{-1, 2336}, {0, 574}, {2, 458}, {3, 3}, {4, 37}, {6, 2}, {7, 18}, {9, 11}}));
  EXPECT_EQ(special, (std::map<int, int>{{-1, 46}, {0, 43}, {4, 1}}));
  EXPECT_EQ(special_layouts.size(), 82u);
  EXPECT_EQ(amount_layouts[0].size(), 119u);
  EXPECT_EQ(amount_layouts[2].size(), 118u);
  EXPECT_EQ(longest_list, 50);
  EXPECT_LE(longest_amount, 14);
  EXPECT_EQ(widest, 159);
  const std::map<int, const char*> rare = {
      {3, "103805.00, 103820.00, 105003.00"},
      {4, "103015.00, 103604.50, 103605.00, 103624.50, 103629.00 (3), 305110.00 (2), 305111.00 (2), "
          "305111.01 (2), 401520.00 (3), 401520.01 (2), 401521.00 (4), 401521.01 (6), 401522.00 (4), "
          "401524.00 (3), 401524.01 (2)"},
      {6, "103015.01 (2)"},
      {7, "102710.00, 103425.00, 103525.00, 103528.00 (3), 103605.00, 103629.00, 103705.00, 103708.00, "
          "103710.00, 103720.00, 103724.00, 103805.00, 103810.00, 103815.00, 103817.00, 103820.00"},
      {9, "103505.00, 103510.00, 103515.00 (2), 103520.00, 103522.00, 103715.00, 103905.00, 103910.00, "
          "103915.00, 103920.00"},
  };
  for (const auto& r : rare) {
    const auto list = keyed(r.second);
    EXPECT_EQ(amount_layouts[r.first], (std::map<std::string, int>(list.begin(), list.end()))) << r.first;
  }
}

struct Entry { int offset, length, shown, amount_ind, special_format, index; };

// Reads a list in the published notation: [start] where an entry does not
// follow its predecessor, length, F filler (index + filler_add), aN
// amount_ind, s special form.
std::vector<Entry> parse_compact(const std::string& text, int pos = 61, int filler_add = 10) {
  std::vector<Entry> out;
  std::istringstream in(text);
  for (std::string t; in >> t;) {
    size_t i = 0, used = 0;
    if (t[0] == '[') {
      pos = std::stoi(t.substr(1));
      i = t.find(']') + 1;
    }
    Entry e{pos, std::stoi(t.substr(i), &used), 1, -1, 0, static_cast<int>(out.size())};
    for (i += used; i < t.size(); ++i) {
      if (t[i] == 'F') e.shown = 0, e.index += filler_add;
      if (t[i] == 's') e.special_format = 1;
      if (t[i] == 'a') e.amount_ind = t[i + 1] - '0';
    }
    pos += e.length;
    out.push_back(e);
  }
  return out;
}

void expect_list(const std::string& name, const bdt_fields_tag* list, const std::vector<Entry>& want) {
  SCOPED_TRACE(name);
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list_size(list), static_cast<int>(want.size()));
  for (size_t e = 0; e < want.size(); ++e) {
    const bdt_fields_tag& f = list[e];
    const Entry& w = want[e];
    EXPECT_TRUE(f.field_offset == w.offset && f.field_length == w.length && f.display == w.shown &&
                is_filler(f) == (w.shown == 0) && f.amount_ind == w.amount_ind &&
                f.special_format == w.special_format && f.field_index == w.index)
        << "entry " << e << " at " << f.field_offset;
  }
}

TEST(CatalogueContent, ListsAsPublished) {
  const std::pair<const char*, const char*> layouts[] = {
      {"100101.00", "15s 6F 3a0 4 3 3 2F 1 3a0 4 1 1 1 1 1F 5a0 4 8 4F 2 10 30 1 10 10 5F 1 13 3 1 1a0 "
                    "1 1 1 1 1 1 1"},
      {"103624.50", "1F 1 6 10 10 90 20F 13a4 9F 2 1 1"},
      {"103505.01", "11 10a0s 2 1 1 1 1 8 8 24F 5a0 3a0 6a0 4 1 3F 11 13F 3a0 20F 1 [199]3F [201]1 1 3F 1 10F 3 1a0 "
                    "3a0 1"},
      {"103708.00", "11 1 2 1 1 1 11a0 7a7 11a2 8 8 1 2 4 1 1 8 8 [130]1 1 8 8 10a0 4a0 11 1 2F 1 4 43F 1"},
      {"103715.00", "11 1 10F 2 11a0 11a9 11a2 8 8 1 1 1 1 1 1 1 1 8 8 4 2 1 1 1 [222]1 [167]4 51F [223]1 1"},
      {"305111.01", "11a4 11a4 11a2 [93]11a2 [105]11a2 11a2 11a2 87F"},
  };
  for (const auto& l : layouts) expect_list(l.first, find_layout(l.first)->fields, parse_compact(l.second));
  // 999999.00 covers the whole record and its fillers keep their plain ordinals.
  expect_list("999999.00", find_layout("999999.00")->fields, parse_compact("6 42F 13 8 4a0 11a0 141F", 0, 0));
  expect_list("common", bdtf_common, parse_compact("6 2a0 1a0 5 8 10 3 4a0 9a0 13", 0));
}

// ---- identification

std::string record(const std::string& key8) { return key8 + std::string(217, ' ') + "\r\n"; }

TEST(CatalogueIdentify, EdgeCases) {
  const int i100101_01 = static_cast<int>(find_layout("100101.01") - bdtr_list);
  const int i999999 = static_cast<int>(find_layout("999999.00") - bdtr_list);
  const struct {
    const char* name;
    std::string text;
    int want;  // index in bdtr_list, -1 unknown
  } cases[] = {
      {"bill header suffix 00", record("10010100"), 0}, {"bill header suffix 01", record("10010101"), i100101_01},
      {"known id, unknown suffix", record("10010102"), -1}, {"end marker never matches", record("00000000"), -1},
      {"last layout", record("99999900"), i999999},         {"bare 8-char key", "10010101", i100101_01},
      {"seven characters", "1001010", -1},                  {"empty", "", -1},
      {"line end at 6-7", "100101\r\n", -1},                {"id with a letter", record("1001O100"), -1},
      {"leading blank", record(" 10010100"), -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(iFindBDTrecord(c.text.c_str()), c.want);
    EXPECT_EQ(iFindBDTrecordIn(bdtr_list, c.text.c_str()), c.want);
  }
}

bdt_record_tag layout(const char* id, int required_suffix, const char* suffix) {
  bdt_record_tag r{};
  strcpy(r.record_id, id);
  r.required_suffix = required_suffix;
  strcpy(r.record_suffix, suffix);
  return r;
}

TEST(CatalogueIdentify, SuffixRuleAndFirstMatch) {
  const struct {
    const char* name;
    std::vector<bdt_record_tag> list;  // the end marker is appended
    const char* text;
    int want;
  } cases[] = {
      {"suffix not required: any suffix", {layout("100101", 0, "00")}, "10010177 x", 0},
      {"suffix not required: six characters do", {layout("100101", 0, "00")}, "100101", 0},
      {"suffix not required: five do not", {layout("100101", 0, "00")}, "10010", -1},
      {"other required_suffix values act as 0", {layout("300000", 2, "00")}, "30000042", 0},
      {"first match wins", {layout("100101", 0, "99"), layout("100101", 1, "01")}, "10010101", 0},
      {"suffix required first, id alone later", {layout("100101", 1, "01"), layout("100101", 0, "00")}, "10010155", 1},
      {"empty list", {}, "00000000", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<bdt_record_tag> list = c.list;
    list.push_back(layout("000000", 99, "00"));
    EXPECT_EQ(iFindBDTrecordIn(list.data(), c.text), c.want);
  }
}

// The hashed lookup must answer as the linear search does for any text. Each
// text sits in a block of its exact size, so that a sanitizer build catches
// a read past its end.
void expect_same(const std::string& s) {
  const size_t size = strlen(s.c_str()) + 1;
  std::unique_ptr<char[]> text(new char[size]);
  memcpy(text.get(), s.c_str(), size);
  const int linear = iFindBDTrecordIn(bdtr_list, text.get());
  const int fast = iFindBDTrecord(text.get());
  if (linear != fast) {
    ADD_FAILURE() << "fast " << fast << ", linear " << linear << " for " << testing::PrintToString(s);
  }
}

TEST(CatalogueIdentify, FastEqualsLinear) {
  for (int i = 0; i < bdtr_count; ++i) {
    const std::string rec = record(std::string(bdtr_list[i].record_id) + bdtr_list[i].record_suffix);
    ASSERT_EQ(iFindBDTrecord(rec.c_str()), i);
    for (size_t cut = 0; cut <= 9; ++cut) expect_same(rec.substr(0, cut));
    for (int pos = 0; pos < 8; ++pos) {
      for (int v = 1; v < 256; ++v) {
        std::string changed = rec;
        changed[pos] = static_cast<char>(v);
        expect_same(changed);
      }
    }
  }
}

// The key table gives what bdt_record_key makes, padded with NULs.
TEST(CatalogueIdentify, KeyTableMatchesRecordKeys) {
  for (int i = 0; i < bdtr_count; ++i) {
    char want[16] = {};
    const size_t n = bdt_record_key(bdtr_list[i], want);
    const bdt_key& k = bdt_key_of(i);
    EXPECT_EQ(std::string(k.text, k.n), std::string(want, n)) << i;
    EXPECT_EQ(memcmp(k.text, want, sizeof want), 0) << i;
  }
  EXPECT_EQ(std::string(bdt_key_of(0).text), "100101.00");
}

}  // namespace

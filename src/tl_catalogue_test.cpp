// Checks of the built-in record catalogue against the published layout figures,
// and of record identification.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tl_bdt.h"

namespace {

std::string key_of(const bdt_record_tag& r) {
  return std::string(r.record_id) + "." + r.record_suffix;
}

bool is_filler(const bdt_fields_tag& f) {
  return f.display == 0 && f.display_csv == 0 && f.display_xml == 0 && f.display_html == 0;
}

int list_size(const bdt_fields_tag* f) {
  int n = 0;
  while (!bdt_is_end(f[n])) ++n;
  return n;
}

const bdt_record_tag* find_layout(const std::string& key) {
  for (int i = 0; i < bdtr_count; ++i) {
    if (key_of(bdtr_list[i]) == key) return &bdtr_list[i];
  }
  return nullptr;
}

// Entry counts of every layout, in catalogue order.
struct LayoutCount {
  const char* key;
  int entries;
};
const LayoutCount kLayoutCounts[] = {
    {"100101.00", 38}, {"100101.01", 4}, {"100405.00", 8}, {"100505.00", 10}, {"100505.01", 6},
    {"100506.00", 8}, {"100510.00", 13}, {"100510.50", 6}, {"100512.00", 19}, {"100512.50", 8},
    {"100513.00", 19}, {"100513.01", 8}, {"100514.00", 14}, {"100515.00", 14}, {"100516.00", 14},
    {"100522.00", 12}, {"100523.00", 12}, {"100524.00", 12}, {"100525.00", 11}, {"100550.00", 15},
    {"100550.50", 8}, {"100551.00", 19}, {"100552.00", 14}, {"100553.00", 14}, {"100554.00", 14},
    {"100555.00", 12}, {"100556.00", 12}, {"100557.00", 12}, {"100558.00", 11}, {"100612.00", 16},
    {"100612.01", 4}, {"100613.00", 9}, {"100614.00", 17}, {"100615.00", 19}, {"100805.00", 13},
    {"101005.00", 3}, {"101505.00", 10}, {"101590.00", 4}, {"102005.00", 17}, {"102005.01", 30},
    {"102005.02", 7}, {"102005.03", 11}, {"102005.50", 5}, {"102005.51", 13}, {"102090.00", 8},
    {"102505.00", 8}, {"102590.00", 4}, {"102605.50", 10}, {"102690.50", 3}, {"102705.00", 22},
    {"102705.01", 12}, {"102710.00", 18}, {"102715.00", 13}, {"102790.00", 9}, {"103005.00", 15},
    {"103010.00", 10}, {"103015.00", 28}, {"103015.01", 42}, {"103015.02", 16}, {"103016.00", 6},
    {"103020.00", 44}, {"103020.01", 15}, {"103020.50", 11}, {"103021.00", 6}, {"103025.00", 13},
    {"103090.00", 10}, {"103425.00", 19}, {"103505.00", 44}, {"103505.01", 31}, {"103505.02", 10},
    {"103510.00", 50}, {"103515.00", 42}, {"103520.00", 43}, {"103520.01", 32}, {"103520.02", 7},
    {"103522.00", 23}, {"103525.00", 49}, {"103527.00", 47}, {"103527.01", 31}, {"103527.02", 21},
    {"103527.50", 6}, {"103528.00", 28}, {"103528.50", 16}, {"103529.00", 23}, {"103530.00", 20},
    {"103590.00", 18}, {"103593.00", 21}, {"103595.00", 15}, {"103604.50", 43}, {"103605.00", 42},
    {"103623.50", 9}, {"103624.50", 12}, {"103629.00", 26}, {"103630.00", 10}, {"103690.00", 8},
    {"103705.00", 42}, {"103705.01", 15}, {"103706.00", 38}, {"103706.01", 9}, {"103708.00", 31},
    {"103710.00", 36}, {"103715.00", 29}, {"103720.00", 44}, {"103720.01", 20}, {"103721.00", 20},
    {"103724.00", 29}, {"103727.00", 48}, {"103730.00", 12}, {"103790.00", 9}, {"103793.00", 17},
    {"103805.00", 28}, {"103810.00", 25}, {"103815.00", 23}, {"103817.00", 24}, {"103820.00", 26},
    {"103830.00", 11}, {"103905.00", 40}, {"103910.00", 32}, {"103915.00", 23}, {"103920.00", 50},
    {"103920.01", 7}, {"103927.00", 44}, {"103927.01", 27}, {"103930.00", 10}, {"103990.00", 9},
    {"103993.00", 10}, {"104001.00", 12}, {"104005.00", 17}, {"104015.00", 14}, {"104105.00", 10},
    {"104115.00", 9}, {"104205.00", 13}, {"104215.00", 12}, {"104305.00", 13}, {"104315.00", 12},
    {"105003.00", 15}, {"105005.00", 12}, {"105090.00", 9}, {"105505.00", 11}, {"105590.00", 9},
    {"106005.00", 18}, {"106005.01", 7}, {"106090.00", 14}, {"106305.00", 9}, {"106390.00", 10},
    {"109999.00", 16}, {"109999.01", 3}, {"300101.00", 12}, {"300305.00", 3}, {"300305.01", 6},
    {"300505.00", 11}, {"300510.00", 21}, {"300512.00", 30}, {"300513.00", 25}, {"300515.00", 6},
    {"300530.00", 13}, {"305005.00", 20}, {"305010.00", 10}, {"305015.00", 15}, {"305105.00", 8},
    {"305110.00", 19}, {"305110.01", 5}, {"305111.00", 18}, {"305111.01", 8}, {"305130.00", 12},
    {"309999.00", 6}, {"400101.00", 16}, {"400505.00", 29}, {"400505.01", 3}, {"400510.00", 11},
    {"401005.00", 6}, {"401010.00", 6}, {"401010.50", 33}, {"401015.00", 8}, {"401020.00", 4},
    {"401021.00", 9}, {"401505.00", 12}, {"401506.00", 9}, {"401510.00", 13}, {"401510.01", 23},
    {"401515.00", 5}, {"401516.00", 17}, {"401517.00", 17}, {"401520.00", 38}, {"401520.01", 17},
    {"401521.00", 37}, {"401521.01", 20}, {"401522.00", 18}, {"401524.00", 22}, {"401524.01", 9},
    {"401525.00", 9}, {"401535.00", 12}, {"402005.00", 3}, {"402505.00", 13}, {"402510.00", 5},
    {"402510.50", 3}, {"402515.00", 12}, {"402515.50", 3}, {"402517.00", 9}, {"402518.00", 19},
    {"402520.00", 4}, {"402520.50", 3}, {"402521.00", 5}, {"402521.50", 4}, {"402522.00", 5},
    {"402522.50", 4}, {"402525.00", 8}, {"402525.50", 5}, {"402527.00", 6}, {"402530.00", 6},
    {"409999.00", 7}, {"999999.00", 7},
};

TEST(CatalogueContent, LayoutsInStrictKeyOrderWithPublishedEntryCounts) {
  ASSERT_EQ(bdtr_count, 212);
  ASSERT_EQ(sizeof kLayoutCounts / sizeof kLayoutCounts[0], 212u);
  for (int i = 0; i < bdtr_count; ++i) {
    SCOPED_TRACE(kLayoutCounts[i].key);
    EXPECT_EQ(key_of(bdtr_list[i]), kLayoutCounts[i].key);
    ASSERT_NE(bdtr_list[i].fields, nullptr);
    EXPECT_EQ(list_size(bdtr_list[i].fields), kLayoutCounts[i].entries);
    EXPECT_EQ(strlen(bdtr_list[i].record_id), 6u);
    EXPECT_EQ(strlen(bdtr_list[i].record_suffix), 2u);
    if (i > 0) {
      EXPECT_LT(key_of(bdtr_list[i - 1]), key_of(bdtr_list[i]));
    }
  }
}

TEST(CatalogueContent, LayoutClassesAndFlags) {
  std::map<char, int> by_class;
  int inline_count = 0;
  for (int i = 0; i < bdtr_count; ++i) {
    const bdt_record_tag& r = bdtr_list[i];
    SCOPED_TRACE(key_of(r));
    ++by_class[r.record_id[0]];
    EXPECT_EQ(r.required_suffix, 1);
    EXPECT_EQ(r.display, 1);
    EXPECT_EQ(r.display_fields, 1);
    EXPECT_NE(r.record_name2, nullptr);
    inline_count += r.display_csv_inline;
  }
  EXPECT_EQ(by_class['1'], 147);
  EXPECT_EQ(by_class['3'], 19);
  EXPECT_EQ(by_class['4'], 45);
  EXPECT_EQ(by_class['9'], 1);
  EXPECT_EQ(by_class.size(), 4u);
  EXPECT_EQ(key_of(bdtr_list[0]), "100101.00");  // the summary report reads position 0
  EXPECT_EQ(inline_count, 5);
  for (const char* key : {"103604.50", "103605.00", "103623.50", "103624.50", "103629.00"}) {
    const bdt_record_tag* r = find_layout(key);
    ASSERT_NE(r, nullptr) << key;
    EXPECT_EQ(r->display_csv_inline, 1) << key;
  }
}

TEST(CatalogueContent, EndMarker) {
  const bdt_record_tag& end = bdtr_list[bdtr_count];
  EXPECT_STREQ(end.record_id, "000000");
  EXPECT_EQ(end.required_suffix, 99);
  EXPECT_STREQ(end.record_suffix, "00");
  EXPECT_EQ(end.display, 0);
  EXPECT_EQ(end.display_fields, 0);
  EXPECT_EQ(end.display_csv_inline, 0);
  EXPECT_EQ(end.record_name, nullptr);
  EXPECT_STREQ(end.record_name2, "end of list");
  EXPECT_EQ(end.fields, nullptr);
}

void expect_terminator(const bdt_fields_tag& t) {
  EXPECT_EQ(t.field_index, 99);
  EXPECT_EQ(t.field_offset, 0);
  EXPECT_EQ(t.field_length, 0);
  EXPECT_EQ(t.display, 0);
  EXPECT_EQ(t.display_csv, 0);
  EXPECT_EQ(t.display_xml, 0);
  EXPECT_EQ(t.display_html, 0);
  EXPECT_EQ(t.amount_ind, -1);
  EXPECT_EQ(t.special_format, 0);
  EXPECT_EQ(t.field_name, nullptr);
  EXPECT_STREQ(t.field_name2, "end of list");
  EXPECT_EQ(t.record_value, nullptr);
}

TEST(CatalogueContent, EveryListEndsWithTheTerminator) {
  for (int i = 0; i < bdtr_count; ++i) {
    SCOPED_TRACE(key_of(bdtr_list[i]));
    expect_terminator(bdtr_list[i].fields[list_size(bdtr_list[i].fields)]);
  }
  SCOPED_TRACE("common block");
  ASSERT_EQ(list_size(bdtf_common), 10);
  expect_terminator(bdtf_common[10]);
}

// field_index is the ordinal, plus 10 for a filler (999999.00 excepted); the
// four display flags of an entry agree; record_value is never set.
TEST(CatalogueContent, EntryIndicesAndFlags) {
  for (int i = 0; i < bdtr_count; ++i) {
    const bdt_record_tag& r = bdtr_list[i];
    SCOPED_TRACE(key_of(r));
    const bool plain_fillers = key_of(r) == "999999.00";
    for (int e = 0; e < list_size(r.fields); ++e) {
      const bdt_fields_tag& f = r.fields[e];
      SCOPED_TRACE(e);
      EXPECT_EQ(f.display_csv, f.display);
      EXPECT_EQ(f.display_xml, f.display);
      EXPECT_EQ(f.display_html, f.display);
      EXPECT_TRUE(f.display == 0 || f.display == 1);
      EXPECT_EQ(f.field_index, e + (is_filler(f) && !plain_fillers ? 10 : 0));
      EXPECT_EQ(f.record_value, nullptr);
      EXPECT_NE(f.field_name2, nullptr);
      EXPECT_GE(f.field_length, 1);
      EXPECT_LE(f.field_length, 159);
      if (is_filler(f)) {
        EXPECT_EQ(f.amount_ind, -1);
        EXPECT_EQ(f.special_format, 0);
      }
    }
  }
}

TEST(CatalogueContent, Totals) {
  int entries = 0, shown = 0, fillers = 0;
  std::map<int, int> amount;
  int special = 0, special_text = 0, special_a0 = 0, special_a4 = 0;
  std::set<std::string> special_layouts;
  std::map<int, std::set<std::string>> amount_layouts;
  int longest_list = 0, longest_amount = 0, widest = 0;
  auto count = [&](const bdt_fields_tag& f, const std::string& key) {
    ++entries;
    if (is_filler(f)) {
      ++fillers;
    } else if (f.display == 1) {
      ++shown;
    }
    ++amount[f.amount_ind];
    if (f.amount_ind >= 0) {
      amount_layouts[f.amount_ind].insert(key);
      longest_amount = std::max(longest_amount, f.field_length);
    }
    widest = std::max(widest, f.field_length);
    if (f.special_format == 1) {
      ++special;
      special_layouts.insert(key);
      if (f.amount_ind == -1) ++special_text;
      if (f.amount_ind == 0) ++special_a0;
      if (f.amount_ind == 4) ++special_a4;
    } else {
      EXPECT_EQ(f.special_format, 0);
    }
  };
  for (int i = 0; i < bdtr_count; ++i) {
    const bdt_fields_tag* f = bdtr_list[i].fields;
    longest_list = std::max(longest_list, list_size(f));
    for (int e = 0; !bdt_is_end(f[e]); ++e) count(f[e], key_of(bdtr_list[i]));
  }
  EXPECT_EQ(entries, 3429);
  for (int e = 0; e < 10; ++e) count(bdtf_common[e], "common");
  EXPECT_EQ(entries, 3439);
  EXPECT_EQ(shown, 3010);
  EXPECT_EQ(fillers, 429);
  const std::map<int, int> expected_amount = {{-1, 2336}, {0, 574}, {2, 458}, {3, 3},
                                              {4, 37},    {6, 2},   {7, 18},  {9, 11}};
  EXPECT_EQ(amount, expected_amount);
  EXPECT_EQ(special, 90);
  EXPECT_EQ(special_text, 46);
  EXPECT_EQ(special_a0, 43);
  EXPECT_EQ(special_a4, 1);
  EXPECT_EQ(special_layouts.size(), 82u);
  // The common block counts as a "layout" for amount 0 above; leave it out here.
  amount_layouts[0].erase("common");
  EXPECT_EQ(amount_layouts[0].size(), 119u);
  EXPECT_EQ(amount_layouts[2].size(), 118u);
  EXPECT_EQ(longest_list, 50);
  EXPECT_LE(longest_amount, 14);
  EXPECT_EQ(widest, 159);
}

// Where the rarer amount_ind values stand: layout and number of such fields.
struct RareAmount {
  int amount_ind;
  std::map<std::string, int> layouts;
};

TEST(CatalogueContent, RareAmountIndValues) {
  const RareAmount cases[] = {
      {3, {{"103805.00", 1}, {"103820.00", 1}, {"105003.00", 1}}},
      {4, {{"103015.00", 1}, {"103604.50", 1}, {"103605.00", 1}, {"103624.50", 1},
           {"103629.00", 3}, {"305110.00", 2}, {"305111.00", 2}, {"305111.01", 2},
           {"401520.00", 3}, {"401520.01", 2}, {"401521.00", 4}, {"401521.01", 6},
           {"401522.00", 4}, {"401524.00", 3}, {"401524.01", 2}}},
      {6, {{"103015.01", 2}}},
      {7, {{"102710.00", 1}, {"103425.00", 1}, {"103525.00", 1}, {"103528.00", 3},
           {"103605.00", 1}, {"103629.00", 1}, {"103705.00", 1}, {"103708.00", 1},
           {"103710.00", 1}, {"103720.00", 1}, {"103724.00", 1}, {"103805.00", 1},
           {"103810.00", 1}, {"103815.00", 1}, {"103817.00", 1}, {"103820.00", 1}}},
      {9, {{"103505.00", 1}, {"103510.00", 1}, {"103515.00", 2}, {"103520.00", 1},
           {"103522.00", 1}, {"103715.00", 1}, {"103905.00", 1}, {"103910.00", 1},
           {"103915.00", 1}, {"103920.00", 1}}},
  };
  for (const RareAmount& c : cases) {
    SCOPED_TRACE(c.amount_ind);
    std::map<std::string, int> found;
    for (int i = 0; i < bdtr_count; ++i) {
      for (const bdt_fields_tag* f = bdtr_list[i].fields; !bdt_is_end(*f); ++f) {
        if (f->amount_ind == c.amount_ind) ++found[key_of(bdtr_list[i])];
      }
    }
    EXPECT_EQ(found, c.layouts);
  }
}

// Every layout ends at position 224; all but 999999.00 start at 61; all but
// the four irregular ones run without gaps or overlaps.
TEST(CatalogueContent, LayoutsCoverTheRecord) {
  const std::set<std::string> irregular = {"103505.01", "103708.00", "103715.00", "305111.01"};
  for (int i = 0; i < bdtr_count; ++i) {
    const std::string key = key_of(bdtr_list[i]);
    SCOPED_TRACE(key);
    const bdt_fields_tag* f = bdtr_list[i].fields;
    const int n = list_size(f);
    ASSERT_GT(n, 0);
    int max_end = 0;
    bool contiguous = true;
    for (int e = 0; e < n; ++e) {
      max_end = std::max(max_end, f[e].field_offset + f[e].field_length);
      if (e > 0 && f[e].field_offset != f[e - 1].field_offset + f[e - 1].field_length) contiguous = false;
    }
    EXPECT_EQ(max_end, 225);
    EXPECT_EQ(f[n - 1].field_offset + f[n - 1].field_length, 225);
    EXPECT_EQ(f[0].field_offset, key == "999999.00" ? 0 : 61);
    EXPECT_EQ(contiguous, irregular.count(key) == 0);
  }
}

// One expected entry: offset, length, shown (1) or filler (0), amount_ind,
// special_format, field_index.
struct Entry {
  int offset, length, shown, amount_ind, special_format, index;
};

void expect_layout(const char* key, const std::vector<Entry>& want) {
  SCOPED_TRACE(key);
  const bdt_record_tag* r = find_layout(key);
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(list_size(r->fields), static_cast<int>(want.size()));
  for (size_t e = 0; e < want.size(); ++e) {
    SCOPED_TRACE(e);
    const bdt_fields_tag& f = r->fields[e];
    EXPECT_EQ(f.field_offset, want[e].offset);
    EXPECT_EQ(f.field_length, want[e].length);
    EXPECT_EQ(f.display, want[e].shown);
    EXPECT_EQ(is_filler(f), want[e].shown == 0);
    EXPECT_EQ(f.amount_ind, want[e].amount_ind);
    EXPECT_EQ(f.special_format, want[e].special_format);
    EXPECT_EQ(f.field_index, want[e].index);
  }
}

TEST(CatalogueContent, Layout100101_00InFull) {
  std::vector<Entry> want = {
      {61, 15, 1, -1, 1, 0},  {76, 6, 0, -1, 0, 11},  {82, 3, 1, 0, 0, 2},    {85, 4, 1, -1, 0, 3},
      {89, 3, 1, -1, 0, 4},   {92, 3, 1, -1, 0, 5},   {95, 2, 0, -1, 0, 16},  {97, 1, 1, -1, 0, 7},
      {98, 3, 1, 0, 0, 8},    {101, 4, 1, -1, 0, 9},  {105, 1, 1, -1, 0, 10}, {106, 1, 1, -1, 0, 11},
      {107, 1, 1, -1, 0, 12}, {108, 1, 1, -1, 0, 13}, {109, 1, 0, -1, 0, 24}, {110, 5, 1, 0, 0, 15},
      {115, 4, 1, -1, 0, 16}, {119, 8, 1, -1, 0, 17}, {127, 4, 0, -1, 0, 28}, {131, 2, 1, -1, 0, 19},
      {133, 10, 1, -1, 0, 20}, {143, 30, 1, -1, 0, 21}, {173, 1, 1, -1, 0, 22}, {174, 10, 1, -1, 0, 23},
      {184, 10, 1, -1, 0, 24}, {194, 5, 0, -1, 0, 35}, {199, 1, 1, -1, 0, 26}, {200, 13, 1, -1, 0, 27},
      {213, 3, 1, -1, 0, 28}, {216, 1, 1, -1, 0, 29}, {217, 1, 1, 0, 0, 30},
  };
  for (int e = 31; e <= 37; ++e) want.push_back({218 + (e - 31), 1, 1, -1, 0, e});
  expect_layout("100101.00", want);
}

TEST(CatalogueContent, Layout103624_50InFull) {
  expect_layout("103624.50", {
                                 {61, 1, 0, -1, 0, 10},
                                 {62, 1, 1, -1, 0, 1},
                                 {63, 6, 1, -1, 0, 2},
                                 {69, 10, 1, -1, 0, 3},
                                 {79, 10, 1, -1, 0, 4},
                                 {89, 90, 1, -1, 0, 5},
                                 {179, 20, 0, -1, 0, 16},
                                 {199, 13, 1, 4, 0, 7},
                                 {212, 9, 0, -1, 0, 18},
                                 {221, 2, 1, -1, 0, 9},
                                 {223, 1, 1, -1, 0, 10},
                                 {224, 1, 1, -1, 0, 11},
                             });
}

TEST(CatalogueContent, Layout999999_00CoversTheWholeRecord) {
  expect_layout("999999.00", {
                                 {0, 6, 1, -1, 0, 0},
                                 {6, 42, 0, -1, 0, 1},
                                 {48, 13, 1, -1, 0, 2},
                                 {61, 8, 1, -1, 0, 3},
                                 {69, 4, 1, 0, 0, 4},
                                 {73, 11, 1, 0, 0, 5},
                                 {84, 141, 0, -1, 0, 6},
                             });
}

// The four irregular lists, in the compact layout notation: [start] where an
// entry does not follow its predecessor, length, F filler, aN amount_ind, s.
std::vector<Entry> parse_compact(const std::string& text) {
  std::vector<Entry> out;
  int pos = 61;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    if (text[i] == '[') {
      size_t close = text.find(']', i);
      pos = std::stoi(text.substr(i + 1, close - i - 1));
      i = close + 1;
    }
    size_t used = 0;
    Entry e{pos, std::stoi(text.substr(i), &used), 1, -1, 0, static_cast<int>(out.size())};
    i += used;
    if (i < text.size() && text[i] == 'F') {
      e.shown = 0;
      e.index += 10;
      ++i;
    }
    if (i < text.size() && text[i] == 'a') {
      e.amount_ind = std::stoi(text.substr(i + 1), &used);
      i += 1 + used;
    }
    if (i < text.size() && text[i] == 's') {
      e.special_format = 1;
      ++i;
    }
    pos += e.length;
    out.push_back(e);
  }
  return out;
}

TEST(CatalogueContent, IrregularListsHeldAsListed) {
  const std::pair<const char*, const char*> cases[] = {
      {"103505.01",
       "11 10a0s 2 1 1 1 1 8 8 24F 5a0 3a0 6a0 4 1 3F 11 13F 3a0 20F 1 [199]3F [201]1 1 3F 1 "
       "10F 3 1a0 3a0 1"},
      {"103708.00",
       "11 1 2 1 1 1 11a0 7a7 11a2 8 8 1 2 4 1 1 8 8 [130]1 1 8 8 10a0 4a0 11 1 2F 1 4 43F 1"},
      {"103715.00",
       "11 1 10F 2 11a0 11a9 11a2 8 8 1 1 1 1 1 1 1 1 8 8 4 2 1 1 1 [222]1 [167]4 51F [223]1 1"},
      {"305111.01", "11a4 11a4 11a2 [93]11a2 [105]11a2 11a2 11a2 87F"},
  };
  for (const auto& c : cases) expect_layout(c.first, parse_compact(c.second));
}

TEST(CatalogueContent, CommonBlock) {
  const int want[10][3] = {{0, 6, -1}, {6, 2, 0},  {8, 1, 0},   {9, 5, -1},  {14, 8, -1},
                           {22, 10, -1}, {32, 3, -1}, {35, 4, 0}, {39, 9, 0}, {48, 13, -1}};
  ASSERT_EQ(list_size(bdtf_common), 10);
  for (int e = 0; e < 10; ++e) {
    SCOPED_TRACE(e);
    const bdt_fields_tag& f = bdtf_common[e];
    EXPECT_EQ(f.field_index, e);
    EXPECT_EQ(f.field_offset, want[e][0]);
    EXPECT_EQ(f.field_length, want[e][1]);
    EXPECT_EQ(f.amount_ind, want[e][2]);
    EXPECT_EQ(f.display, 1);
    EXPECT_EQ(f.display_csv, 1);
    EXPECT_EQ(f.display_xml, 1);
    EXPECT_EQ(f.display_html, 1);
    EXPECT_EQ(f.special_format, 0);
    EXPECT_EQ(f.record_value, nullptr);
  }
}

TEST(CatalogueContent, IndexRecords) {
  EXPECT_STREQ(indexRecords[0], "103005");
  EXPECT_STREQ(indexRecords[1], "103010");
  EXPECT_STREQ(indexRecords[2], "999999");
}

// ---- identification

std::string record(const std::string& key8) {
  return key8 + std::string(217, ' ') + "\r\n";
}

struct IdentifyCase {
  const char* name;
  std::string text;
  int want;  // index in bdtr_list, -1 unknown
};

TEST(CatalogueIdentify, EdgeCases) {
  const int i100101_01 = static_cast<int>(find_layout("100101.01") - bdtr_list);
  const int i999999 = static_cast<int>(find_layout("999999.00") - bdtr_list);
  const IdentifyCase cases[] = {
      {"bill header suffix 00", record("10010100"), 0},
      {"bill header suffix 01", record("10010101"), i100101_01},
      {"known id, unknown suffix", record("10010102"), -1},
      {"end marker key never matches", record("00000000"), -1},
      {"last layout", record("99999900"), i999999},
      {"bare 8-char key", "10010101", i100101_01},
      {"seven characters", "1001010", -1},
      {"six characters", "100101", -1},
      {"empty", "", -1},
      {"CR LF at 6-7", "100101\r\n", -1},
      {"LF at 7", "1001010\n", -1},
      {"LF at 6", "100101\n", -1},
      {"id with a letter", record("1001O100"), -1},
      {"blank suffix", record("100101  "), -1},
      {"leading blank", record(" 10010100"), -1},
  };
  for (const IdentifyCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(iFindBDTrecord(c.text.c_str()), c.want);
    EXPECT_EQ(iFindBDTrecordIn(bdtr_list, c.text.c_str()), c.want);
  }
  // A NUL inside the key ends the record text there.
  const char with_nul[] = "100101\0" "00";
  EXPECT_EQ(iFindBDTrecord(with_nul), -1);
  EXPECT_EQ(iFindBDTrecordIn(bdtr_list, with_nul), -1);
}

bdt_record_tag layout(const char* id, int required_suffix, const char* suffix) {
  bdt_record_tag r{};
  strcpy(r.record_id, id);
  r.required_suffix = required_suffix;
  strcpy(r.record_suffix, suffix);
  return r;
}

TEST(CatalogueIdentify, CustomLists) {
  const bdt_record_tag end = layout("000000", 99, "00");
  struct Case {
    const char* name;
    std::vector<bdt_record_tag> list;  // end marker appended
    const char* text;
    int want;
  };
  const Case cases[] = {
      {"suffix not required: any suffix", {layout("100101", 0, "00")}, "10010177 x", 0},
      {"suffix not required: short record", {layout("100101", 0, "00")}, "100101", 0},
      {"suffix not required: six chars only", {layout("100101", 0, "00")}, "10010", -1},
      {"first match wins over a later exact key",
       {layout("100101", 0, "99"), layout("100101", 1, "01")}, "10010101", 0},
      {"suffix required first, id-only later",
       {layout("100101", 1, "01"), layout("100101", 0, "00")}, "10010155", 1},
      {"duplicate keys: the first", {layout("200000", 1, "00"), layout("200000", 1, "00")}, "20000000", 0},
      {"other required_suffix values act as 0", {layout("300000", 2, "00")}, "30000042", 0},
      {"empty list", {}, "10010100", -1},
      {"end marker key in an empty list", {}, "00000000", -1},
      {"short id matches only a record ending there", {layout("1001", 1, "00")}, "1001", -1},
      {"short id, suffix not required", {layout("1001", 0, "00")}, "1001", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<bdt_record_tag> list = c.list;
    list.push_back(end);
    EXPECT_EQ(iFindBDTrecordIn(list.data(), c.text), c.want);
  }
}

// The fast lookup must give the linear search's answer for any input. The
// text is copied into a block of its exact size so that a sanitizer build
// catches any read past its end.
void expect_same(const char* text_in, size_t len_for_trace) {
  const size_t size = strlen(text_in) + 1;
  std::unique_ptr<char[]> copy(new char[size]);
  memcpy(copy.get(), text_in, size);
  const char* text = copy.get();
  const int linear = iFindBDTrecordIn(bdtr_list, text);
  const int fast = iFindBDTrecord(text);
  if (linear != fast) {
    ADD_FAILURE() << "fast " << fast << " linear " << linear << " for "
                  << ::testing::PrintToString(std::string(text, strnlen(text, len_for_trace)));
  }
}

TEST(CatalogueIdentify, FastEqualsLinearForEveryKeyAndPerturbation) {
  for (int i = 0; i < bdtr_count; ++i) {
    const std::string key = std::string(bdtr_list[i].record_id) + bdtr_list[i].record_suffix;
    const std::string rec = record(key);
    ASSERT_EQ(iFindBDTrecord(rec.c_str()), i);
    for (size_t cut = 0; cut <= 9; ++cut) {
      const std::string prefix = rec.substr(0, cut);
      expect_same(prefix.c_str(), cut);
    }
    for (int pos = 0; pos < 8; ++pos) {
      for (int v = 0; v < 256; ++v) {
        std::string changed = rec;
        changed[pos] = static_cast<char>(v);
        expect_same(changed.c_str(), changed.size());
      }
    }
  }
}

TEST(CatalogueIdentify, FastEqualsLinearForRandomInputs) {
  std::mt19937 rng(20060201);
  const char pool[] = "0123456789\r\n \x01\xff";
  std::vector<std::string> keys;
  for (int i = 0; i < bdtr_count; ++i) keys.push_back(std::string(bdtr_list[i].record_id) + bdtr_list[i].record_suffix);
  for (int n = 0; n < 200000; ++n) {
    std::string s;
    if (n % 2 == 0) {
      // a real key with a random tail or a random change
      s = keys[rng() % keys.size()];
      s[rng() % 8] = pool[rng() % (sizeof pool - 1)];
    } else {
      const size_t len = rng() % 12;
      for (size_t k = 0; k < len; ++k) s += pool[rng() % (sizeof pool - 1)];
    }
    if (rng() % 3 == 0) s.resize(rng() % (s.size() + 1));
    expect_same(s.c_str(), s.size());
  }
}

}  // namespace

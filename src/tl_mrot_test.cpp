// Checks of the name alphabets, de_mrot and the display names of the catalogue.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "tl_bdt.h"
#include "tl_mrot.h"

namespace {

const char kSingles[8] = {tl_mrot_c1, tl_mrot_c2, tl_mrot_c3, tl_mrot_c4,
                          tl_mrot_c5, tl_mrot_c6, tl_mrot_c7, tl_mrot_c8};

std::string joined(const char* const pieces[7]) {
  std::string s;
  for (int i = 0; i < 7; ++i) s += pieces[i];
  return s;
}

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string readable(const std::string& stored) {
  std::vector<char> out(stored.size() + 1, 0);
  de_mrot(stored.c_str(), out.data(), static_cast<int>(stored.size()));
  return out.data();
}

TEST(NameAlphabet, PieceSizesAndContents) {
  const size_t sizes[7] = {10, 10, 10, 6, 10, 10, 6};
  for (int i = 0; i < 7; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(strlen(tl_mrot_plain_pieces[i]), sizes[i]);
    EXPECT_EQ(strlen(tl_mrot_stored_pieces[i]), sizes[i]);
  }
  EXPECT_EQ(joined(tl_mrot_plain_pieces),
            "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  std::string stored = joined(tl_mrot_stored_pieces);
  std::string plain = joined(tl_mrot_plain_pieces);
  EXPECT_NE(stored, plain);
  std::sort(stored.begin(), stored.end());
  std::sort(plain.begin(), plain.end());
  EXPECT_EQ(stored, plain);
}

TEST(NameAlphabet, SingleCharacters) {
  std::set<char> singles(kSingles, kSingles + 8);
  EXPECT_EQ(singles.size(), 8u);
  for (char c : singles) {
    EXPECT_FALSE(is_letter(c) || is_digit(c)) << c;
    EXPECT_EQ(strchr(",\"\t<>&\\", c), nullptr) << c;
  }
  for (char c : {' ', '-', '.', '_', '/'}) EXPECT_EQ(singles.count(c), 1u) << c;
}

// Position j of the stored alphabet stands for position j of the readable one.
TEST(NameAlphabet, DeMrotMapsPositionByPosition) {
  EXPECT_EQ(readable(joined(tl_mrot_stored_pieces)), joined(tl_mrot_plain_pieces));
  // The eight single characters map among themselves, in another order.
  std::set<char> images;
  bool all_fixed = true;
  for (char c : kSingles) {
    const std::string r = readable(std::string(1, c));
    ASSERT_EQ(r.size(), 1u) << c;
    images.insert(r[0]);
    if (r[0] != c) all_fixed = false;
  }
  EXPECT_EQ(images, std::set<char>(kSingles, kSingles + 8));
  EXPECT_FALSE(all_fixed);
}

TEST(NameAlphabet, DeMrotEdgeCases) {
  struct Case {
    const char* name;
    std::string stored;
    int len;
    std::string want;  // the readable text (up to the first NUL)
  };
  const std::string digits = joined(tl_mrot_stored_pieces).substr(0, 10);
  const Case cases[] = {
      {"empty text", "", 0, ""},
      {"negative length", digits, -3, ""},
      {"length shorter than the text", digits, 4, "0123"},
      {"comma cuts the name", digits.substr(0, 2) + "," + digits.substr(2, 2), 5, "01"},
      {"quote at the start", "\"" + digits.substr(0, 3), 4, ""},
      {"non-ASCII byte", digits.substr(0, 1) + "\xe9", 2, "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Zeroed up to len, a sentinel after it: de_mrot writes no NUL of its own
    // and nothing at or past len.
    const int len = c.len < 0 ? 0 : c.len;
    char buf[32];
    memset(buf, 'Z', sizeof buf);
    memset(buf, 0, static_cast<size_t>(len));
    char* r = de_mrot(c.stored.c_str(), buf, c.len);
    EXPECT_EQ(r, buf);
    EXPECT_EQ(std::string(buf, strnlen(buf, static_cast<size_t>(len))), c.want);
    for (int i = len; i < 32; ++i) EXPECT_EQ(buf[i], 'Z') << i;
  }
  // Characters after an unknown one are still translated.
  char buf[8] = {0};
  const std::string cut = digits.substr(0, 1) + "," + digits.substr(5, 1);
  de_mrot(cut.c_str(), buf, 3);
  EXPECT_EQ(buf[0], '0');
  EXPECT_EQ(buf[1], 0);
  EXPECT_EQ(buf[2], '5');
}

// ---- the catalogue's display names

bool is_filler(const bdt_fields_tag& f) {
  return f.display == 0 && f.display_csv == 0 && f.display_xml == 0 && f.display_html == 0;
}

std::string key_of(const bdt_record_tag& r) { return std::string(r.record_id) + "." + r.record_suffix; }

// The XML writers turn blank, '&', '/', '<', '>' and backslash into '_'.
std::string xml_element(const std::string& name) {
  std::string s = name;
  for (char& c : s) {
    if (strchr(" &/<>\\", c) != nullptr) c = '_';
  }
  return s;
}

void expect_good_name(const char* name) {
  ASSERT_NE(name, nullptr);
  const std::string n = name;
  ASSERT_FALSE(n.empty());
  EXPECT_TRUE(is_letter(n[0])) << n;
  const std::string alphabet = joined(tl_mrot_plain_pieces) + std::string(kSingles, 8);
  for (char c : n) {
    EXPECT_NE(alphabet.find(c), std::string::npos) << n;
    EXPECT_EQ(strchr(",\"\t<>&", c), nullptr) << n;
  }
  for (char c : xml_element(n)) {
    EXPECT_TRUE(is_letter(c) || is_digit(c) || c == '-' || c == '.' || c == '_') << n;
  }
}

// "Pos 062-076 text" or "Pos 083-085 amount 0 decimals" for the entry.
std::string position_name(const bdt_fields_tag& f) {
  char buf[64];
  if (f.amount_ind < 0) {
    snprintf(buf, sizeof buf, "Pos %03d-%03d text", f.field_offset + 1, f.field_offset + f.field_length);
  } else {
    snprintf(buf, sizeof buf, "Pos %03d-%03d amount %d decimals", f.field_offset + 1,
             f.field_offset + f.field_length, f.amount_ind);
  }
  return buf;
}

std::string class_name(char first) {
  switch (first) {
    case '1': return "Bill record";
    case '3': return "Supplemental Detail record";
    case '4': return "CSR record";
    default: return "Other record";
  }
}

class CatalogueNames : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(iDemrotStrings(), 0); }
};

TEST_F(CatalogueNames, EveryEntryHasAReadableName) {
  for (int i = 0; i < bdtr_count; ++i) {
    const bdt_record_tag& r = bdtr_list[i];
    SCOPED_TRACE(key_of(r));
    ASSERT_NE(r.record_name, nullptr);
    EXPECT_EQ(std::string(r.record_name), readable(r.record_name2));
    EXPECT_NE(std::string(r.record_name), std::string(r.record_name2));  // stored scrambled
    for (const bdt_fields_tag* f = r.fields; !bdt_is_end(*f); ++f) {
      ASSERT_NE(f->field_name, nullptr);
      EXPECT_EQ(strlen(f->field_name), strlen(f->field_name2));  // no character was cut
    }
  }
  for (const bdt_fields_tag* f = bdtf_common; !bdt_is_end(*f); ++f) {
    ASSERT_NE(f->field_name, nullptr);
    EXPECT_EQ(strlen(f->field_name), strlen(f->field_name2));
  }
}

TEST_F(CatalogueNames, TerminatorsAndEndMarkerKeepNoName) {
  EXPECT_EQ(bdtr_list[bdtr_count].record_name, nullptr);
  EXPECT_STREQ(bdtr_list[bdtr_count].record_name2, "end of list");
  for (int i = 0; i < bdtr_count; ++i) {
    const bdt_fields_tag* f = bdtr_list[i].fields;
    while (!bdt_is_end(*f)) ++f;
    EXPECT_EQ(f->field_name, nullptr) << key_of(bdtr_list[i]);
    EXPECT_STREQ(f->field_name2, "end of list");
  }
  EXPECT_EQ(bdtf_common[10].field_name, nullptr);
}

TEST_F(CatalogueNames, SecondCallKeepsTheNames) {
  const char* first_layout = bdtr_list[0].record_name;
  const char* first_field = bdtr_list[0].fields[0].field_name;
  const char* first_common = bdtf_common[0].field_name;
  EXPECT_EQ(iDemrotStrings(), 0);
  EXPECT_EQ(bdtr_list[0].record_name, first_layout);
  EXPECT_EQ(bdtr_list[0].fields[0].field_name, first_field);
  EXPECT_EQ(bdtf_common[0].field_name, first_common);
}

// Entries whose readable name is unset get it from their stored text, cut at
// the first character outside the stored alphabet; an empty stored text gives
// an empty name. The catalogue is patched for the test and restored.
TEST_F(CatalogueNames, UnsetNamesAreFilledFromTheStoredText) {
  const std::string stored_digits = joined(tl_mrot_stored_pieces).substr(0, 4);
  const std::string with_comma = stored_digits.substr(0, 2) + "," + stored_digits.substr(2);
  struct Case {
    const char* name;
    std::string stored;
    const char* want;
  };
  const Case cases[] = {
      {"empty stored text", "", ""},
      {"plain digits", stored_digits, "0123"},
      {"comma cuts the name", with_comma, "01"},
  };
  bdt_fields_tag& f = bdtr_list[1].fields[0];
  const char* saved_stored = f.field_name2;
  char* saved_name = f.field_name;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    f.field_name2 = c.stored.c_str();
    f.field_name = nullptr;
    EXPECT_EQ(iDemrotStrings(), 0);
    ASSERT_NE(f.field_name, nullptr);
    EXPECT_STREQ(f.field_name, c.want);
    free(f.field_name);
  }
  f.field_name2 = saved_stored;
  f.field_name = saved_name;
}

// With the end marker first the catalogue is empty and nothing is named.
TEST_F(CatalogueNames, EmptyCatalogueIsLeftAlone) {
  bdt_record_tag saved = bdtr_list[0];
  bdtr_list[0].required_suffix = 99;
  bdtr_list[0].record_name = nullptr;
  char* common_name = bdtf_common[0].field_name;
  bdtf_common[0].field_name = nullptr;
  EXPECT_EQ(iDemrotStrings(), 0);
  EXPECT_EQ(bdtr_list[0].record_name, nullptr);
  EXPECT_EQ(bdtf_common[0].field_name, nullptr);
  bdtr_list[0] = saved;
  bdtf_common[0].field_name = common_name;
}

TEST_F(CatalogueNames, RecordNamesGiveClassAndKey) {
  for (int i = 0; i < bdtr_count; ++i) {
    const bdt_record_tag& r = bdtr_list[i];
    expect_good_name(r.record_name);
    EXPECT_EQ(std::string(r.record_name), class_name(r.record_id[0]) + " " + key_of(r));
  }
  EXPECT_STREQ(bdtr_list[0].record_name, "Bill record 100101.00");
}

// Shown fields are named by their 1-based positions and kind, a repeat of the
// same positions is marked, fillers share one name; shown names are unique
// within a list.
TEST_F(CatalogueNames, FieldNamesGivePositionsAndKind) {
  for (int i = 0; i < bdtr_count; ++i) {
    const bdt_record_tag& r = bdtr_list[i];
    SCOPED_TRACE(key_of(r));
    std::set<std::string> shown;
    for (int e = 0; !bdt_is_end(r.fields[e]); ++e) {
      const bdt_fields_tag& f = r.fields[e];
      SCOPED_TRACE(e);
      expect_good_name(f.field_name);
      const std::string name = f.field_name;
      if (is_filler(f)) {
        EXPECT_EQ(name, "Filler");
        continue;
      }
      EXPECT_TRUE(shown.insert(name).second) << "shown twice: " << name;
      const std::string base = position_name(f);
      if (i == 0 && (e == 2 || e == 16 || e == 17)) continue;  // checked below
      if (name != base) {
        EXPECT_EQ(name, base + " repeat");
        EXPECT_EQ(key_of(r), "103708.00");  // the only list that repeats entries
      }
    }
  }
}

TEST_F(CatalogueNames, DescriptiveNames) {
  const struct {
    const bdt_fields_tag* field;
    const char* want;
  } cases[] = {
      {&bdtf_common[0], "Record identifier pos 001-006"},
      {&bdtf_common[1], "Record suffix pos 007-008"},
      {&bdtf_common[2], "Pos 009-009 amount 0 decimals"},
      {&bdtf_common[9], "Pos 049-061 text"},
      {&bdtr_list[0].fields[0], "Pos 062-076 text"},
      {&bdtr_list[0].fields[1], "Filler"},
      {&bdtr_list[0].fields[2], "Version field 1 pos 083-085 amount 0 decimals"},
      {&bdtr_list[0].fields[16], "Version field 2 pos 116-119 text"},
      {&bdtr_list[0].fields[17], "Version field 3 pos 120-127 text"},
  };
  for (const auto& c : cases) {
    ASSERT_NE(c.field->field_name, nullptr) << c.want;
    EXPECT_STREQ(c.field->field_name, c.want);
  }
  std::set<std::string> common;
  for (const bdt_fields_tag* f = bdtf_common; !bdt_is_end(*f); ++f) {
    expect_good_name(f->field_name);
    EXPECT_TRUE(common.insert(f->field_name).second) << f->field_name;
  }
}

TEST_F(CatalogueNames, RepeatedEntriesOf103708) {
  const bdt_record_tag* r = nullptr;
  for (int i = 0; i < bdtr_count; ++i) {
    if (key_of(bdtr_list[i]) == "103708.00") r = &bdtr_list[i];
  }
  ASSERT_NE(r, nullptr);
  const char* const want[][2] = {
      {"Pos 131-131 text", "Pos 131-131 text repeat"},
      {"Pos 132-132 text", "Pos 132-132 text repeat"},
      {"Pos 133-140 text", "Pos 133-140 text repeat"},
      {"Pos 141-148 text", "Pos 141-148 text repeat"},
  };
  for (int k = 0; k < 4; ++k) {
    EXPECT_STREQ(r->fields[14 + k].field_name, want[k][0]);
    EXPECT_STREQ(r->fields[18 + k].field_name, want[k][1]);
  }
}

}  // namespace

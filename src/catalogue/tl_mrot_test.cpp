// The name alphabets, de_mrot, and the display names of the catalogue.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "tl_testutil.h"

namespace {

const char kSingles[8] = {tl_mrot_c1, tl_mrot_c2, tl_mrot_c3, tl_mrot_c4,
                          tl_mrot_c5, tl_mrot_c6, tl_mrot_c7, tl_mrot_c8};

std::string joined(const char* const pieces[7]) {
  std::string s;
  for (int i = 0; i < 7; ++i) s += pieces[i];
  return s;
}

bool is_alnum(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

std::string readable(const std::string& stored) {
  std::vector<char> out(stored.size() + 1, 0);
  de_mrot(stored.c_str(), out.data(), static_cast<int>(stored.size()));
  return out.data();
}

// The stored alphabet holds the readable one's 70 characters in another
// order; position j of the one stands for position j of the other.
TEST(NameAlphabet, PiecesAndMapping) {
  const std::string plain = joined(tl_mrot_plain_pieces);
  std::string stored = joined(tl_mrot_stored_pieces);
  EXPECT_EQ(plain, "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  EXPECT_EQ(readable(stored), plain);
  EXPECT_NE(stored, plain);
  std::sort(stored.begin(), stored.end());
  EXPECT_EQ(stored, plain);
  // Eight distinct characters that no output format has to quote or escape,
  // mapped among themselves.
  const std::set<char> singles(kSingles, kSingles + 8);
  EXPECT_EQ(singles.size(), 8u);
  for (char c : {' ', '-', '.', '_', '/'}) EXPECT_EQ(singles.count(c), 1u) << c;
  for (char c : kSingles) EXPECT_TRUE(!is_alnum(c) && strchr(",\"\t<>&\\", c) == nullptr) << c;
  const std::string mapped = readable(std::string(kSingles, 8));
  EXPECT_EQ(std::set<char>(mapped.begin(), mapped.end()), singles);
  EXPECT_EQ(mapped.size(), 8u);
  EXPECT_NE(mapped, std::string(kSingles, 8));
}

TEST(NameAlphabet, DeMrotEdgeCases) {
  const std::string digits = joined(tl_mrot_stored_pieces).substr(0, 10);
  const std::string nul(1, '\0');
  // want: the len bytes of the zeroed buffer afterwards.
  const struct { const char* name; std::string stored; int len; std::string want; } cases[] = {
      {"empty text", "", 0, ""},  {"negative length", digits, -3, ""},  {"length below the text's", digits, 4, "0123"},
      {"unknown character stays 0, the rest is read", digits.substr(0, 2) + "," + digits.substr(5, 1), 4,
       "01" + nul + "5"},
      {"quote at the start", "\"" + digits.substr(0, 3), 4, nul + "012"},
      {"non-ASCII byte", digits.substr(0, 1) + "\xe9", 2, "0" + nul},
  };
  for (const auto& c : cases) {
    // A sentinel after len: de_mrot writes no NUL of its own and nothing past len.
    const size_t len = c.len < 0 ? 0 : static_cast<size_t>(c.len);
    char buf[32];
    memset(buf, 'Z', sizeof buf);
    memset(buf, 0, len);
    EXPECT_EQ(de_mrot(c.stored.c_str(), buf, c.len), buf) << c.name;
    EXPECT_EQ(std::string(buf, sizeof buf), c.want + std::string(sizeof buf - len, 'Z')) << c.name;
  }
}

// ---- the catalogue's display names

std::string key_of(const bdt_record_tag& r) { return std::string(r.record_id) + "." + r.record_suffix; }

// The name is the readable form of the whole stored text. It starts with a
// letter and holds only letters, digits, blanks and - . _ /, so that it is
// safe as a CSV column, an XML element name and HTML text.
void expect_named(const char* name, const char* stored) {
  ASSERT_NE(name, nullptr);
  const std::string n = name;
  EXPECT_EQ(n, readable(stored));
  EXPECT_EQ(n.size(), strlen(stored));
  ASSERT_FALSE(n.empty());
  EXPECT_TRUE(is_alnum(n[0]) && !(n[0] >= '0' && n[0] <= '9')) << n;
  for (char c : n) EXPECT_TRUE(is_alnum(c) || strchr(" -._/", c) != nullptr) << n;
}

// "Pos 062-076 text" or "Pos 083-085 amount 0 decimals": 1-based positions.
std::string position_name(const bdt_fields_tag& f) {
  char buf[64];
  snprintf(buf, sizeof buf, "Pos %03d-%03d ", f.field_offset + 1, f.field_offset + f.field_length);
  return buf + (f.amount_ind < 0 ? std::string("text") : "amount " + std::to_string(f.amount_ind) + " decimals");
}

class CatalogueNames : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(iDemrotStrings(), 0); }
};

// Entries whose readable name is unset get it from their stored text, cut at
// the first character outside the stored alphabet; names already made stay.
// The catalogue is patched for the test and restored.
TEST_F(CatalogueNames, UnsetNamesAreFilledFromTheStoredText) {
  const std::string stored = joined(tl_mrot_stored_pieces).substr(0, 4);  // "0123" readable
  const struct { const char* name; std::string stored; const char* want; } cases[] = {
      {"empty stored text", "", ""}, {"comma cuts the name", stored.substr(0, 2) + "," + stored.substr(2), "01"}};
  bdt_fields_tag& f = bdtr_list[1].fields[0];
  const bdt_fields_tag saved = f;
  const char* other = bdtr_list[0].record_name;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    f.field_name2 = c.stored.c_str();
    f.field_name = nullptr;
    EXPECT_EQ(iDemrotStrings(), 0);
    ASSERT_NE(f.field_name, nullptr);
    EXPECT_STREQ(f.field_name, c.want);
    free(f.field_name);
  }
  f = saved;
  iDemrotStrings();  // the name texts are made again from the restored name
  EXPECT_EQ(bdtr_list[0].record_name, other);
}

// Every entry is named, terminators and the end marker are not. Record names
// give class and key; shown fields are named by their 1-based positions and
// kind, a repeat of the same positions (only in 103708.00) is marked, fillers
// share one name; shown names are unique within a list.
TEST_F(CatalogueNames, NamesAndTheirRules) {
  const char* const classes[] = {"", "Bill record ", "", "Supplemental Detail record ", "CSR record "};
  for (int i = 0; i < bdtr_count; ++i) {
    const bdt_record_tag& r = bdtr_list[i];
    SCOPED_TRACE(key_of(r));
    expect_named(r.record_name, r.record_name2);
    EXPECT_NE(std::string(r.record_name), std::string(r.record_name2));  // stored scrambled
    const int cls = r.record_id[0] - '0';
    EXPECT_EQ(r.record_name, (cls <= 4 ? std::string(classes[cls]) : "Other record ") + key_of(r));
    std::set<std::string> shown;
    int e = 0;
    for (; !bdt_is_end(r.fields[e]); ++e) {
      const bdt_fields_tag& f = r.fields[e];
      SCOPED_TRACE(e);
      expect_named(f.field_name, f.field_name2);
      const std::string name = f.field_name;
      if (f.display == 0) {
        EXPECT_EQ(name, "Filler");
        continue;
      }
      EXPECT_TRUE(shown.insert(name).second) << "shown twice: " << name;
      if (i == 0 && (e == 2 || e == 16 || e == 17)) continue;  // checked below
      const bool repeat = key_of(r) == "103708.00" && e >= 18 && e <= 21;
      EXPECT_EQ(name, position_name(f) + (repeat ? " repeat" : ""));
    }
    EXPECT_EQ(r.fields[e].field_name, nullptr);
  }
  EXPECT_EQ(bdtr_list[bdtr_count].record_name, nullptr);
  EXPECT_EQ(bdtf_common[10].field_name, nullptr);
  const std::pair<const bdt_fields_tag*, const char*> cases[] = {
      {&bdtf_common[0], "Record identifier pos 001-006"}, {&bdtf_common[1], "Record suffix pos 007-008"},
      {&bdtf_common[2], "Pos 009-009 amount 0 decimals"}, {&bdtf_common[9], "Pos 049-061 text"},
      {&bdtr_list[0].fields[2], "Version field 1 pos 083-085 amount 0 decimals"},
      {&bdtr_list[0].fields[16], "Version field 2 pos 116-119 text"},
      {&bdtr_list[0].fields[17], "Version field 3 pos 120-127 text"}};
  for (const auto& c : cases) EXPECT_STREQ(c.first->field_name, c.second);
  std::set<std::string> common;
  for (const bdt_fields_tag* f = bdtf_common; !bdt_is_end(*f); ++f) {
    expect_named(f->field_name, f->field_name2);
    EXPECT_TRUE(common.insert(f->field_name).second) << f->field_name;
  }
}

}  // namespace

// The name rules, byte by byte: the one definition the generator and the
// names file share.
#include "tl_name_rules.h"

#include "tl_testutil.h"

namespace {

const char* fault(const std::string& s) { return tl_name_fault(s.data(), s.size()); }

TEST(NameRules, EveryByteFirstAndLater) {
  for (int c = 0; c < 256; c++) {
    const char ch = static_cast<char>(c);
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    const bool later = letter || (c >= '0' && c <= '9') || c == ' ' || c == '-' || c == '.' || c == '_' || c == '/';
    SCOPED_TRACE(c);
    EXPECT_EQ(letter, fault(std::string(1, ch)) == nullptr);
    EXPECT_EQ(later, fault(std::string("A") + ch) == nullptr);
  }
}

TEST(NameRules, LengthAndEmpty) {
  EXPECT_STREQ("is empty", fault(""));
  EXPECT_EQ(nullptr, fault(std::string(80, 'x')));
  EXPECT_STREQ("is longer than 80 characters", fault(std::string(81, 'x')));
  EXPECT_EQ(nullptr, fault("Pos 111-121 amount 2 decimals"));
  EXPECT_EQ(nullptr, fault("Bill record 100101.00/a_b "));
  // A NUL inside the length counts as a byte like any other.
  EXPECT_NE(nullptr, tl_name_fault("Ab\0c", 4));
}

}  // namespace

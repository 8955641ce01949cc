// JSON Lines pieces the end-to-end cases do not reach one by one: every
// byte's escaping, and amounts of every length and decimal count against a
// plain decimal reference (the writer takes a sixteen-byte path for most
// and a byte loop for the longest).
#include "tl_json_writer.h"

#include "tl_testutil.h"

namespace {

std::string escaped(const std::string& s) {
  std::string out(6 * s.size() + 1, '\0');
  char* e = tl_json_escape(s.data(), s.size(), &out[0]);
  out.resize(static_cast<size_t>(e - out.data()));
  return out;
}

// The exact decimal text of a zoned amount, made the slow way; "" when it is
// no amount.
std::string reference(const std::string& v, int dec) {
  const char last = v.back();
  std::string digits = v.substr(0, v.size() - 1);
  for (char c : digits) {
    if (c < '0' || c > '9') return "";
  }
  bool negative;
  if (last >= '0' && last <= '9') digits += last, negative = false;
  else if (last == '{') digits += '0', negative = false;
  else if (last == '}') digits += '0', negative = true;
  else if (last >= 'A' && last <= 'I') digits += static_cast<char>('1' + (last - 'A')), negative = false;
  else if (last >= 'J' && last <= 'R') digits += static_cast<char>('1' + (last - 'J')), negative = true;
  else return "";
  while (static_cast<int>(digits.size()) <= dec) digits.insert(digits.begin(), '0');
  std::string whole = digits.substr(0, digits.size() - static_cast<size_t>(dec));
  std::string frac = digits.substr(digits.size() - static_cast<size_t>(dec));
  whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size() - 1));
  const bool zero = digits.find_first_not_of('0') == std::string::npos;
  return (negative && !zero ? "-" : "") + whole + (dec > 0 ? "." + frac : "");
}

std::string amount(const std::string& v, int dec) {
  char out[300];
  char* e = tl_json_amount(v.data(), v.size(), dec, out);
  return e == nullptr ? "" : std::string(out, e);
}

TEST(JsonWriter, EveryByteEscapedOrKept) {
  for (int c = 0; c < 256; c++) {
    const std::string s(1, static_cast<char>(c));
    const std::string e = escaped(s);
    SCOPED_TRACE(c);
    if (c == '"' || c == '\\') {
      EXPECT_EQ(std::string("\\") + s, e);
    } else if (c < 0x20) {
      char want[8];
      snprintf(want, sizeof want, "\\u%04x", c);
      EXPECT_EQ(want, e);
    } else if (c < 0x80) {
      EXPECT_EQ(s, e);  // DEL too: JSON allows it
    } else {
      // The Latin-1 character of that code in UTF-8.
      EXPECT_EQ(std::string({static_cast<char>(0xc0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3f))}), e);
    }
    EXPECT_EQ(e == s, tl_json_plain(s.data(), 1));
  }
  // The scan looks at every byte of a long text, not only its start.
  std::string text(200, 'a');
  EXPECT_TRUE(tl_json_plain(text.data(), text.size()));
  for (size_t at : {0u, 15u, 16u, 100u, 199u}) {
    for (char bad : {'"', '\\', '\n', '\x1f', '\x80', '\xff'}) {
      std::string t = text;
      t[at] = bad;
      EXPECT_FALSE(tl_json_plain(t.data(), t.size())) << at << " " << int(bad);
    }
  }
}

TEST(JsonWriter, AmountsExactlyAsDecimals) {
  EXPECT_EQ("-637.6506", amount("000637650O", 4));
  EXPECT_EQ("5.55", amount("0000055E", 2));
  EXPECT_EQ("0", amount("0000}", 0));      // a negative zero has no sign
  EXPECT_EQ("0.00", amount("0000{", 2));
  EXPECT_EQ("0.1234567", amount("123456G", 7));  // all decimals
  EXPECT_EQ("0.0012", amount("1B", 4));          // more decimals than digits
  EXPECT_EQ("-1", amount("J", 0));
  EXPECT_EQ("123456789012345678", amount("12345678901234567H", 0));  // 18 digits
  EXPECT_EQ("", amount("12 4{", 2));
  EXPECT_EQ("", amount("1234 ", 2));
  EXPECT_EQ("", amount("12:4{", 0));  // the byte after '9'
  EXPECT_EQ("", amount("12/4{", 0));  // the byte before '0'
  EXPECT_EQ("", amount("\xb1" "234{", 0));

  // Every length to 20 and decimals to two beyond it, random digits with
  // runs of zeros, every sign character, and a bad byte at every place.
  const std::string signs = "0123456789{}ABCDEFGHIJKLMNOPQR";
  uint64_t seed = 1872;
  auto next = [&] {
    seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17;
    return seed;
  };
  for (size_t n = 1; n <= 20; n++) {
    for (int dec = 0; dec <= static_cast<int>(n) + 2; dec++) {
      for (int round = 0; round < 40; round++) {
        std::string v;
        for (size_t i = 0; i + 1 < n; i++) v += next() % 3 == 0 ? static_cast<char>('0' + next() % 10) : '0';
        v += signs[next() % signs.size()];
        SCOPED_TRACE(v + " " + std::to_string(dec));
        EXPECT_EQ(reference(v, dec), amount(v, dec));
        std::string bad = v;
        bad[next() % n] = " /:x\x80"[next() % 5];
        EXPECT_EQ(reference(bad, dec), amount(bad, dec));
      }
    }
  }
}

}  // namespace

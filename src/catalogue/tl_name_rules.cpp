#include "tl_name_rules.h"

namespace {

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

const char* tl_name_fault(const char* name, size_t n) {
  if (n == 0) return "is empty";
  if (n > kTlMaxNameLength) return "is longer than 80 characters";
  if (!is_letter(name[0])) return "does not start with a letter";
  for (size_t i = 0; i < n; i++) {
    const char c = name[i];
    if (!(is_letter(c) || is_digit(c) || c == '-' || c == '.' || c == '_' || c == ' ' || c == '/')) {
      return "holds a character other than letters, digits, blanks and - . _ /";
    }
  }
  return nullptr;
}

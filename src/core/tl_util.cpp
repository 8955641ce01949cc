#include "tl_util.h"

#include <cstring>

int iFormatBDTamount(const char* psData, int len, int dpoint, char* psAmount, int* piPositiveInd) {
  if (len <= 0) {
    psAmount[0] = '\0';
    return 0;
  }
  // A NUL inside the field ends the text where it stands.
  size_t vlen = 0;
  while (vlen < static_cast<size_t>(len) && psData[vlen] != '\0') vlen++;
  tl_format_amount(psData, vlen, len, dpoint, psAmount, piPositiveInd);
  return 0;
}

int iFixFieldNameForXML(const char* psFieldName, char* psTagName) {
  size_t i = 0;
  for (; psFieldName[i] != '\0'; i++) {
    char c = psFieldName[i];
    switch (c) {
      case ' ':
      case '&':
      case '/':
      case '<':
      case '>':
      case '\\':
        c = '_';
        break;
      default:
        break;
    }
    psTagName[i] = c;
  }
  psTagName[i] = '\0';
  return 0;
}

// The scanners look at every byte without stopping early and build byte
// masks, a form the compiler turns into wide vector compares (a chain of
// plain comparisons may become a scalar bit test instead); they stay out of
// line so that it does so wherever they are used.

namespace {
inline unsigned char is(unsigned char c, unsigned char v) { return static_cast<unsigned char>(-(c == v)); }
}  // namespace

bool tl_csv_plain(const char* p, size_t n) {
  unsigned char any = 0;
  for (size_t i = 0; i < n; i++) {
    const unsigned char c = static_cast<unsigned char>(p[i]);
    any |= is(c, ',') | is(c, '"') | is(c, '\r') | is(c, '\n');
  }
  return any == 0;
}

bool tl_html_plain(const char* p, size_t n) {
  unsigned char any = 0;
  for (size_t i = 0; i < n; i++) {
    const unsigned char c = static_cast<unsigned char>(p[i]);
    any |= is(c, '&') | is(c, '<') | is(c, '>');
  }
  return any == 0;
}

bool tl_xml_plain(const char* p, size_t n) {
  unsigned char any = 0;
  for (size_t i = 0; i < n; i++) {
    const unsigned char c = static_cast<unsigned char>(p[i]);
    // Moved up by 0x60, the bytes below 0x20 and from 0x7f up are exactly
    // those above -34 as signed bytes: one compare instead of two.
    const auto moved = static_cast<signed char>(static_cast<unsigned char>(c + 0x60));
    any |= is(c, '&') | is(c, '<') | is(c, '>') | static_cast<unsigned char>(-(moved > -34));
  }
  return any == 0;
}

namespace {

// Character classes for the escaping writers.
enum : unsigned char { kPlain = 0, kXmlEntity = 1, kXmlBad = 2 };

struct char_classes {
  unsigned char c[256];
  constexpr char_classes() : c() {
    for (int i = 0; i < 256; i++) {
      unsigned char k = kPlain;
      if (i == '&' || i == '<' || i == '>') k |= kXmlEntity;
      if ((i < 0x20 && i != '\t' && i != '\r' && i != '\n') || i >= 0x7f) k |= kXmlBad;
      c[i] = k;
    }
  }
};
constexpr char_classes kClass;

inline unsigned char cls(char ch) { return kClass.c[static_cast<unsigned char>(ch)]; }

// Returns the position of the first character of the given classes, or n.
inline size_t find_class(const char* p, size_t n, unsigned char mask) {
  size_t i = 0;
  while (i < n && !(cls(p[i]) & mask)) i++;
  return i;
}

void put_entity(tl_out& o, char ch) {
  if (ch == '&') o.lit("&amp;");
  else if (ch == '<') o.lit("&lt;");
  else o.lit("&gt;");
}

// Appends p with every double quote doubled.
void put_doubled(tl_out& o, const char* p, size_t n) {
  tl_csv_doubled(p, n, [&o](const char* s, size_t k) { o.put(s, k); });
}

}  // namespace

void tl_put_xml_escaped(tl_out& o, const char* p, size_t n) {
  const unsigned char mask = kXmlEntity | kXmlBad;
  size_t i = find_class(p, n, mask);
  o.put(p, i);
  for (; i < n; i++) {
    unsigned char k = cls(p[i]);
    if (k & kXmlEntity) put_entity(o, p[i]);
    else if (k & kXmlBad) o.put('?');
    else o.put(p[i]);
  }
}

void tl_put_html_escaped(tl_out& o, const char* p, size_t n) {
  size_t i = find_class(p, n, kXmlEntity);
  o.put(p, i);
  for (; i < n; i++) {
    if (cls(p[i]) & kXmlEntity) put_entity(o, p[i]);
    else o.put(p[i]);
  }
}

void tl_put_csv_quoted(tl_out& o, const char* p, size_t n, bool negative) {
  o.put('"');
  if (negative) o.put('-');
  put_doubled(o, p, n);
  o.put('"');
}

void tl_put_csv_special_quoted(tl_out& o, const char* p, size_t n, bool negative) {
  // The formula item ="value" (quotes doubled), itself written as a quoted
  // field: every quote of the item doubled again.
  o.lit("\"=\"\"");
  if (negative) o.put('-');
  for (size_t i = 0; i < n; i++) {
    if (p[i] == '"') o.lit("\"\"\"\"");
    else o.put(p[i]);
  }
  o.lit("\"\"\"");
}

// Field value formatting shared by every output format: the amount form of
// the formats (the decoding itself is tl_value's), XML names, escaping and
// quoting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "tl_bdt.h"
#include "tl_out.h"
#include "tl_value.h"

// Formats the zoned-decimal amount psData (len bytes, dpoint implied decimals)
// into psAmount (len + 2 bytes): decimal point inserted, trailing overpunch
// sign decoded. Sets *piPositiveInd to 1/0 when the last character carries a
// sign or is a digit, else leaves it. A NUL in psData ends the text. Returns 0.
int iFormatBDTamount(const char* psData, int len, int dpoint, char* psAmount, int* piPositiveInd);

// Writes the XML element name for psFieldName into psTagName (strlen + 1
// bytes): space, &, /, <, >, backslash become '_'. Returns 0.
int iFixFieldNameForXML(const char* psFieldName, char* psTagName);

// True when the value needs no CSV quoting (no comma, quote, CR or LF).
bool tl_csv_plain(const char* p, size_t n);

// True when the value needs no HTML escaping (no &, < or >).
bool tl_html_plain(const char* p, size_t n);

// True when the value goes into XML unchanged: no &, <, >, no control bytes
// and nothing from 0x7f up (tab, CR and LF take the careful way too).
bool tl_xml_plain(const char* p, size_t n);

// The escaping writers for values that are not plain.
void tl_put_xml_escaped(tl_out& o, const char* p, size_t n);
void tl_put_html_escaped(tl_out& o, const char* p, size_t n);
void tl_put_csv_quoted(tl_out& o, const char* p, size_t n, bool negative);
void tl_put_csv_special_quoted(tl_out& o, const char* p, size_t n, bool negative);

// Appends a value as XML character data: &, <, > become entities; control
// characters (other than tab, CR, LF), DEL and bytes of 0x80 and above
// become '?', so the document stays well-formed.
inline void tl_put_xml(tl_out& o, const char* p, size_t n) {
  if (tl_xml_plain(p, n)) o.put(p, n);
  else tl_put_xml_escaped(o, p, n);
}

// Appends a value as HTML text: &, <, > become entities.
inline void tl_put_html(tl_out& o, const char* p, size_t n) {
  if (tl_html_plain(p, n)) o.put(p, n);
  else tl_put_html_escaped(o, p, n);
}

// Appends one CSV field: the value (after a minus sign when negative) as it
// is, or as a quoted field ("" for ") when it holds a comma, quote, CR or LF.
inline void tl_put_csv(tl_out& o, const char* p, size_t n, bool negative) {
  if (tl_csv_plain(p, n)) o.put_all(tl_minus(negative), tl_span{p, n});
  else tl_put_csv_quoted(o, p, n, negative);
}

// Appends the special CSV form ="value" (minus sign inside the quotes); when
// the value needs quoting the whole item is written as a quoted field.
inline void tl_put_csv_special(tl_out& o, const char* p, size_t n, bool negative) {
  if (tl_csv_plain(p, n)) o.put_all(tl_lit("=\""), tl_minus(negative), tl_span{p, n}, tl_lit("\""));
  else tl_put_csv_special_quoted(o, p, n, negative);
}

// Hands the value to put(p, n) in runs, every quote doubled: the inside of
// a quoted CSV field, whatever it is written to.
template <class Put>
void tl_csv_doubled(const char* p, size_t n, Put put) {
  size_t start = 0;
  for (size_t i = 0; i < n; i++) {
    if (p[i] == '"') {
      put(p + start, i + 1 - start);
      put("\"", 1);
      start = i + 1;
    }
  }
  put(p + start, n - start);
}

// Writes the Latin-1 character c (0x80 and up) as its two UTF-8 bytes at
// out. Returns the position after them.
inline char* tl_put_latin1_high(unsigned char c, char* out) {
  out[0] = static_cast<char>(0xc0 | (c >> 6));
  out[1] = static_cast<char>(0x80 | (c & 0x3f));
  return out + 2;
}

// How the unknown-record notice writes the record text.
enum class tl_escape { none, xml, html };

// Appends "Unknown record type found: line = [", the record text right-aligned
// in at least six characters (padded before it is escaped), "]" and tail.
inline void tl_put_unknown(tl_out& o, const char* rec, size_t len, tl_escape esc, tl_span tail) {
  o.lit("Unknown record type found: line = [");
  for (size_t i = len; i < 6; i++) o.put(' ');
  if (esc == tl_escape::xml) tl_put_xml(o, rec, len);
  else if (esc == tl_escape::html) tl_put_html(o, rec, len);
  else o.put(rec, len);
  o.put_all(tl_lit("]"), tail);
}

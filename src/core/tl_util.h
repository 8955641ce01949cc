// Field value formatting shared by every output format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "tl_bdt.h"
#include "tl_out.h"

// Formats the zoned-decimal amount psData (len bytes, dpoint implied decimals)
// into psAmount (len + 2 bytes): decimal point inserted, trailing overpunch
// sign decoded. Sets *piPositiveInd to 1/0 when the last character carries a
// sign or is a digit, else leaves it. A NUL in psData ends the text. Returns 0.
int iFormatBDTamount(const char* psData, int len, int dpoint, char* psAmount, int* piPositiveInd);

// The same formatting for a value of vlen bytes (vlen <= len, no NUL) cut from a
// record, as if the rest of the field were NULs. Writes into out (len + 2
// bytes) and returns the length of the text written.
size_t tl_format_amount(const char* v, size_t vlen, int len, int dpoint, char* out, int* piPositiveInd);

// Writes the XML element name for psFieldName into psTagName (strlen + 1
// bytes): space, &, /, <, >, backslash become '_'. Returns 0.
int iFixFieldNameForXML(const char* psFieldName, char* psTagName);

// A field's value ready for writing: the text and whether it is negative.
struct tl_field_text {
  const char* p;
  size_t n;
  bool negative;
};

// The overpunch sign of an amount's last character: the digit it stands for
// and its sign (1 positive, 0 negative), or no digit (0) for any other byte.
struct tl_overpunch {
  char digit[256];
  signed char positive[256];
  constexpr tl_overpunch() : digit(), positive() {
    for (int c = 0; c < 256; c++) positive[c] = -1;
    set('{', '0', 1);
    set('}', '0', 0);
    for (int i = 0; i < 10; i++) set('0' + i, static_cast<char>('0' + i), 1);
    for (int i = 0; i < 9; i++) {
      set('A' + i, static_cast<char>('1' + i), 1);
      set('J' + i, static_cast<char>('1' + i), 0);
    }
  }
  constexpr void set(int c, char d, signed char pos) {
    digit[static_cast<unsigned char>(c)] = d;
    positive[static_cast<unsigned char>(c)] = pos;
  }
};
inline constexpr tl_overpunch kTlOverpunch{};

// Copies the n bytes of v to out with a decimal point before position dec
// (after them when dec is n; none when dec is beyond). Returns the length.
inline size_t tl_put_with_point(const char* v, size_t n, size_t dec, char* out) {
  if (dec > n) {
    tl_copy(out, v, n);
    return n;
  }
  tl_copy(out, v, dec);
  out[dec] = '.';
  tl_copy(out + dec + 1, v + dec, n - dec);
  return n + 1;
}

// The position the decimal point stands before in a field of flen bytes
// with dpoint implied decimals; beyond the field when it has none.
inline size_t tl_point_position(size_t flen, int dpoint) {
  return (dpoint > 0 && static_cast<size_t>(dpoint) <= flen) ? flen - static_cast<size_t>(dpoint) : flen + 1;
}

// Formats a whole amount field of flen (>= 1) bytes: the decimal point before
// the last dpoint characters, the last character's sign decoded (and the
// indicator set when it carries one). Writes out (flen + 2 bytes) and
// returns the length of the text.
inline size_t tl_format_whole_amount(const char* v, size_t flen, int dpoint, char* out, int* piPositiveInd) {
  size_t last = flen - 1;
  size_t o = tl_put_with_point(v, last, tl_point_position(flen, dpoint), out);
  unsigned char c = static_cast<unsigned char>(v[last]);
  if (kTlOverpunch.positive[c] >= 0) {
    out[o++] = kTlOverpunch.digit[c];
    *piPositiveInd = kTlOverpunch.positive[c];
  }
  out[o] = '\0';
  return o;
}

// Formats the amount field f whose value v was cut from a record into
// scratch (at least 258 bytes).
tl_field_text tl_amount_value(bdt_value v, const bdt_fields_tag& f, char* scratch);

// Cuts field f from the record and, for an amount, formats it into scratch
// (at least 258 bytes); text fields point into the record itself.
inline tl_field_text tl_field_value(const char* rec, size_t reclen, const bdt_fields_tag& f, char* scratch) {
  bdt_value v = bdt_cut(rec, reclen, f);
  if (f.amount_ind < 0) return {v.p, v.n, false};
  if (v.n > 0 && v.n == static_cast<size_t>(f.field_length)) {
    int pos = 1;
    size_t n = tl_format_whole_amount(v.p, v.n, f.amount_ind, scratch, &pos);
    return {scratch, n, pos == 0};
  }
  return tl_amount_value(v, f, scratch);
}

// True when the value needs no CSV quoting (no comma, quote, CR or LF).
bool tl_csv_plain(const char* p, size_t n);

// True when the value needs no HTML escaping (no &, < or >).
bool tl_html_plain(const char* p, size_t n);

// True when the value goes into XML unchanged: no &, <, >, no control bytes
// and nothing from 0x7f up (tab, CR and LF take the careful way too).
bool tl_xml_plain(const char* p, size_t n);

// The bytes of a record text of length len that field values are cut from:
// no field reaches past the 225 significant characters, so a record's line
// end is never part of a value unless the record is short.
inline size_t tl_value_region(size_t len) { return len < 225 ? len : 225; }

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

// Field value formatting shared by every output format.
#pragma once

#include <cstddef>

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

// Formats the amount field f whose value v was cut from a record into
// scratch (at least 258 bytes).
tl_field_text tl_amount_value(bdt_value v, const bdt_fields_tag& f, char* scratch);

// Cuts field f from the record and, for an amount, formats it into scratch
// (at least 258 bytes); text fields point into the record itself.
inline tl_field_text tl_field_value(const char* rec, size_t reclen, const bdt_fields_tag& f, char* scratch) {
  bdt_value v = bdt_cut(rec, reclen, f);
  if (f.amount_ind < 0) return {v.p, v.n, false};
  return tl_amount_value(v, f, scratch);
}

// Appends a value as XML character data: &, <, > become entities; control
// characters (other than tab, CR, LF), DEL and bytes of 0x80 and above
// become '?', so the document stays well-formed.
void tl_put_xml(tl_out& o, const char* p, size_t n);

// Appends a value as HTML text: &, <, > become entities.
void tl_put_html(tl_out& o, const char* p, size_t n);

// Appends one CSV field: the value (after a minus sign when negative) as it
// is, or as a quoted field ("" for ") when it holds a comma, quote, CR or LF.
void tl_put_csv(tl_out& o, const char* p, size_t n, bool negative);

// Appends the special CSV form ="value" (minus sign inside the quotes); when
// the value needs quoting the whole item is written as a quoted field.
void tl_put_csv_special(tl_out& o, const char* p, size_t n, bool negative);

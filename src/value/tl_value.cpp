// The value decoder: the display form and the exact decimals.
#include "tl_value.h"

size_t tl_format_amount(const char* v, size_t vlen, int len, int dpoint, char* out, int* piPositiveInd) {
  if (len <= 0) {
    out[0] = '\0';
    return 0;
  }
  size_t flen = static_cast<size_t>(len);
  if (vlen > flen) vlen = flen;
  if (vlen < flen) {
    // Cut short by the record's end: the characters copy unchanged, and the
    // missing last character decodes no sign.
    size_t o = tl_put_with_point(v, vlen, tl_point_position(flen, dpoint), out);
    out[o] = '\0';
    return o;
  }
  int pos = *piPositiveInd;
  size_t o = tl_format_whole_amount(v, flen, dpoint, out, &pos);
  *piPositiveInd = pos;
  return o;
}

tl_field_text tl_amount_value(bdt_value v, const bdt_fields_tag& f, char* scratch) {
  int pos = 1;
  int flen = f.field_length > 255 ? 255 : f.field_length;
  size_t n = tl_format_amount(v.p, v.n, flen, f.amount_ind, scratch, &pos);
  return {scratch, n, pos == 0};
}

size_t tl_put_decimal(__int128 units, int decimals, char* out) {
  char digits[64];
  size_t nd = 0;
  using u128 = unsigned __int128;
  u128 u = units < 0 ? 0 - static_cast<u128>(units) : static_cast<u128>(units);
  do {
    digits[nd++] = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u != 0);
  const size_t dec = decimals > 0 ? (decimals < 40 ? static_cast<size_t>(decimals) : 40) : 0;
  while (nd <= dec) digits[nd++] = '0';  // at least one digit before the point
  size_t o = 0;
  if (units < 0) out[o++] = '-';
  for (size_t i = nd; i-- > 0;) {
    out[o++] = digits[i];
    if (i == dec && dec > 0) out[o++] = '.';
  }
  return o;
}


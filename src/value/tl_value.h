// The one value decoder of every output: a field's text as cut from a
// record (bdt_cut), its strict amount (digits whose last one may carry the
// overpunch sign, as units of the smallest decimal), and the display form
// the formats write (the decimal point placed, the sign decoded, whatever
// the characters). Sinks take values from here and nowhere else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "tl_bdt.h"
#include "tl_out.h"

// The bytes of a record text of length len that field values are cut from:
// no field reaches past the 225 significant characters, so a record's line
// end is never part of a value unless the record is short.
inline size_t tl_value_region(size_t len) { return len < 225 ? len : 225; }

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

// The same formatting for a value of vlen bytes (vlen <= len, no NUL) cut from a
// record, as if the rest of the field were NULs. Writes into out (len + 2
// bytes) and returns the length of the text written.
size_t tl_format_amount(const char* v, size_t vlen, int len, int dpoint, char* out, int* piPositiveInd);

// Eight characters (first byte lowest) that must all be digits, as the
// number they write. Returns false when one is not a digit.
inline bool tl_eight_digits(uint64_t w, uint64_t* value) {
  // Every byte '0'..'9': its high nibble 3, and adding 6 leaves it so.
  if (((w & 0xF0F0F0F0F0F0F0F0ULL) | (((w + 0x0606060606060606ULL) & 0xF0F0F0F0F0F0F0F0ULL) >> 4)) !=
      0x3333333333333333ULL)
    return false;
  // In three multiplies instead of eight.
  w -= 0x3030303030303030ULL;
  w = (w * 10) + (w >> 8);
  *value = (((w & 0x000000FF000000FFULL) * 0x000F424000000064ULL) +
            (((w >> 16) & 0x000000FF000000FFULL) * 0x0000271000000001ULL)) >> 32;
  return true;
}

// The last character of an amount: its digit and sign applied to the
// digits before it. Returns false when it carries no overpunch sign.
inline bool tl_amount_sign(uint64_t v, unsigned char last, int64_t* units) {
  const signed char positive = kTlOverpunch.positive[last];
  if (positive < 0) return false;
  v = v * 10 + static_cast<unsigned>(kTlOverpunch.digit[last] - '0');
  // The sign without a branch: signs come in no order a predictor learns.
  const uint64_t minus = 0 - static_cast<uint64_t>(positive == 0);
  *units = static_cast<int64_t>((v ^ minus) - minus);
  return true;
}

// Parses a whole zoned-decimal amount field: digits, the last one possibly
// an overpunch sign. Returns false (units untouched) for anything else: a
// blank, another character, an empty or too long field. Inline, eight
// digits at a time: the audit modes read every amount of every record.
inline bool tl_parse_amount(const char* p, size_t n, int64_t* units) {
  // 18 digits always fit in a signed 64-bit integer.
  if (n == 0 || n > 18) return false;
  uint64_t v = 0;
  size_t i = 0;
  for (; i + 8 < n; i += 8) {
    uint64_t w, d;
    std::memcpy(&w, p + i, 8);
    if (!tl_eight_digits(w, &d)) return false;
    v = v * 100000000ULL + d;
  }
  for (; i + 1 < n; i++) {
    const unsigned d = static_cast<unsigned char>(p[i]) - static_cast<unsigned>('0');
    if (d > 9) return false;
    v = v * 10 + d;
  }
  return tl_amount_sign(v, static_cast<unsigned char>(p[n - 1]), units);
}

// The same reading for a field with at least eight readable bytes before
// it, as every field of a layout has (the common block comes first): the
// digits short of a group of eight are read with the bytes before them,
// those made zeros, so no digit is read one at a time.
inline bool tl_parse_amount_in_record(const char* p, size_t n, int64_t* units) {
  if (n == 0 || n > 18) return false;
  const size_t k = n - 1;  // the digits before the sign
  uint64_t v = 0, d;
  size_t i = 0;
  for (; i + 8 <= k; i += 8) {
    uint64_t w;
    std::memcpy(&w, p + i, 8);
    if (!tl_eight_digits(w, &d)) return false;
    v = v * 100000000ULL + d;
  }
  const size_t r = k - i;  // 0 to 7 digits left, the last r of the eight before p + k
  if (r > 0) {
    static constexpr uint64_t kPow10[8] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};
    uint64_t w;
    std::memcpy(&w, p + k - 8, 8);
    const uint64_t keep = ~0ULL << (8 * (8 - r));
    w = (w & keep) | (0x3030303030303030ULL & ~keep);
    if (!tl_eight_digits(w, &d)) return false;
    v = v * kPow10[r] + d;
  }
  return tl_amount_sign(v, static_cast<unsigned char>(p[k]), units);
}

// Writes units / 10^decimals as a decimal number ("-12.34", "0.05", "7")
// into out (at least 64 bytes; decimals beyond 40 count as 40). Returns the
// length written. Takes 128 bits so that exact sums of amounts print too.
size_t tl_put_decimal(__int128 units, int decimals, char* out);


#include "tl_audit.h"

#include <cstring>

#include "tl_core.h"
#include "tl_globals.h"
#include "tl_json_writer.h"
#include "tl_table_model.h"
#include "tl_util.h"

tl_amount_plan::tl_amount_plan() {
  first_.reserve(static_cast<size_t>(bdtr_count) + 1);
  for (int r = 0; r < bdtr_count; r++) {
    first_.push_back(fields_.size());
    for (const bdt_fields_tag* f = bdtr_list[r].fields; f != nullptr && !bdt_is_end(*f); f++) {
      if (f->amount_ind < 0 || f->display_csv != 1) continue;
      // Every catalogue field lies within the 225 characters of a record.
      if (f->field_offset < 0 || f->field_length <= 0 || f->field_offset + f->field_length > 225) continue;
      tl_amount_field a;
      a.off = static_cast<uint16_t>(f->field_offset);
      a.len = static_cast<uint16_t>(f->field_length);
      a.decimals = static_cast<int16_t>(f->amount_ind > 18 ? 18 : f->amount_ind);
      a.start = static_cast<int16_t>(f->field_offset + 1);
      a.name = f->field_name != nullptr ? f->field_name : "";
      const size_t w = std::strlen(a.name);
      if (w > name_width_) name_width_ = w;
      fields_.push_back(a);
    }
  }
  first_.push_back(fields_.size());
}

bool tl_is_bill_start(const char* rec, size_t len) { return len >= 8 && std::memcmp(rec, "10010100", 8) == 0; }

bool tl_audit_out::flush() {
  if (memory_) return !tl_output_failed;
  if (!buf_.empty() && !tl_output_failed) tl_write(outfile, buf_.data(), buf_.size());
  buf_.clear();
  return !tl_output_failed;
}

void tl_audit_out::put(const char* s) { buf_ += s; }

void tl_audit_out::num(unsigned long long v) {
  char d[24];
  size_t n = 0;
  do {
    d[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (n > 0) buf_ += d[--n];
}

void tl_audit_out::num_signed(long long v) {
  if (v < 0) {
    buf_ += '-';
    num(0 - static_cast<unsigned long long>(v));
  } else {
    num(static_cast<unsigned long long>(v));
  }
}

void tl_audit_out::decimal(__int128 units, int decimals) {
  char d[64];
  buf_.append(d, tl_put_decimal(units, decimals, d));
}

void tl_audit_out::json(const char* p, size_t n) {
  const size_t at = buf_.size();
  buf_.resize(at + 6 * n);
  char* end = tl_json_escape(p, n, &buf_[at]);
  buf_.resize(static_cast<size_t>(end - buf_.data()));
}

void tl_audit_out::printable(const char* p, size_t n) {
  static const char kHex[] = "0123456789abcdef";
  for (size_t i = 0; i < n; i++) {
    const unsigned char c = static_cast<unsigned char>(p[i]);
    if (c < 0x20 || c >= 0x7f || c == '\\') {
      buf_ += '\\';
      if (c == '\\') {
        buf_ += '\\';
        continue;
      }
      buf_ += 'x';
      buf_ += kHex[c >> 4];
      buf_ += kHex[c & 15];
    } else {
      buf_ += static_cast<char>(c);
    }
  }
}

void tl_audit_out::csv(const char* p, size_t n) { tl_append_csv_field(buf_, p, n); }

void tl_audit_out::html(const char* p, size_t n) {
  char local[1024];
  // Names and keys are short; a longer text goes through in pieces, each
  // escaped on its own (escaping works byte by byte).
  while (n > 0) {
    const size_t take = n < 128 ? n : 128;
    tl_out o(local, sizeof local);
    tl_put_html(o, p, take);
    buf_.append(o.buf, o.len);
    p += take;
    n -= take;
  }
}

void tl_audit_out::pad_to(size_t at, size_t w) {
  const size_t have = buf_.size() - at;
  if (have < w) buf_.append(w - have, ' ');
}

void tl_audit_out::right(const char* p, size_t n, size_t w) {
  if (n < w) buf_.append(w - n, ' ');
  buf_.append(p, n);
}

std::string tl_decimal_text(__int128 units, int decimals) {
  char d[64];
  return std::string(d, tl_put_decimal(units, decimals, d));
}

__int128 tl_pow10(int n) {
  __int128 v = 1;
  for (int i = 0; i < n && i < 38; i++) v *= 10;
  return v;
}

size_t tl_key_as_read(const char* rec, size_t content, char* out) {
  size_t n = content < 6 ? content : 6;
  std::memcpy(out, rec, n);
  if (content > 6) {
    out[n++] = '.';
    const size_t s = content - 6 < 2 ? content - 6 : 2;
    std::memcpy(out + n, rec + 6, s);
    n += s;
  }
  return n;
}

#include "tl_json_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "tl_core.h"
#include "tl_globals.h"
#include "tl_names.h"
#include "tl_out.h"
#include "tl_util.h"

namespace {

// Output gathered across records and written in whole chunks of the size of
// the output stream's own buffer, which the C library then writes without
// copying them into it; the rest moves to the front for the next chunk.
constexpr size_t kChunk = 1 << 18;
// A record appends at most a name prefix (cut to kMaxPrefix) and its
// layout's room, far below the spare part.
constexpr size_t kMaxPrefix = 1 << 16;
constexpr size_t kBufferBytes = kChunk + 2 * kMaxPrefix;
// Room for the line number, the unknown-record texts and an escaped record.
constexpr size_t kUnknownRoom = 64 + 6 * 256;

const char kHex[] = "0123456789abcdef";

// True for a byte that needs more than itself in a JSON string.
struct json_classes {
  unsigned char special[256];
  constexpr json_classes() : special() {
    for (int c = 0; c < 256; c++) special[c] = (c < 0x20 || c == '"' || c == '\\' || c >= 0x80) ? 1 : 0;
  }
};
constexpr json_classes kJson;

// Writes v in decimal; d must have 15 bytes to spare beyond the digits.
char* put_number(unsigned long long v, char* d) {
  char digits[24 + 16];  // the digits end at 24; sixteen-byte copies from any of them stay inside
  size_t n = 24;
  do {
    digits[--n] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  tl_copy16(d, digits + n);
  if (n < 8) tl_copy16(d + 16, digits + n + 16);  // more than 16 digits
  return d + (24 - n);
}

// True when the n bytes of s are well-formed UTF-8.
bool valid_utf8(const unsigned char* s, size_t n) {
  for (size_t i = 0; i < n;) {
    const unsigned char c = s[i];
    if (c < 0x80) {
      i++;
      continue;
    }
    size_t more;
    unsigned char lo = 0x80, hi = 0xbf;  // the range of the second byte
    if (c >= 0xc2 && c <= 0xdf) more = 1;
    else if (c >= 0xe0 && c <= 0xef) more = 2, lo = c == 0xe0 ? 0xa0 : 0x80, hi = c == 0xed ? 0x9f : 0xbf;
    else if (c >= 0xf0 && c <= 0xf4) more = 3, lo = c == 0xf0 ? 0x90 : 0x80, hi = c == 0xf4 ? 0x8f : 0xbf;
    else return false;
    if (n - i <= more || s[i + 1] < lo || s[i + 1] > hi) return false;
    for (size_t k = 2; k <= more; k++) {
      if ((s[i + k] & 0xc0) != 0x80) return false;
    }
    i += more + 1;
  }
  return true;
}

// Appends a JSON string of the bytes of s, keeping a valid UTF-8 text as it
// is (a file name, usually), else giving each byte as a Latin-1 character.
void append_name_string(std::string& out, const char* s, size_t n) {
  std::string esc(6 * n + 1, '\0');
  char* e = &esc[0];
  if (valid_utf8(reinterpret_cast<const unsigned char*>(s), n)) {
    for (size_t i = 0; i < n; i++) {
      if (static_cast<unsigned char>(s[i]) >= 0x80) *e++ = s[i];
      else e = tl_json_escape(s + i, 1, e);
    }
  } else {
    e = tl_json_escape(s, n, e);
  }
  out += '"';
  out.append(esc.data(), static_cast<size_t>(e - esc.data()));
  out += '"';
}

void append_name_string(std::string& out, const char* s) { append_name_string(out, s != nullptr ? s : "", s != nullptr ? std::strlen(s) : 0); }

}  // namespace

bool tl_json_plain(const char* p, size_t n) {
  // Byte masks over every byte, which the compiler makes wide compares of:
  // below 0x20 or from 0x80 up is one signed compare after moving by 0x60.
  unsigned char any = 0;
  for (size_t i = 0; i < n; i++) {
    const unsigned char c = static_cast<unsigned char>(p[i]);
    const auto moved = static_cast<signed char>(static_cast<unsigned char>(c + 0x60));
    any |= static_cast<unsigned char>(-(c == '"')) | static_cast<unsigned char>(-(c == '\\')) |
           static_cast<unsigned char>(-(moved > -33));
  }
  return any == 0;
}

char* tl_json_escape(const char* p, size_t n, char* out) {
  for (size_t i = 0; i < n; i++) {
    const unsigned char c = static_cast<unsigned char>(p[i]);
    if (!kJson.special[c]) {
      *out++ = static_cast<char>(c);
    } else if (c >= 0x80) {
      out = tl_put_latin1_high(c, out);
    } else if (c == '"' || c == '\\') {
      *out++ = '\\';
      *out++ = static_cast<char>(c);
    } else {
      std::memcpy(out, "\\u00", 4);
      out[4] = kHex[c >> 4];
      out[5] = kHex[c & 15];
      out += 6;
    }
  }
  return out;
}

namespace {

inline uint64_t load8(const char* p) {
  uint64_t x;
  std::memcpy(&x, p, 8);
  return x;
}

constexpr uint64_t kHigh = 0xF0F0F0F0F0F0F0F0ULL;
constexpr uint64_t kZeros = 0x3030303030303030ULL;

// True when all eight bytes are digits: the high half of each is 3 and adding
// 6 to the low half does not carry into it.
inline bool digits8(uint64_t x) {
  return ((x & kHigh) == kZeros) & (((x + 0x0606060606060606ULL) & kHigh) == kZeros);
}

// True when the m bytes at p are all digits; eight at a time, the last
// eight overlapping those before.
inline bool all_digits(const char* p, size_t m) {
  if (m >= 8) {
    bool ok = true;
    for (size_t i = 0; i + 8 <= m; i += 8) ok &= digits8(load8(p + i));
    return ok & digits8(load8(p + m - 8));
  }
  if (m >= 4) {
    uint32_t a, b;
    std::memcpy(&a, p, 4);
    std::memcpy(&b, p + m - 4, 4);
    return digits8(a | static_cast<uint64_t>(b) << 32);
  }
  bool ok = true;
  for (size_t i = 0; i < m; i++) ok &= static_cast<unsigned>(static_cast<unsigned char>(p[i]) - '0') <= 9u;
  return ok;
}

// Returns how many of the m digits at p are '0' before the first other one.
inline size_t leading_zeros(const char* p, size_t m) {
  size_t i = 0;
  for (; i + 8 <= m; i += 8) {
    const uint64_t y = load8(p + i) ^ kZeros;
    if (y != 0) return i + (static_cast<size_t>(__builtin_ctzll(y)) >> 3);
  }
  while (i < m && p[i] == '0') i++;
  return i;
}

}  // namespace

tl_json_writer::tl_json_writer(FILE* out) : tl_json_writer(tl_target::stream(out)) {}

tl_json_writer::tl_json_writer(tl_target out)
    : out_(out), buf_(static_cast<char*>(malloc(kBufferBytes))), cap_(buf_ != nullptr ? kBufferBytes : 0) {}

tl_json_writer::~tl_json_writer() { free(buf_); }

void tl_json_writer::flush() {
  tl_write(out_.file(), buf_, used_);
  used_ = 0;
}

// A worker keeps its block's output whole, in a buffer that grows (rarely:
// its size stays for the blocks after), so that it is copied only once,
// when it is written out. Returns false when no memory is to be had.
bool tl_json_writer::grow(size_t room) {
  size_t cap = cap_;
  while (cap - used_ < room) cap *= 2;
  char* bigger = static_cast<char*>(realloc(buf_, cap));
  if (bigger == nullptr) return false;
  buf_ = bigger;
  cap_ = cap;
  return true;
}

std::unique_ptr<tl_sink> tl_json_writer::fork() {
  // The texts are made once, here, and copied: making them takes longer
  // than a block.
  if (built_ != tl_name_texts::names_generation()) build();
  std::unique_ptr<tl_json_writer> w(new tl_json_writer(tl_target::into_memory()));
  w->pool_ = pool_;
  w->steps_ = steps_;
  w->layouts_ = layouts_;
  w->shared_ = shared_;
  w->built_ = built_;
  return std::unique_ptr<tl_sink>(w.release());
}

bool tl_json_writer::join(tl_sink& worker) {
  tl_json_writer& w = static_cast<tl_json_writer&>(worker);
  flush();
  tl_write(out_.file(), w.buf_, w.used_);
  w.used_ = 0;
  if (w.no_memory_) fprintf(stderr, "ERROR: out of memory for the JSON output buffer\n");
  return !tl_output_failed && !w.no_memory_;
}

void tl_json_writer::build() {
  pool_.clear();
  steps_.clear();
  layouts_.clear();
  // The constant text waiting to go before the next value, or after the
  // last one; the quick texts have the quotes of text values joined to them.
  std::string carry;
  std::vector<std::pair<std::string, size_t>> quick;  // text, its step (or the layout's tail)
  bool after_text = false;
  // The common block is written as cut, as every other format writes it
  // (none decodes its amounts).
  auto add = [&](layout& l, const bdt_fields_tag& f, bool as_cut) {
    if (f.display_csv != 1) return;
    step s{};
    std::string text = carry;
    carry = ",";
    append_name_string(text, f.field_name);
    text += ':';
    s.text = static_cast<uint32_t>(pool_.size());
    s.text_len = static_cast<uint32_t>(text.size());
    pool_ += text;
    s.off = static_cast<uint16_t>(std::clamp(f.field_offset, 0, 255));
    s.len = static_cast<uint16_t>(std::clamp(f.field_length, 0, 255));
    s.dec = static_cast<int16_t>(f.amount_ind < 0 || as_cut ? -1 : std::min(f.amount_ind, 255));
    quick.emplace_back((after_text ? "\"" : "") + text + (s.dec < 0 ? "\"" : ""), steps_.size());
    after_text = s.dec < 0;
    steps_.push_back(s);
    l.reach = std::max(l.reach, static_cast<size_t>(s.off) + s.len);
    // A value escaped may take six bytes for one, and two quotes; an amount
    // a sign, a point and leading zeros before the decimals.
    l.room += s.text_len + 6u * s.len + static_cast<size_t>(std::max<int>(s.dec, 0)) + 6;
  };
  for (int r = 0; r < bdtr_count; r++) {
    const bdt_record_tag& rt = bdtr_list[r];
    layout l{};
    l.first = static_cast<uint32_t>(steps_.size());
    after_text = false;
    carry = ",\"key\":";
    const bdt_key& k = bdt_key_of(r);
    append_name_string(carry, k.text, k.n);
    carry += ",\"type\":";
    append_name_string(carry, rt.record_name);
    carry += ",\"common\":{";
    for (const bdt_fields_tag* f = bdtf_common; !bdt_is_end(*f); f++) add(l, *f, true);
    l.common = static_cast<uint32_t>(steps_.size() - l.first);
    carry = (carry == "," ? std::string() : carry) + "},\"fields\":{";
    for (const bdt_fields_tag* f = rt.fields; f != nullptr && !bdt_is_end(*f); f++) add(l, *f, false);
    l.count = static_cast<uint32_t>(steps_.size() - l.first);
    std::string tail = (carry == "," ? std::string() : carry) + "}}\n";
    l.tail = static_cast<uint32_t>(pool_.size());
    l.tail_len = static_cast<uint32_t>(tail.size());
    pool_ += tail;
    quick.emplace_back((after_text ? "\"" : "") + tail, ~static_cast<size_t>(r));
    l.room += l.tail_len + 64;  // sixteens copied beyond the end
    layouts_.push_back(l);
  }
  // Each quick text once: layouts share most of them (the common block's,
  // and fields at the same place), and a smaller pool stays in the cache.
  std::unordered_map<std::string, uint32_t> placed;
  for (const auto& q : quick) {
    const uint32_t n = static_cast<uint32_t>(q.first.size());
    auto ins = placed.emplace(q.first, static_cast<uint32_t>(pool_.size()));
    const uint32_t at = ins.first->second;
    if (ins.second) pool_ += q.first;
    if (static_cast<ptrdiff_t>(q.second) >= 0) {
      steps_[q.second].quick = at, steps_[q.second].quick_len = n;
    } else {
      layout& l = layouts_[~q.second];
      l.quick_tail = at, l.quick_tail_len = n;
    }
  }
  // The common block after its first field is the same in every layout:
  // shared, its steps stay in the cache whatever layout comes next.
  shared_.clear();
  const uint32_t n_common = layouts_.empty() ? 0 : layouts_[0].common;
  const step* const model = steps_.data() + (layouts_.empty() ? 0 : layouts_[0].first);
  bool same = n_common > 1;
  for (const layout& l : layouts_) {
    same = same && l.common == n_common;
    for (uint32_t i = 1; same && i < n_common; i++) {
      const step& a = steps_[l.first + i];
      same = a.quick == model[i].quick && a.quick_len == model[i].quick_len && a.off == model[i].off &&
             a.len == model[i].len && a.dec == model[i].dec;
    }
  }
  if (same) shared_.assign(model + 1, model + n_common);
  // Texts are copied sixteen bytes at a time, at least 32: the last may read
  // beyond.
  pool_.append(32, '\0');
  built_ = tl_name_texts::names_generation();
}

bool tl_json_writer::begin(const tl_document& doc) {
  if (buf_ == nullptr) {
    fprintf(stderr, "ERROR: out of memory for the JSON output buffer\n");
    return false;
  }
  prefix_ = "{\"file\":";
  append_name_string(prefix_, doc.name());
  prefix_ += ",\"line\":";
  // A name too long for the buffer beside a record is cut (never so with
  // real paths).
  if (prefix_.size() > kMaxPrefix) prefix_.resize(kMaxPrefix);
  prefix_len_ = prefix_.size();
  prefix_.append(32, '\0');  // copied sixteen bytes at a time
  return out_.memory() || !tl_output_failed;
}

namespace {

// Copies n bytes in sixteens: both ends must have 15 bytes to spare beyond
// n (the record copy and the output buffer do). One copy for the usual
// value of up to 16 bytes, with a loop branch that is mostly not taken.
inline void copy_over(char* d, const char* s, size_t n) {
  // Not one loop from 0: the compiler would make that a call of memcpy,
  // several times slower for these sizes.
  tl_copy16(d, s);
  for (size_t i = 16; i < n; i += 16) tl_copy16(d + i, s + i);
}

// The same for the constant texts, mostly 17 to 32 bytes: two copies, then a
// loop for the rest; both ends must have 31 bytes to spare (the texts' pool
// is padded so).
inline void copy_text(char* d, const char* s, size_t n) {
  tl_copy16(d, s);
  tl_copy16(d + 16, s + 16);
  for (size_t i = 32; i < n; i += 16) tl_copy16(d + i, s + i);
}

// tl_json_amount for a value with 16 readable bytes beyond it, with no loop
// over its bytes when it has at most 17 (all but the longest amounts): the
// digits checked and the leading zeros found with one compare each.
inline char* put_amount(const char* v, size_t n, int dec, char* out) {
  const size_t m = n - 1;  // the digits before the one carrying the sign
  const unsigned char last = static_cast<unsigned char>(v[m]);
  const int positive = kTlOverpunch.positive[last];
  size_t first;  // the first digit that is not 0 (n when all are)
#if defined(__SSE2__)
  if (m <= 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v));
    const __m128i nine = _mm_set1_epi8(9);
    const __m128i t = _mm_sub_epi8(x, _mm_set1_epi8('0'));
    const unsigned in = (1u << m) - 1u;
    const unsigned digits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(t, nine), nine)));
    if (positive < 0 || (digits & in) != in) return nullptr;
    const unsigned zeros = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, _mm_set1_epi8('0'))));
    first = static_cast<size_t>(__builtin_ctz((~zeros & in) | (1u << m)));
  } else
#endif
  {
    if (positive < 0 || !all_digits(v, m)) return nullptr;
    first = leading_zeros(v, m);
  }
  const char last_digit = kTlOverpunch.digit[last];
  if (first == m && last_digit == '0') first = n;
  const size_t decimals = dec > 0 ? static_cast<size_t>(dec) : 0;
  const size_t whole = decimals >= n ? 0 : n - decimals;  // digits before the point
  char* d = out;
  *d = '-';
  d += positive == 0 && first < n;
  if (first >= whole) {
    *d++ = '0';
  } else {
    copy_over(d, v + first, whole - first);
    d += whole - first;
  }
  if (decimals > 0) {
    *d++ = '.';
    for (size_t k = n; k < decimals; k++) *d++ = '0';
    copy_over(d, v + whole, n - whole);
    d += n - whole;
  }
  // The last digit was copied as its overpunch character.
  d[-1] = last_digit;
  return d;
}

// Writes a text step of a record that needs no escaping: its quick text
// (the quotes joined to it) and its value, whole. Returns the new end. A
// template, since the step type is the writer's own.
template <class Step>
inline char* put_quick_text(const char* pool, const char* r, const Step& s, char* d) {
  copy_text(d, pool + s.quick, s.quick_len);
  d += s.quick_len;
  copy_over(d, r + s.off, s.len);
  return d + s.len;
}

}  // namespace

char* tl_json_amount(const char* v, size_t n, int dec, char* out) {
  if (n == 0 || n > 255) return nullptr;
  char padded[256 + 16] = {};
  std::memcpy(padded, v, n);
  char text[256 + 64];
  char* e = put_amount(padded, n, dec, text);
  if (e == nullptr) return nullptr;
  std::memcpy(out, text, static_cast<size_t>(e - text));
  return out + (e - text);
}

char* tl_json_writer::put_record(int rindex, const char* rec, size_t len, char* d) {
  const layout& l = layouts_[static_cast<size_t>(rindex)];
  const char* pool = pool_.data();
  const bool clean = tl_json_plain(rec, tl_value_region(len));
  // The record copied with room after it, so that values and amounts are
  // read sixteen bytes at a time without looking at their ends; copied in
  // sixteens, the last one ending where the record does (the library's copy
  // is far slower for this size).
  alignas(16) char r[256 + 64];
  if (len >= 16) {
    for (size_t i = 0; i + 16 <= len; i += 16) tl_copy16(r + i, rec + i);
    tl_copy16(r + len - 16, rec + len - 16);
  } else {
    tl_copy(r, rec, len);
  }
  std::memset(r + len, 0, 48);
  const step* const first = steps_.data() + l.first;
  const step* const end = first + l.count;
  if (clean && len >= l.reach) {
    // The usual record: every value whole and plain, two copies per field.
    char* const start = d;
    const step* s = first;
    if (!shared_.empty()) {
      // The first holds the layout's key and type; the rest are shared.
      d = put_quick_text(pool, r, *s, d);
      for (const step& c : shared_) d = put_quick_text(pool, r, c, d);
      s = first + l.common;
    }
    for (; s != end; ++s) {
      if (s->dec < 0) {
        d = put_quick_text(pool, r, *s, d);
        continue;
      }
      copy_text(d, pool + s->quick, s->quick_len);
      d += s->quick_len;
      char* e = put_amount(r + s->off, s->len, s->dec, d);
      if (e == nullptr) break;  // no number: written as text the careful way below
      d = e;
    }
    if (s == end) {
      copy_text(d, pool + l.quick_tail, l.quick_tail_len);
      return d + l.quick_tail_len;
    }
    d = start;
  }
  for (const step* s = first; s != end; ++s) {
    copy_text(d, pool + s->text, s->text_len);
    d += s->text_len;
    // The value as bdt_cut gives it: what of the field the record holds.
    const char* v = r + s->off;
    const size_t n = s->off >= len ? 0 : std::min<size_t>(s->len, len - s->off);
    if (s->dec >= 0 && n == s->len) {
      char* e = put_amount(v, n, s->dec, d);
      if (e != nullptr) {
        d = e;
        continue;
      }
    }
    // Text, and an amount that is not a number: a string of the bytes as cut.
    *d++ = '"';
    if (clean) {
      copy_over(d, v, n);
      d += n;
    } else {
      d = tl_json_escape(v, n, d);
    }
    *d++ = '"';
  }
  copy_text(d, pool + l.tail, l.tail_len);
  return d + l.tail_len;
}

bool tl_json_writer::record(const char* rec, size_t len, unsigned long long line) {
  // A worker writes into memory: only the one writing out sees failures.
  if (!out_.memory() && tl_output_failed) return false;
  if (built_ != tl_name_texts::names_generation()) build();
  const int rindex = iFindBDTrecord(rec);
  const bool known = rindex >= 0;
  const size_t room = prefix_.size() + (known ? layouts_[static_cast<size_t>(rindex)].room : 0) + kUnknownRoom;
  if (cap_ - used_ < room) {
    if (!out_.memory()) {
      flush();  // never with the catalogue's layouts
    } else if (!grow(room)) {
      no_memory_ = true;
      return false;
    }
  }
  char* d = buf_ + used_;
  copy_text(d, prefix_.data(), prefix_len_);
  d = put_number(line, d + prefix_len_);
  if (known) {
    d = put_record(rindex, rec, len, d);
  } else {
    // The raw record without its line end.
    size_t n = len;
    if (n > 0 && rec[n - 1] == '\n') n--;
    if (n > 0 && rec[n - 1] == '\r') n--;
    std::memcpy(d, ",\"unknown\":\"", 12);
    d = tl_json_escape(rec, n, d + 12);
    std::memcpy(d, "\"}\n", 3);
    d += 3;
  }
  used_ = static_cast<size_t>(d - buf_);
  if (used_ >= kChunk && !out_.memory()) {
    tl_write(out_.file(), buf_, kChunk);
    used_ -= kChunk;
    std::memmove(buf_, buf_ + kChunk, used_);
  }
  return out_.memory() || !tl_output_failed;
}

bool tl_json_writer::end(const tl_doc_end& /*e*/) { return !tl_output_failed; }

bool tl_json_writer::finish() {
  if (buf_ != nullptr && used_ > 0) flush();
  return !tl_output_failed;
}

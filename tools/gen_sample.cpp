// Writes synthetic BDT files from the built-in catalogue: every layout,
// amounts with overpunch signs, inline runs, index records, unknown records
// and records of other classes. The output depends only on the options.
//
//   gen_sample [--records N] [--size MB] [--seed S] [--hostile] [--lf] [--random]
//   gen_sample --balanced [--records N] [--size MB] [--seed S] [--lf]
//
// Without --random the file starts with every layout once, in catalogue
// order, with inline runs, index records and a few unknown records mixed in;
// --records / --size then add random records until the count or size is met.
//
// --balanced writes bills whose totals add up, for --balance to check (the
// layouts are picked for the test, not what the published standard says
// totals what): runs of 102705.01 details, each closed by a 102790.00 whose
// amount at 136 is the sum of the run's amounts at 68 and 79; at the end of
// each bill a 103090.00 whose amount at 150 is the sum of the bill's amounts
// at 68; at the end of the file a 103590.00 whose amount at 150 is the sum of
// the file's amounts at 68. Bill 0, before the first 100101.00, is one
// such bill too.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tl_bdt.h"

namespace {

struct rng {
  uint64_t s;
  uint64_t next() {
    // xorshift64*: fast, and the same sequence on every platform.
    s ^= s >> 12;
    s ^= s << 25;
    s ^= s >> 27;
    return s * 2685821657736338717ULL;
  }
  unsigned below(unsigned n) { return static_cast<unsigned>((next() >> 33) % n); }
};

struct options {
  long long records = 0;
  long long size_mb = 0;
  uint64_t seed = 1872;
  bool hostile = false;
  bool lf = false;
  bool random_only = false;
  bool balanced = false;
};

const char kSigns[] = "{ABCDEFGHI}JKLMNOPQR0123456789";
const char kText[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789      ";
// Characters that markup and CSV writers must handle with care.
const char kHostile[] = "&<>\",'\\;=|\t\x01\x1f\x7f\x80\xe9\xff";

void fill_text(std::string& r, size_t off, size_t len, rng& g, bool hostile) {
  for (size_t i = 0; i < len; i++) {
    if (hostile && g.below(6) == 0) {
      r[off + i] = kHostile[g.below(sizeof kHostile - 1)];
    } else {
      r[off + i] = kText[g.below(sizeof kText - 1)];
    }
  }
}

void fill_amount(std::string& r, size_t off, size_t len, rng& g) {
  if (len == 0) return;
  // Mostly small amounts with leading zeros, as billing files hold them.
  size_t sig = 1 + g.below(static_cast<unsigned>(len < 7 ? len : 7));
  for (size_t i = 0; i < len - 1; i++) r[off + i] = (i + sig >= len) ? static_cast<char>('0' + g.below(10)) : '0';
  r[off + len - 1] = kSigns[g.below(sizeof kSigns - 1)];
}

// Builds one record of layout li.
std::string make_record(int li, rng& g, const options& o) {
  const bdt_record_tag& L = bdtr_list[li];
  std::string r(225, ' ');
  // Common block: identifier, suffix, then digits and letters.
  for (const bdt_fields_tag* f = bdtf_common; !bdt_is_end(*f); f++) {
    if (f->amount_ind >= 0) fill_amount(r, f->field_offset, f->field_length, g);
    else fill_text(r, f->field_offset, f->field_length, g, false);
  }
  std::memcpy(&r[0], L.record_id, 6);
  std::memcpy(&r[6], L.record_suffix, 2);
  for (const bdt_fields_tag* f = L.fields; !bdt_is_end(*f); f++) {
    if (f->field_offset < 8) continue;  // 999999.00 repeats the identifier
    if (f->display == 0) continue;      // fillers stay blank
    if (f->amount_ind >= 0) fill_amount(r, f->field_offset, f->field_length, g);
    else fill_text(r, f->field_offset, f->field_length, g, o.hostile);
  }
  return r;
}

int layout_index(const char* key) {
  for (int i = 0; i < bdtr_count; i++) {
    if (std::strncmp(bdtr_list[i].record_id, key, 6) == 0 && std::strncmp(bdtr_list[i].record_suffix, key + 7, 2) == 0)
      return i;
  }
  return -1;
}

// Writes units as a zoned-decimal amount of len digits, the sign carried by
// the last one. Returns false when it does not fit.
bool put_amount(std::string& r, size_t off, size_t len, long long units) {
  unsigned long long u = units < 0 ? 0ULL - static_cast<unsigned long long>(units) : static_cast<unsigned long long>(units);
  for (size_t i = len; i-- > 0;) {
    r[off + i] = static_cast<char>('0' + u % 10);
    u /= 10;
  }
  if (u != 0) return false;
  const int last = r[off + len - 1] - '0';
  r[off + len - 1] = units < 0 ? "}JKLMNOPQR"[last] : "{ABCDEFGHI"[last];
  return true;
}

struct writer {
  const options& o;
  std::string buf;
  long long records = 0;
  long long bytes = 0;
  void put(const std::string& rec) {
    buf += rec;
    buf += o.lf ? "\n" : "\r\n";
    records++;
    bytes += static_cast<long long>(rec.size()) + (o.lf ? 1 : 2);
    if (buf.size() >= (1 << 20)) flush();
  }
  void flush() {
    if (!buf.empty() && fwrite(buf.data(), 1, buf.size(), stdout) != buf.size()) {
      perror("gen_sample: write");
      exit(1);
    }
    buf.clear();
  }
};

void usage() {
  fputs("usage: gen_sample [--records N] [--size MB] [--seed S] [--hostile] [--lf] [--random | --balanced]\n", stderr);
  exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  options o;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    auto value = [&]() -> long long {
      if (i + 1 >= argc) usage();
      return std::atoll(argv[++i]);
    };
    if (a == "--records") o.records = value();
    else if (a == "--size") o.size_mb = value();
    else if (a == "--seed") o.seed = static_cast<uint64_t>(value());
    else if (a == "--hostile") o.hostile = true;
    else if (a == "--lf") o.lf = true;
    else if (a == "--random") o.random_only = true;
    else if (a == "--balanced") o.balanced = true;
    else usage();
  }
  rng g{o.seed * 0x9E3779B97F4A7C15ULL + 1};
  writer w{o, {}, 0, 0};

  if (o.balanced) {
    const int detail = layout_index("102705.01"), run_total = layout_index("102790.00");
    const int bill_total = layout_index("103090.00"), file_total = layout_index("103590.00");
    const int bill = layout_index("100101.00");
    auto amount = [&](std::string& r, size_t start, long long v) {
      if (!put_amount(r, start - 1, 11, v)) {
        fputs("gen_sample: a total does not fit in 11 digits; ask for fewer records\n", stderr);
        exit(1);
      }
    };
    // Amounts of up to 999.99 either way: the file's sum stays within 11 digits.
    auto small = [&]() { return static_cast<long long>(g.below(100000)) * (g.below(2) == 0 ? 1 : -1); };
    const long long want_bytes = o.size_mb * 1024 * 1024;
    long long file_sum = 0;
    for (int b = 0;; b++) {
      if (b > 0) w.put(make_record(bill, g, o));
      long long bill_sum = 0;
      for (unsigned runs = 1 + g.below(4); runs > 0; runs--) {
        long long run_sum = 0;
        for (unsigned m = 1 + g.below(6); m > 0; m--) {
          std::string r = make_record(detail, g, o);
          const long long a = small(), c = small();
          amount(r, 68, a);
          amount(r, 79, c);
          run_sum += a + c;
          bill_sum += a;
          w.put(r);
        }
        std::string t = make_record(run_total, g, o);
        amount(t, 136, run_sum);
        w.put(t);
      }
      std::string t = make_record(bill_total, g, o);
      amount(t, 150, bill_sum);
      w.put(t);
      file_sum += bill_sum;
      if (b > 0 && w.records >= o.records && w.bytes >= want_bytes) break;
    }
    std::string t = make_record(file_total, g, o);
    amount(t, 150, file_sum);
    w.put(t);
  } else if (!o.random_only) {
    for (int i = 0; i < bdtr_count; i++) {
      w.put(make_record(i, g, o));
      const bdt_record_tag& L = bdtr_list[i];
      // Inline layouts come in runs, as they do in real files.
      if (L.display_csv_inline == 1) {
        unsigned extra = 1 + g.below(3);
        for (unsigned k = 0; k < extra; k++) w.put(make_record(i, g, o));
      }
      if (std::strcmp(L.record_id, "103005") == 0) {
        // An index record followed by records that it indexes.
        w.put(make_record(layout_index("103015.00"), g, o));
        w.put(make_record(i, g, o));
      }
      if (std::strcmp(L.record_id, "103624") == 0) {
        // Inline runs of two types taking turns, then an ordinary record
        // between two runs of one type.
        w.put(make_record(layout_index("103623.50"), g, o));
        w.put(make_record(i, g, o));
        w.put(make_record(layout_index("103630.00"), g, o));
        w.put(make_record(i, g, o));
      }
      if (i == 40) {
        // Unknown records: a known identifier with an unknown suffix, a class
        // the catalogue does not describe, and a short line.
        std::string u = make_record(0, g, o);
        std::memcpy(&u[6], "02", 2);
        w.put(u);
        std::string v = make_record(0, g, o);
        std::memcpy(&v[0], "200101", 6);
        w.put(v);
        w.put("10010");
      }
    }
  }
  long long want_bytes = o.balanced ? 0 : o.size_mb * 1024 * 1024;
  while (!o.balanced && ((o.records > 0 && w.records < o.records) || (want_bytes > 0 && w.bytes < want_bytes))) {
    w.put(make_record(static_cast<int>(g.below(static_cast<unsigned>(bdtr_count))), g, o));
  }
  w.flush();
  if (fflush(stdout) != 0) {
    perror("gen_sample: write");
    return 1;
  }
  return 0;
}

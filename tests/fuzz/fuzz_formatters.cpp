// Every formatter over arbitrary record texts with settings from the input.
//
// Input: two settings bytes, one byte choosing a small capacity, one choosing
// the format to run at that capacity and the text formatter's flag, then the
// records, separated by NUL bytes (a record is NUL-terminated, so it can hold
// any other byte); a longer record is cut into pieces of 255 bytes as the
// reader cuts long lines.
//
// Two formats, picked by the input, run over the records from their reset,
// gathered into one buffer record after record as the file driver does (each
// record's output must fit in 16384 bytes); the first runs again with a
// small capacity per record (the output must be the same text cut short, the
// buffer never overrun). Few records and formats per input keep a run short,
// so that a minute explores hundreds of thousands of inputs. The
// buffers are allocated at their exact size so that a byte written past the
// end is caught. The XML records must form a well-formed document, the
// hashed identification must agree with the plain search, and the amounts
// the formatters print must be those of iFormatBDTamount.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_common.h"
#include "tl_bdt.h"
#include "tl_formatters.h"
#include "tl_util.h"

namespace {

constexpr size_t kRecordOutput = 16384;
constexpr size_t kMaxRecords = 8;

enum fmt { F_TEXT, F_CSV, F_ANON, F_XML, F_HTML, F_DB, F_COUNT };
const char* const kNames[F_COUNT] = {"text", "csv", "anon", "xml", "html", "db"};

int text_flag = 1;

void reset(int f) {
  switch (f) {
    case F_TEXT:
      init_bdt_text();
      break;
    case F_CSV:
      init_bdt_csv();
      break;
    case F_ANON:
      init_bdt_anon();
      break;
    case F_XML:
      init_bdt_xml();
      break;
    case F_HTML:
      init_bdt_html();
      break;
    case F_DB:
      init_bdt_csv();
      reset_bdt_db();
      break;
  }
}

int format(int f, const char* rec, tl_out& o) {
  switch (f) {
    case F_TEXT:
      return psParseBDTrecord(rec, text_flag, o);
    case F_CSV:
      return psParseBDTrecord_csv(rec, o);
    case F_ANON:
      return psParseBDTrecord_anon(rec, o);
    case F_XML:
      return psParseBDTrecord_xml(rec, o);
    case F_HTML:
      return psParseBDTrecord_html(rec, o);
    default:
      return psParseBDTrecord_db(rec, o);
  }
}

// The buffer's invariants after a formatter call.
void check_buffer(const tl_out& o, const char* what) {
  FZ_CHECK(o.len < o.cap, "%s: length %zu, capacity %zu", what, o.len, o.cap);
  FZ_CHECK(o.buf[o.len] == '\0', "%s: text not terminated", what);
  FZ_CHECK(strlen(o.buf + o.start) == o.len - o.start, "%s: NUL inside the output", what);
}

// Identification (for the first record of an input: the plain search is
// slow, and identification depends on a record's first bytes alone) and
// amounts, record by record, against the plain forms.
void check_record(const std::string& r, bool identification) {
  const char* rec = r.c_str();
  int li = iFindBDTrecord(rec);
  FZ_CHECK(!identification || li == iFindBDTrecordIn(bdtr_list, rec), "identification differs from the plain search");
  if (li < 0) return;
  const bdt_fields_tag* lists[2] = {bdtf_common, bdtr_list[li].fields};
  char scratch[300];
  for (const bdt_fields_tag* list : lists) {
    for (const bdt_fields_tag* f = list; f != nullptr && !bdt_is_end(*f); f++) {
      if (f->amount_ind < 0) continue;
      tl_field_text t = tl_field_value(rec, r.size(), *f, scratch);
      // The reference: the value cut into a zeroed 256-byte buffer.
      char cut[256] = {0};
      bdt_value v = bdt_cut(rec, r.size(), *f);
      memcpy(cut, v.p, v.n);
      char want[300] = {0};
      int pos = 1;
      iFormatBDTamount(cut, f->field_length, f->amount_ind, want, &pos);
      FZ_CHECK(std::string_view(t.p, t.n) == want && t.negative == (pos == 0),
               "amount at %d length %d: [%.*s]%d, reference [%s]%d", f->field_offset, f->field_length,
               static_cast<int>(t.n), t.p, t.negative ? 0 : 1, want, pos);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fz_init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  fz_settings(data[0], data[1]);
  uint8_t small = data[2];
  uint8_t pick = data[3];
  text_flag = pick & 8 ? 1 : static_cast<int>(pick) - 128;
  data += 4;
  size -= 4;

  std::vector<std::string> recs;
  size_t b = 0;
  for (size_t i = 0; i <= size && recs.size() < kMaxRecords; i++) {
    if (i < size && data[i] != 0) continue;
    size_t p = b;
    do {
      size_t n = i - p < 255 ? i - p : 255;
      recs.emplace_back(reinterpret_cast<const char*>(data) + p, n);
      p += n;
    } while (p < i && recs.size() < kMaxRecords);
    b = i + 1;
  }
  for (size_t i = 0; i < recs.size(); i++) check_record(recs[i], i == 0);

  // A small capacity, 1 to 256 bytes, or a little over a typical record.
  size_t cap = small < 224 ? 1 + small % 256 : 200 + (small - 224) * 40;

  const int first = pick % F_COUNT;
  const int second = (first + 1 + (pick >> 4) % (F_COUNT - 1)) % F_COUNT;
  for (int f : {first, second}) {
    const char* nm = kNames[f];
    // Gathered as the file driver gathers: each record starts where the last
    // ended and may use kRecordOutput bytes from there.
    std::vector<std::string> full;
    std::string all;
    reset(f);
    size_t whole = kRecordOutput + 64 * static_cast<size_t>(small);
    std::unique_ptr<char[]> mem(new char[whole]);
    tl_out o(mem.get(), whole);
    for (const std::string& r : recs) {
      if (whole - o.len <= kRecordOutput) {
        all.append(o.buf, o.len);
        o.start = 0;
        o.clear();
      }
      o.start = o.len;
      o.cap = o.start + kRecordOutput;
      FZ_CHECK(format(f, r.c_str(), o) == 0, "%s: result not 0", nm);
      check_buffer(o, nm);
      FZ_CHECK(!o.full, "%s: one record's output does not fit in %zu bytes", nm, kRecordOutput);
      full.emplace_back(o.buf + o.start, o.len - o.start);
      o.cap = whole;
    }
    all.append(o.buf, o.len);

    if (f == F_XML) {
      std::string doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Tapelens>\r\n" + all + "</Tapelens>\n\n";
      std::string why = fz_xml_problem(doc, true);
      FZ_CHECK(why.empty(), "xml: not well-formed: %s", why.c_str());
    }

    // One format per input again, each record in a buffer of a small
    // capacity: the same text cut short, never a byte past the end.
    if (f != first) continue;
    reset(f);
    for (size_t k = 0; k < recs.size(); k++) {
      std::unique_ptr<char[]> tiny(new char[cap]);
      tl_out t(tiny.get(), cap);
      FZ_CHECK(format(f, recs[k].c_str(), t) == 0, "%s: result not 0 at capacity %zu", nm, cap);
      check_buffer(t, nm);
      const std::string& want = full[k];
      size_t keep = want.size() < cap - 1 ? want.size() : cap - 1;
      FZ_CHECK(std::string_view(t.buf, t.len) == std::string_view(want).substr(0, keep),
               "%s: record %zu at capacity %zu is not the full output cut short", nm, k, cap);
      FZ_CHECK(t.full == (want.size() > cap - 1), "%s: full flag wrong at capacity %zu", nm, cap);
    }
  }
  return 0;
}

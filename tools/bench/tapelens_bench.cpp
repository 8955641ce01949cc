// Micro-benchmarks of the hot paths: record identification, field cutting,
// amount formatting, each formatter per record, the file reader and the
// in-memory driver. The records are one per layout of the catalogue, filled
// the way gen_sample fills them, each ending with CR LF as the reader
// delivers it.
//
//   tapelens_bench [--benchmark_filter=REGEX] [other Google Benchmark flags]
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "tl_bdt.h"
#include "tl_core.h"
#include "tl_formatters.h"
#include "tl_globals.h"
#include "tl_logging.h"
#include "tl_mrot.h"
#include "tl_util.h"

namespace {

// xorshift64*: the same records on every run and platform.
struct rng {
  uint64_t s = 0x9E3779B97F4A7C15ULL;
  unsigned below(unsigned n) {
    s ^= s >> 12;
    s ^= s << 25;
    s ^= s >> 27;
    return static_cast<unsigned>(((s * 2685821657736338717ULL) >> 33) % n);
  }
};

const char kSigns[] = "{ABCDEFGHI}JKLMNOPQR0123456789";
const char kText[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789      ";

void fill(std::string& r, const bdt_fields_tag& f, rng& g) {
  size_t off = static_cast<size_t>(f.field_offset), len = static_cast<size_t>(f.field_length);
  if (len == 0 || off + len > 225) return;
  if (f.amount_ind >= 0) {
    // Small amounts with leading zeros and an overpunched last digit.
    size_t sig = 1 + g.below(static_cast<unsigned>(len < 7 ? len : 7));
    for (size_t i = 0; i + 1 < len; i++) r[off + i] = (i + sig >= len) ? static_cast<char>('0' + g.below(10)) : '0';
    r[off + len - 1] = kSigns[g.below(sizeof kSigns - 1)];
  } else {
    for (size_t i = 0; i < len; i++) r[off + i] = kText[g.below(sizeof kText - 1)];
  }
}

// One 227-byte record line of layout li.
std::string make_record(int li, rng& g) {
  const bdt_record_tag& L = bdtr_list[li];
  std::string r(225, ' ');
  for (const bdt_fields_tag* f = bdtf_common; !bdt_is_end(*f); f++) fill(r, *f, g);
  for (const bdt_fields_tag* f = L.fields; !bdt_is_end(*f); f++) {
    if (f->field_offset >= 8 && f->display != 0) fill(r, *f, g);
  }
  std::memcpy(&r[0], L.record_id, 6);
  std::memcpy(&r[6], L.record_suffix, 2);
  return r + "\r\n";
}

struct corpus {
  std::vector<std::string> known;  // one record per layout, catalogue order
  std::vector<int> layout;         // layout index of each known record
  std::vector<std::string> mixed;  // known records with unknown ones among them
  size_t known_bytes = 0;
  std::string memory_text;         // the known records back to back
};

const corpus& records() {
  static const corpus c = [] {
    corpus k;
    rng g;
    for (int i = 0; i < bdtr_count; i++) {
      k.known.push_back(make_record(i, g));
      k.layout.push_back(i);
      k.known_bytes += k.known.back().size();
      k.memory_text += k.known.back();
      k.mixed.push_back(k.known.back());
      // Every eighth layout is followed by an unknown record: a known
      // identifier with an unknown suffix, or a class the catalogue lacks.
      if (i % 8 == 0) {
        std::string u = k.known.back();
        if (i % 16 == 0) std::memcpy(&u[6], "97", 2);
        else u[0] = '2';
        k.mixed.push_back(u);
      }
    }
    k.mixed.push_back("10010\r\n");
    return k;
  }();
  return c;
}

void BM_Identify(benchmark::State& state) {
  const auto& recs = records().mixed;
  for (auto _ : state) {
    for (const auto& r : recs) benchmark::DoNotOptimize(iFindBDTrecord(r.c_str()));
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * recs.size()));
}
BENCHMARK(BM_Identify);

// Cuts every field of every layout (common block included) from its record.
void BM_CutFields(benchmark::State& state) {
  const corpus& c = records();
  int64_t fields = 0;
  for (auto _ : state) {
    fields = 0;
    for (size_t i = 0; i < c.known.size(); i++) {
      const std::string& r = c.known[i];
      for (const bdt_fields_tag* f = bdtf_common; !bdt_is_end(*f); f++, fields++)
        benchmark::DoNotOptimize(bdt_cut(r.data(), r.size(), *f));
      for (const bdt_fields_tag* f = bdtr_list[c.layout[i]].fields; !bdt_is_end(*f); f++, fields++)
        benchmark::DoNotOptimize(bdt_cut(r.data(), r.size(), *f));
    }
  }
  state.SetItemsProcessed(state.iterations() * fields);
}
BENCHMARK(BM_CutFields);

// The same with amounts formatted, as every formatter does per field.
void BM_FieldValue(benchmark::State& state) {
  const corpus& c = records();
  char scratch[258];
  int64_t fields = 0;
  for (auto _ : state) {
    fields = 0;
    for (size_t i = 0; i < c.known.size(); i++) {
      const std::string& r = c.known[i];
      for (const bdt_fields_tag* f = bdtf_common; !bdt_is_end(*f); f++, fields++)
        benchmark::DoNotOptimize(tl_field_value(r.data(), r.size(), *f, scratch));
      for (const bdt_fields_tag* f = bdtr_list[c.layout[i]].fields; !bdt_is_end(*f); f++, fields++)
        benchmark::DoNotOptimize(tl_field_value(r.data(), r.size(), *f, scratch));
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * fields);
}
BENCHMARK(BM_FieldValue);

// Every amount field of every layout, as (value, width, decimals).
struct amount {
  const char* p;
  int len;
  int dpoint;
};
const std::vector<amount>& amounts() {
  static const std::vector<amount> a = [] {
    std::vector<amount> v;
    const corpus& c = records();
    for (size_t i = 0; i < c.known.size(); i++) {
      for (const bdt_fields_tag* f = bdtr_list[c.layout[i]].fields; !bdt_is_end(*f); f++) {
        if (f->amount_ind >= 0 && f->field_offset + f->field_length <= 225 && f->field_length <= 255)
          v.push_back({c.known[i].data() + f->field_offset, f->field_length, f->amount_ind});
      }
    }
    return v;
  }();
  return a;
}

void BM_iFormatBDTamount(benchmark::State& state) {
  const auto& a = amounts();
  char out[258];
  int positive = 0;
  for (auto _ : state) {
    for (const amount& x : a) {
      iFormatBDTamount(x.p, x.len, x.dpoint, out, &positive);
      benchmark::DoNotOptimize(out);
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * a.size()));
}
BENCHMARK(BM_iFormatBDTamount);

void BM_tl_format_amount(benchmark::State& state) {
  const auto& a = amounts();
  char out[258];
  int positive = 0;
  for (auto _ : state) {
    for (const amount& x : a) {
      benchmark::DoNotOptimize(
          tl_format_amount(x.p, static_cast<size_t>(x.len), x.len, x.dpoint, out, &positive));
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * a.size()));
}
BENCHMARK(BM_tl_format_amount);

// Runs one formatter over one record per layout, into a per-record buffer of
// the file driver's size, cleared before each record as the driver does.
// The call goes through a pointer, as in the driver.
void BM_Formatter(benchmark::State& state, int (*format)(const char*, tl_out&), int (*reset)()) {
  const corpus& c = records();
  static char storage[16384];
  tl_out o(storage, sizeof storage);
  if (reset) reset();
  else reset_bdt_db();
  size_t out_bytes = 0;
  for (auto _ : state) {
    out_bytes = 0;
    for (const std::string& r : c.known) {
      o.clear();
      if (format(r.c_str(), o) != 0 || o.full) {
        state.SkipWithError("formatter failed or overflowed");
        return;
      }
      out_bytes += o.len;
      benchmark::DoNotOptimize(o.buf);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.known_bytes));
  state.counters["out/in"] = static_cast<double>(out_bytes) / static_cast<double>(c.known_bytes);
}

int text_record(const char* pucData, tl_out& o) { return psParseBDTrecord(pucData, 1, o); }

BENCHMARK_CAPTURE(BM_Formatter, text, text_record, init_bdt_text);
BENCHMARK_CAPTURE(BM_Formatter, csv, psParseBDTrecord_csv, init_bdt_csv);
BENCHMARK_CAPTURE(BM_Formatter, anon, psParseBDTrecord_anon, init_bdt_anon);
BENCHMARK_CAPTURE(BM_Formatter, xml, psParseBDTrecord_xml, init_bdt_xml);
BENCHMARK_CAPTURE(BM_Formatter, html, psParseBDTrecord_html, init_bdt_html);
BENCHMARK_CAPTURE(BM_Formatter, db, psParseBDTrecord_db, nullptr);

// The fixed cost of a new input: the format's reset routine and the first
// record after it (where a formatter may prepare texts it keeps per input).
void BM_NewInput(benchmark::State& state, int (*format)(const char*, tl_out&), int (*reset)()) {
  static char storage[16384];
  tl_out o(storage, sizeof storage);
  const char* first = records().known[0].c_str();
  for (auto _ : state) {
    reset();
    o.clear();
    format(first, o);
    benchmark::DoNotOptimize(o.buf);
  }
}
BENCHMARK_CAPTURE(BM_NewInput, text, text_record, init_bdt_text);
BENCHMARK_CAPTURE(BM_NewInput, csv, psParseBDTrecord_csv, init_bdt_csv);
BENCHMARK_CAPTURE(BM_NewInput, anon, psParseBDTrecord_anon, init_bdt_anon);
BENCHMARK_CAPTURE(BM_NewInput, xml, psParseBDTrecord_xml, init_bdt_xml);
BENCHMARK_CAPTURE(BM_NewInput, html, psParseBDTrecord_html, init_bdt_html);

// Reads a file of about 4 MB record by record.
void BM_ReadFile(benchmark::State& state) {
  char name[] = "/tmp/tapelens_bench_XXXXXX";
  int fd = mkstemp(name);
  if (fd < 0) {
    state.SkipWithError("cannot create a temporary file");
    return;
  }
  const std::string& text = records().memory_text;
  size_t bytes = 0;
  while (bytes < (4u << 20)) {
    if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) break;
    bytes += text.size();
  }
  close(fd);
  char rec[256];
  unsigned long len = 0;
  long loc = 0;
  int64_t count = 0;
  for (auto _ : state) {
    count = 0;
    while (psReadBDTfile(name, rec, &len, &loc) == 0) {
      benchmark::DoNotOptimize(rec);
      count++;
    }
  }
  unlink(name);
  if (count * 227 != static_cast<int64_t>(bytes)) state.SkipWithError("records lost");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_ReadFile)->Unit(benchmark::kMillisecond);

// The in-memory driver over the records back to back, in one output format
// (0 text, 1 CSV, 2 HTML, 3 XML, 9 anon CSV), into a fixed buffer.
void BM_CoreBuf(benchmark::State& state) {
  const std::string& text = records().memory_text;
  static std::vector<char> done(32u << 20);
  int saved = output_format;
  output_format = static_cast<int>(state.range(0));
  for (auto _ : state) {
    done[0] = '\0';
    if (tl_core_buf(text.data(), done.data(), static_cast<long>(text.size()), done.size()) != 0) {
      state.SkipWithError("document did not fit");
      break;
    }
    benchmark::DoNotOptimize(done.data());
  }
  output_format = saved;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_CoreBuf)->ArgName("format")->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Arg(9);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // The program's own start-up: default settings, then the readable names.
  display_bill = display_detail = display_csr = 1;
  init_globals(argv);
  iDemrotStrings();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

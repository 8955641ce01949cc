// The file reader, the file driver in every format and the summary report
// over arbitrary file contents.
//
// The input is written to a file once; then the reader alone must hand back
// exactly the file's bytes (a NUL as a blank) in pieces of 1 to 255 bytes,
// ending each at a line end or at 255 bytes, and must deliver the same piece
// again when the byte location is moved back. One form per input, picked by
// its hash (a format or the summary), must convert without a failure, through
// the file driver's door or through a sink of its own; its XML must be a
// well-formed document; and, for one input in four, on two threads in blocks
// of 256 bytes or a little more it must give the bytes of one thread.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "tl_core.h"
#include "tl_detect.h"
#include "tl_format_sink.h"
#include "tl_input.h"
#include "tl_sink.h"
#include "tl_summary.h"

namespace {

const char kInput[] = "input.bdt";
FILE* devnull = nullptr;
FILE* jobs_out = nullptr;

void write_input(const uint8_t* data, size_t size) {
  FILE* f = fopen(kInput, "wb");
  FZ_CHECK(f != nullptr, "cannot create the input file");
  FZ_CHECK(fwrite(data, 1, size, f) == size, "cannot write the input file");
  FZ_CHECK(fclose(f) == 0, "cannot close the input file");
}

void check_reader(const uint8_t* data, size_t size, uint8_t jump) {
  std::string expect(reinterpret_cast<const char*>(data), size);
  fz_blank_nuls(expect);
  std::string got;
  std::vector<long> starts;
  std::vector<unsigned long> lens;
  char rec[256];
  unsigned long len = 0;
  long loc = 0;
  bool jumped = false;
  for (size_t calls = 0;; calls++) {
    FZ_CHECK(calls <= size + 2, "the reader does not reach the end");
    memset(rec, 'x', sizeof rec);
    long before = loc;
    if (psReadBDTfile(kInput, rec, &len, &loc) != 0) {
      FZ_CHECK(loc == 0, "byte location %ld after the end", loc);
      break;
    }
    FZ_CHECK(len >= 1 && len <= 255, "piece of %lu bytes", len);
    FZ_CHECK(strlen(rec) == len, "piece of %lu bytes holds a NUL or is not terminated", len);
    FZ_CHECK(loc == before + static_cast<long>(len), "byte location %ld after %ld + %lu", loc, before, len);
    FZ_CHECK(rec[len - 1] == '\n' || len == 255 || static_cast<size_t>(loc) == size,
             "piece of %lu bytes ends neither at a line end nor at 255 bytes", len);
    FZ_CHECK(memchr(rec, '\n', len - 1) == nullptr, "line end inside a piece");
    starts.push_back(before);
    lens.push_back(len);
    got.append(rec, len);
    // Once, move the location back to an earlier piece and read it again.
    if (!jumped && starts.size() > 1 && jump % 4 == 0) {
      jumped = true;
      size_t k = jump % starts.size();
      long again = starts[k];
      loc = again;
      unsigned long len2 = 0;
      FZ_CHECK(psReadBDTfile(kInput, rec, &len2, &loc) == 0, "no piece after moving back to %ld", again);
      FZ_CHECK(len2 == lens[k] && expect.compare(static_cast<size_t>(again), len2, rec, len2) == 0,
               "wrong piece after moving back to %ld", again);
      // Back to where the reading was.
      loc = before + static_cast<long>(len);
    }
  }
  FZ_CHECK(got == expect, "the pieces (%zu bytes) are not the file (%zu bytes)", got.size(), size);
  FZ_CHECK(tl_input_failures == 0, "the reader reported a failure");
}

std::string read_back(FILE* f) {
  fflush(f);
  std::string s;
  rewind(f);
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  return s;
}

// Converts the input with a fresh sink of form k (the six formats, then the
// summary) on the given threads, and returns the document.
std::string convert(unsigned k, int jobs, size_t block) {
  static const tl_format kFormats[] = {tl_format::text, tl_format::csv, tl_format::db,
                                       tl_format::html, tl_format::xml, tl_format::anon};
  FZ_CHECK(ftruncate(fileno(jobs_out), 0) == 0, "cannot empty the output");
  rewind(jobs_out);
  tl_pipeline_opts.jobs = jobs;
  tl_pipeline_opts.block = block;
  std::unique_ptr<tl_sink> sink = k < 6 ? tl_open_format_sink(jobs_out, kFormats[k]) : tl_open_summary_sink(jobs_out);
  tl_feed(*sink, kInput);
  sink->finish();
  tl_pipeline_opts.jobs = 1;
  return read_back(jobs_out);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fz_init();
  devnull = fopen("/dev/null", "w");
  jobs_out = fopen("output.jobs", "w+");
  if (devnull == nullptr || jobs_out == nullptr) abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  write_input(data, size);
  // Settings from a hash of the whole input, so every byte may be file data.
  const uint32_t h = fz_hash(data, size);
  fz_settings(static_cast<uint8_t>(h), static_cast<uint8_t>(h >> 8));

  check_reader(data, size, static_cast<uint8_t>(h >> 16));
  // What shows a compressor's or an archive's magic may be damaged: failing
  // then is right.
  const bool packed = tl_detect_packing(reinterpret_cast<const char*>(data), size) != tl_packing::none;
  tl_input_reset();

  // One form per input, picked by its hash (the six formats, then the
  // summary), and one way through, each a conversion of its own: the file
  // driver's door, or a fresh sink, on one thread and, for one input in
  // four, on two as well, which must agree byte for byte. (Threads cost more
  // than the rest of a run.)
  static const int kCodes[] = {0, 1, 1, 2, 3, 9};
  const unsigned form = (h >> 24) % 7;
  // The way from the hash mixed again: its own bits all pick settings.
  const uint32_t g = (h ^ (h >> 15)) * 2246822519u;
  const bool threads = g >> 30 == 0;
  if (!threads && (g >> 29) & 1) {
    if (form < 6) {
      output_format = kCodes[form];
      database_flag = form == 2;
      FZ_CHECK(tl_core(kInput, devnull) == 0, "tl_core failed, form %u", form);
    } else {
      output_format = (h >> 20) & 1 ? 2 : 0;
      FZ_CHECK(tl_summary(kInput, devnull) == 0, "tl_summary failed");
    }
    FZ_CHECK((packed || tl_input_failures == 0) && tl_output_failed == 0, "failure reported, form %u", form);
    return 0;
  }
  const std::string one = convert(form, 1, 256);
  FZ_CHECK((packed || tl_input_failures == 0) && tl_output_failed == 0, "failure reported, form %u", form);
  if (form == 4 && !(packed && one.empty())) {
    // An archive of no regular member (an empty zip) gives no document; one
    // of several, a document for each, one after the other.
    for (size_t at = 0; at < one.size();) {
      size_t next = packed ? one.find("<?xml ", at + 1) : std::string::npos;
      if (next == std::string::npos) next = one.size();
      std::string why = fz_xml_problem(one.substr(at, next - at), true);
      FZ_CHECK(why.empty(), "XML document at byte %zu not well-formed: %s", at, why.c_str());
      at = next;
    }
  }
  if (threads) {
    // In blocks of 256 bytes to a few records.
    const size_t block = 256 + (g >> 8) % 1024;
    const std::string many = convert(form, 2, block);
    FZ_CHECK(one == many, "form %u on two threads in blocks of %zu bytes differs from one thread (%zu against %zu bytes)",
             form, block, many.size(), one.size());
  }
  return 0;
}

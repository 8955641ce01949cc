// The inputs over arbitrary bytes: telling compression, archives, EBCDIC and
// fixed-length records apart, unpacking, decoding and framing.
//
// The first byte picks the settings (a forced record length, forced EBCDIC),
// the rest is the file. Every document of it is read to its end: each piece
// must be 1 to 255 bytes, NUL-free and NUL-terminated, ending at a line end,
// at 255 bytes or at the document's end. For an input that is not packed the
// pieces joined must be exactly the file after decoding and framing, done
// here the simple way; a packed one may fail, but must say so, not crash or
// hang. A packed document is read to at most 320 KB or 16,384 pieces, and
// the run is then stopped as a signal stops it: the few kilobytes of a bomb
// could unpack to far more, which would only make the run slow.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_common.h"
#include "tl_detect.h"
#include "tl_ebcdic.h"
#include "tl_input.h"

namespace {

const char kInput[] = "input.dat";
// A packed document is read up to past what is unpacked at once on the
// calling thread (256 KB) and into the unpacking thread's second block,
// enough to reach every path of both; or to as many pieces as the largest
// plain input gives: a bomb of line ends costs a piece per byte.
constexpr size_t kPackedCap = 320 * 1024;
constexpr size_t kPackedPieces = 16 * 1024;

void write_input(const uint8_t* data, size_t size) {
  FILE* f = fopen(kInput, "wb");
  FZ_CHECK(f != nullptr, "cannot create the input file");
  FZ_CHECK(fwrite(data, 1, size, f) == size, "cannot write the input file");
  FZ_CHECK(fclose(f) == 0, "cannot close the input file");
}

// The file as the documents must give it: decoded, framed, NULs as blanks.
FZ_NO_COVERAGE std::string expected(const std::string& file, bool ebcdic, size_t lrecl) {
  std::string s = file;
  if (ebcdic) {
    static unsigned char t[256];
    static const bool made = tl_ebcdic_table(kTlEbcdicDefault, t);
    FZ_CHECK(made, "no IBM037 table");
    for (char& c : s) c = static_cast<char>(t[static_cast<unsigned char>(c)]);
  }
  if (lrecl > 0) {
    std::string framed;
    for (size_t i = 0; i < s.size(); i += lrecl) {
      framed.append(s, i, lrecl);
      framed += "\r\n";
    }
    s = framed;
  }
  fz_blank_nuls(s);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fz_init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t pick = data[0];
  std::string file(reinterpret_cast<const char*>(data + 1), size - 1);
  write_input(data + 1, size - 1);

  tl_input_reset();
  tl_input_opts.progress = tl_progress_when::never;
  if (pick & 1) tl_input_opts.lrecl = 1 + (pick >> 2) % 300;
  if (pick & 2) tl_input_opts.ebcdic = true;
  tl_shutdown = 0;
  tl_input_failures = 0;

  const bool packed = tl_detect_packing(file.data(), file.size()) != tl_packing::none;
  const bool ebcdic = tl_input_opts.ebcdic || tl_looks_ebcdic(file.data(), file.size());
  std::string decoded = expected(file, ebcdic, 0);
  size_t lrecl = tl_input_opts.lrecl > 0 ? static_cast<size_t>(tl_input_opts.lrecl)
                 : tl_looks_fixed(decoded.data(), decoded.size()) ? 225
                                                                  : 0;

  int documents = 0;
  bool any_failed = false;
  bool stopped = false;
  bool ok = tl_each_document(kInput, [&](tl_document& doc) {
    documents++;
    std::string got;
    const char* rec = nullptr;
    unsigned long len = 0;
    int before = tl_input_failures;
    bool ended = false;  // a piece ended neither at a line end nor at 255 bytes
    size_t pieces = 0;
    while (doc.next_record(&rec, &len) == 0) {
      FZ_CHECK(!ended, "a piece of under 255 bytes without a line end before the last");
      FZ_CHECK(len >= 1 && len <= 255, "piece of %lu bytes", len);
      FZ_CHECK(strlen(rec) == len, "piece of %lu bytes holds a NUL or is not terminated", len);
      FZ_CHECK(memchr(rec, '\n', len - 1) == nullptr, "line end inside a piece");
      ended = rec[len - 1] != '\n' && len < 255;
      got.append(rec, len);
      if (packed && (got.size() > kPackedCap || ++pieces > kPackedPieces)) {
        tl_shutdown = 1;
        stopped = true;
        break;
      }
    }
    if (stopped) return;
    FZ_CHECK(doc.failed() == (tl_input_failures != before), "failed() and the failures counted disagree");
    any_failed = any_failed || doc.failed();
    if (!packed) {
      FZ_CHECK(!doc.failed(), "a plain file failed");
      FZ_CHECK(got == expected(file, ebcdic, lrecl), "the pieces (%zu bytes) are not the file framed", got.size());
    }
  });
  if (!packed) FZ_CHECK(ok && documents == 1, "a plain file gave %d documents", documents);
  if (!stopped) FZ_CHECK(ok == (tl_input_failures == 0), "the result and the failures counted disagree");
  tl_shutdown = 0;
  tl_input_reset();
  return 0;
}

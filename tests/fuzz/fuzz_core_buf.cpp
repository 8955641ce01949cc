// The memory driver over arbitrary buffers, lengths and capacities, in both
// forms.
//
// Input: two settings bytes, a byte choosing the capacity, a byte choosing
// what the caller's buffer holds before the call and how much of the input
// length is passed, then the BDT text. The string form gives the whole
// document; the fixed form, with a buffer allocated at its exact capacity,
// must give the same document, or report -1 and hold that document cut at
// the capacity. An XML document is checked for well-formedness.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz_common.h"
#include "tl_core.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fz_init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  fz_settings(data[0], data[1]);
  uint8_t capsel = data[2];
  uint8_t pre = data[3];
  // The text stays in libFuzzer's buffer of exactly its size: no read past it.
  const char* text = reinterpret_cast<const char*>(data) + 4;
  size_t avail = size - 4;
  size_t len = avail;
  if ((pre & 0x30) == 0x10) len = avail / 2;
  if ((pre & 0x30) == 0x20 && len > 0) len = avail - 1;

  // What the caller's buffer holds before: nothing, or some text.
  std::string prefix;
  if (pre & 1) prefix = "caller's text\r\n";
  if (pre & 2) prefix.append(300, 'p');

  std::string whole = prefix;
  FZ_CHECK(tl_core_buf(text, len, whole) == 0, "string form failed");

  if (output_format == 3) {
    std::string why = fz_xml_problem(whole, true);
    FZ_CHECK(why.empty(), "XML not well-formed: %s", why.c_str());
  }

  static const size_t fixed[] = {1, 2, 3, 8, 40, 120, 400, 1000, 4096, 40960, 40961, 1 << 17};
  size_t cap;
  switch (capsel >> 4) {
    case 0:
      cap = whole.size() + 1;  // just fits
      break;
    case 1:
      cap = whole.size();  // one byte short
      break;
    case 2:
      cap = 1 + whole.size() * (capsel & 15) / 16;  // a part of it
      break;
    default:
      cap = fixed[capsel % (sizeof fixed / sizeof fixed[0])];
      break;
  }
  if (cap == 0) cap = 1;

  std::unique_ptr<char[]> mem(new char[cap]);
  bool unterminated = prefix.size() >= cap;
  if (unterminated) {
    memset(mem.get(), 'u', cap);
  } else {
    memcpy(mem.get(), prefix.c_str(), prefix.size() + 1);
  }
  int rc = tl_core_buf(text, mem.get(), static_cast<long>(len), cap);
  FZ_CHECK(rc == 0 || rc == -1, "result %d", rc);
  size_t got = strnlen(mem.get(), cap);
  FZ_CHECK(got < cap, "buffer of %zu bytes left unterminated", cap);
  if (unterminated) {
    FZ_CHECK(rc == -1, "an unterminated caller's buffer is full");
  } else if (rc == 0) {
    FZ_CHECK(whole.size() < cap && std::string(mem.get(), got) == whole,
             "fixed form (%zu bytes) differs from the string form (%zu bytes)", got, whole.size());
  } else {
    FZ_CHECK(whole.size() >= cap, "-1 although the document (%zu bytes) fits in %zu", whole.size(), cap);
    FZ_CHECK(got == cap - 1 && whole.compare(0, got, mem.get(), got) == 0,
             "full buffer (%zu of %zu bytes) is not the document cut short", got, cap);
  }
  return 0;
}

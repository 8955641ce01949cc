// What an input is, told from its first bytes: compressed or archived, EBCDIC,
// fixed-length records without line ends.
#pragma once

#include <cstddef>

// Bytes to read ahead before telling: the tar magic stands at 257 to 262,
// the fixed-length test looks at two records of 225 bytes.
constexpr size_t kTlDetectBytes = 512;

// How an input is packed.
enum class tl_packing {
  none,        // plain bytes
  compressed,  // gzip, bzip2, xz or zstd (possibly around a tar)
  archive,     // zip or tar
};

// Returns the packing that the first n bytes of an input show by their magic
// numbers; none when they show no known one.
tl_packing tl_detect_packing(const char* p, size_t n);

// Returns true when the first six of the n bytes are EBCDIC digits (0xF0 to
// 0xF9), as a BDT record in EBCDIC starts.
bool tl_looks_ebcdic(const char* p, size_t n);

// Returns true when the n bytes (all there are, or at least 450) start with
// six digits and hold no CR or LF in their first 450: records of a fixed
// length without line ends. A shorter input is never taken for one.
bool tl_looks_fixed(const char* p, size_t n);

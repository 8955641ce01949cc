// Record pieces from a stream of bytes: lines cut as the file reader cuts
// them (through the line end, at most 255 bytes, a NUL given as a blank),
// after an optional EBCDIC decoding and fixed-length framing of the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

// A byte-to-byte decoding, also as a table of byte pairs, so that one lookup
// decodes two bytes (the pair table is 128 KB and stays in the cache).
struct tl_byte_table {
  unsigned char one[256];
  uint16_t two[65536];
};

// Fills t with the decoding that gives one[b] for each byte b.
void tl_byte_table_make(tl_byte_table& t, const unsigned char one[256]);

// Decodes n bytes from src to dst (the same place, or apart) through t.
void tl_decode_bytes(const tl_byte_table& t, char* dst, const char* src, size_t n);

// The one record cutter. Returns the length of the record piece that starts
// at p, of the avail bytes there: through the first line end within 255
// bytes, else 255 bytes; at the end of the input (at_end) whatever is left
// makes the last piece. Returns 0 when more bytes are needed to tell.
inline size_t tl_cut_piece(const char* p, size_t avail, bool at_end) {
  constexpr size_t kMax = 255;
  const void* nl = std::memchr(p, '\n', avail < kMax ? avail : kMax);
  if (nl != nullptr) return static_cast<size_t>(static_cast<const char*>(nl) - p) + 1;
  if (avail >= kMax) return kMax;
  return at_end ? avail : 0;
}

// Returns the end of the last whole piece among the n bytes at p, which
// start at a piece's start: after the last line end, then in whole pieces
// of 255 bytes (every line end ends a piece, and pieces never hold one
// before their end).
inline size_t tl_last_boundary(const char* p, size_t n) {
  const void* nl = n > 0 ? memrchr(p, '\n', n) : nullptr;
  const size_t b = nl != nullptr ? static_cast<size_t>(static_cast<const char*>(nl) - p) + 1 : 0;
  return b + (n - b) / 255 * 255;
}

// Gives each NUL byte among the n at p as a blank: a NUL would end a
// record's text early.
inline void tl_blank_nuls(char* p, size_t n) {
  for (char* z = static_cast<char*>(std::memchr(p, '\0', n)); z != nullptr;
       z = static_cast<char*>(std::memchr(z, '\0', static_cast<size_t>(p + n - z)))) {
    *z = ' ';
  }
}

// Gives each NUL byte among the n bytes (at most 255) of the piece at p as
// a blank, setting bit i % 64 of mask[i / 64] (zeroed beforehand) for each
// byte i that was one, for --check. Returns true when there was one.
inline bool tl_blank_piece_nuls(char* p, size_t n, uint64_t mask[4]) {
  bool any = false;
  for (char* z = static_cast<char*>(std::memchr(p, '\0', n)); z != nullptr;
       z = static_cast<char*>(std::memchr(z, '\0', static_cast<size_t>(p + n - z)))) {
    *z = ' ';
    const size_t i = static_cast<size_t>(z - p);
    mask[i / 64] |= uint64_t{1} << (i % 64);
    any = true;
  }
  return any;
}

class tl_lines {
 public:
  // Bytes held in the block; a piece is at most kMaxPiece of them.
  static constexpr size_t kBlock = 1 << 16;
  static constexpr size_t kMaxPiece = 255;

  // size: the input's size in bytes when known (else -1); a small input
  // gets a block no larger than it needs.
  explicit tl_lines(long long size = -1);
  virtual ~tl_lines();
  tl_lines(const tl_lines&) = delete;
  tl_lines& operator=(const tl_lines&) = delete;

  // Reads ahead until at least want bytes are held, the input ends or fails.
  // Returns the bytes held (undecoded, unframed: call it before any record).
  size_t peek(size_t want);
  // The bytes held, from the start of the input while no record was read.
  const char* held() const { return buf_.get() + pos_; }
  size_t held_count() const { return end_ - pos_; }

  // Decodes every byte through table from here on, the bytes
  // already held included. Call before the first record.
  void decode_with(const tl_byte_table* table);
  // Says that raw_read gives the bytes from here on decoded already.
  void source_decodes() { source_decodes_ = true; }
  // Frames the bytes from here on in records of lrecl bytes (1 to 4096), each
  // followed by CR LF, a last shorter one too. Call before the first record,
  // after decode_with if both are wanted.
  void frame_fixed(size_t lrecl);

  // Delivers the next piece in place, NUL-terminated, valid until the next
  // call. Returns 0 for a piece, -1 at the end or when reading failed (then
  // read_errno() is not 0).
  int next(const char** rec, unsigned long* len);
  // Copies up to n of the bytes that follow the last piece delivered (the
  // decoded and framed stream, as next() would cut it) into dst, without
  // cutting them. Returns the count, 0 at the end, -1 when reading failed
  // (then read_errno() is not 0). Pieces and bytes may not be mixed after it.
  long take(char* dst, size_t n);
  // Returns, for the piece delivered last, which of its bytes were NUL
  // before they were given as blanks (bit i % 64 of word i / 64 for byte
  // i), or null when none was.
  const uint64_t* nul_mask() const { return piece_nul_ ? nul_mask_ : nullptr; }
  // Returns true when the bytes are decoded or framed on their way.
  bool reshapes() const { return table_ != nullptr || lrecl_ > 0; }
  // Returns the errno of the failed read, 0 while none failed.
  int read_errno() const { return errno_; }
  // Returns the decoding table (null for none) and the framing's record
  // length (0 for none).
  const tl_byte_table* decoding() const { return table_; }
  size_t framing() const { return lrecl_; }
  // Returns true when take() would read the input's raw bytes straight on:
  // none held, none reshaped, not at the end, no failure.
  bool drained() const { return pos_ == end_ && !eof_ && errno_ == 0 && !reshapes(); }
  // Takes on a failed read of the input by another reader (err an errno):
  // read_errno() returns it from then on.
  void read_failed_elsewhere(int err) { errno_ = err; }

 protected:
  // Reads up to n raw bytes of the input into buf. Returns the count, 0 at
  // the end, -1 on failure (errno set).
  virtual long raw_read(char* buf, size_t n) = 0;

 private:
  long fill();
  long read_decoded(char* buf, size_t n);
  long fill_framed();

  size_t block_;                 // bytes the block holds, at most kBlock
  std::unique_ptr<char[]> buf_;  // block_ + 1: room for the NUL after the last piece
  size_t pos_ = 0, end_ = 0;
  bool eof_ = false;
  bool nul_ = false;  // the block holds a NUL byte somewhere
  bool piece_nul_ = false;  // the last piece held one
  uint64_t nul_mask_[4] = {};  // where, for --check
  int errno_ = 0;
  char* held_at_ = nullptr;  // the byte under the NUL of the last piece
  char held_ = '\0';
  const tl_byte_table* table_ = nullptr;
  bool source_decodes_ = false;
  // Fixed-length framing: raw bytes staged before the line ends are put in.
  size_t lrecl_ = 0, col_ = 0;
  std::unique_ptr<char[]> stage_;
  size_t stage_pos_ = 0, stage_end_ = 0;
  size_t stage_decoded_ = 0;  // staged bytes decoded already (held before framing)
  bool stage_eof_ = false;
};

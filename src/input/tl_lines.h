// Record pieces from a stream of bytes: lines cut as the file reader cuts
// them (through the line end, at most 255 bytes, a NUL given as a blank),
// after an optional EBCDIC decoding and fixed-length framing of the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
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

class tl_lines {
 public:
  // Bytes held in the block; a piece is at most kMaxPiece of them.
  static constexpr size_t kBlock = 1 << 16;
  static constexpr size_t kMaxPiece = 255;

  tl_lines();
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
  // Returns, for the piece delivered last, which of its bytes were NUL
  // before they were given as blanks (bit i % 64 of word i / 64 for byte
  // i), or null when none was.
  const uint64_t* nul_mask() const { return piece_nul_ ? nul_mask_ : nullptr; }
  // Returns the errno of the failed read, 0 while none failed.
  int read_errno() const { return errno_; }

 protected:
  // Reads up to n raw bytes of the input into buf. Returns the count, 0 at
  // the end, -1 on failure (errno set).
  virtual long raw_read(char* buf, size_t n) = 0;

 private:
  long fill();
  long read_decoded(char* buf, size_t n);
  long fill_framed();

  std::unique_ptr<char[]> buf_;  // kBlock + 1: room for the NUL after the last piece
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

// The record pieces of a byte stream. The cutting is that of the file reader
// (tl_read), so that every input gives the records a plain file would.
#include "tl_lines.h"

#include <cerrno>
#include <cstring>

#include "tl_globals.h"

void tl_byte_table_make(tl_byte_table& t, const unsigned char one[256]) {
  std::memcpy(t.one, one, sizeof t.one);
  // Each pair as memory holds it, so that the decoding is the same on either
  // byte order.
  for (int a = 0; a < 256; a++) {
    for (int b = 0; b < 256; b++) {
      const unsigned char in[2] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b)};
      const unsigned char out[2] = {one[a], one[b]};
      uint16_t at, to;
      std::memcpy(&at, in, 2);
      std::memcpy(&to, out, 2);
      t.two[at] = to;
    }
  }
}

namespace {

inline uint64_t decode8(const uint16_t* two, uint64_t x) {
  return static_cast<uint64_t>(two[x & 0xffff]) | static_cast<uint64_t>(two[(x >> 16) & 0xffff]) << 16 |
         static_cast<uint64_t>(two[(x >> 32) & 0xffff]) << 32 | static_cast<uint64_t>(two[x >> 48]) << 48;
}

}  // namespace

// Sixteen bytes per turn, in two words of four pair lookups each: about 1.5
// times as fast as a lookup per byte.
void tl_decode_bytes(const tl_byte_table& t, char* dst, const char* src, size_t n) {
  const uint16_t* two = t.two;
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    uint64_t x, y;
    std::memcpy(&x, src + i, 8);
    std::memcpy(&y, src + i + 8, 8);
    x = decode8(two, x);
    y = decode8(two, y);
    std::memcpy(dst + i, &x, 8);
    std::memcpy(dst + i + 8, &y, 8);
  }
  for (; i < n; i++) dst[i] = static_cast<char>(t.one[static_cast<unsigned char>(src[i])]);
}

namespace {
constexpr size_t kStage = 1 << 16;

// Returns the block for an input of size bytes (-1: unknown): room for all
// of a small one and its framing, else kBlock.
size_t block_for(long long size) {
  constexpr long long kLeast = 4096;
  if (size < 0 || size >= static_cast<long long>(tl_lines::kBlock) / 2 - kLeast) return tl_lines::kBlock;
  return static_cast<size_t>(2 * size + kLeast);
}

}  // namespace

tl_lines::tl_lines(long long size) : block_(block_for(size)), buf_(new char[block_ + 1]) {}
tl_lines::~tl_lines() = default;

size_t tl_lines::peek(size_t want) {
  if (want > block_) want = block_;
  while (end_ - pos_ < want && !eof_ && errno_ == 0) {
    if (fill() < 0) break;
  }
  return end_ - pos_;
}

void tl_lines::decode_with(const tl_byte_table* table) {
  table_ = table;
  tl_decode_bytes(*table_, buf_.get() + pos_, buf_.get() + pos_, end_ - pos_);
  nul_ = std::memchr(buf_.get() + pos_, '\0', end_ - pos_) != nullptr;
}

void tl_lines::frame_fixed(size_t lrecl) {
  lrecl_ = lrecl;
  col_ = 0;
  stage_.reset(new char[block_ < kStage ? block_ : kStage]);
  // What is held is raw input still to be framed.
  stage_end_ = end_ - pos_;
  std::memcpy(stage_.get(), buf_.get() + pos_, stage_end_);
  stage_decoded_ = table_ != nullptr ? stage_end_ : 0;  // decode_with has been there
  stage_pos_ = 0;
  stage_eof_ = eof_;
  pos_ = end_ = 0;
  eof_ = false;
}

long tl_lines::read_decoded(char* buf, size_t n) {
  long r;
  do {
    r = raw_read(buf, n);
  } while (r < 0 && errno == EINTR && !tl_shutdown);
  if (r > 0 && table_ != nullptr && !source_decodes_ && lrecl_ == 0) tl_decode_bytes(*table_, buf, buf, static_cast<size_t>(r));
  return r;
}

// Puts framed bytes behind those held: each record of lrecl_ bytes gets CR
// LF behind it, so the pieces are those of the same records as CR LF lines.
long tl_lines::fill_framed() {
  size_t before = end_;
  while (end_ < block_) {
    if (col_ == lrecl_) {
      if (block_ - end_ < 2) break;
      buf_[end_++] = '\r';
      buf_[end_++] = '\n';
      col_ = 0;
      continue;
    }
    if (stage_pos_ == stage_end_) {
      if (stage_eof_) {
        // A last record shorter than the others is kept, and ended too.
        if (col_ > 0) col_ = lrecl_;
        if (col_ == lrecl_) continue;
        break;
      }
      if (end_ > before) break;  // hand on what is framed before waiting for more
      long r = read_decoded(stage_.get(), block_ < kStage ? block_ : kStage);
      if (r < 0) return -1;
      stage_pos_ = 0;
      stage_decoded_ = 0;
      stage_end_ = static_cast<size_t>(r);
      if (r == 0) stage_eof_ = true;
      continue;
    }
    size_t k = lrecl_ - col_;
    if (k > stage_end_ - stage_pos_) k = stage_end_ - stage_pos_;
    if (k > block_ - end_) k = block_ - end_;
    if (table_ != nullptr && !source_decodes_ && stage_pos_ >= stage_decoded_) {
      tl_decode_bytes(*table_, buf_.get() + end_, stage_.get() + stage_pos_, k);
    } else {
      std::memcpy(buf_.get() + end_, stage_.get() + stage_pos_, k);
    }
    end_ += k;
    stage_pos_ += k;
    col_ += k;
  }
  return static_cast<long>(end_ - before);
}

// Reads more bytes behind those held. Returns >0 bytes added, 0 at the end,
// -1 on a read error (errno_ set).
long tl_lines::fill() {
  if (pos_ > 0) {
    std::memmove(buf_.get(), buf_.get() + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
  }
  if (errno_ != 0) return -1;
  long r = lrecl_ > 0 ? fill_framed() : read_decoded(buf_.get() + end_, block_ - end_);
  if (r < 0) {
    errno_ = errno != 0 ? errno : EIO;
    return -1;
  }
  if (r == 0) {
    eof_ = true;
    return 0;
  }
  end_ += lrecl_ > 0 ? 0 : static_cast<size_t>(r);
  // One look per block spares a look per record in the usual NUL-free input.
  nul_ = std::memchr(buf_.get(), '\0', end_) != nullptr;
  return r;
}

int tl_lines::next(const char** rec, unsigned long* len) {
  if (held_at_ != nullptr) *held_at_ = held_;
  held_at_ = nullptr;
  size_t n = 0;
  for (;;) {
    n = tl_cut_piece(buf_.get() + pos_, end_ - pos_, eof_);
    if (n > 0 || eof_) break;
    if (fill() < 0) return -1;
  }
  if (n == 0) return -1;
  char* p = buf_.get() + pos_;
  // A NUL would end the record text early; it is given as a blank, and its
  // place noted.
  if (piece_nul_) {
    piece_nul_ = false;
    for (uint64_t& w : nul_mask_) w = 0;
  }
  if (nul_) piece_nul_ = tl_blank_piece_nuls(p, n, nul_mask_);
  held_at_ = p + n;
  held_ = *held_at_;
  *held_at_ = '\0';
  *rec = p;
  *len = n;
  pos_ += n;
  return 0;
}

long tl_lines::take(char* dst, size_t n) {
  if (held_at_ != nullptr) *held_at_ = held_;
  held_at_ = nullptr;
  if (pos_ == end_ && !eof_ && lrecl_ == 0 && errno_ == 0) {
    // Nothing held: straight from the input into dst.
    long r = read_decoded(dst, n);
    if (r < 0) {
      errno_ = errno != 0 ? errno : EIO;
      return -1;
    }
    if (r == 0) eof_ = true;
    return r;
  }
  if (pos_ == end_) {
    if (eof_) return 0;
    if (fill() < 0) return -1;
    if (pos_ == end_) return 0;
  }
  const size_t k = end_ - pos_ < n ? end_ - pos_ : n;
  std::memcpy(dst, buf_.get() + pos_, k);
  pos_ += k;
  return static_cast<long>(k);
}

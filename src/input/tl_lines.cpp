// The record pieces of a byte stream. The cutting is that of the file reader
// (tl_read), so that every input gives the records a plain file would.
#include "tl_lines.h"

#include <cerrno>
#include <cstring>

#include "tl_globals.h"

// The table comes as a parameter: a store through a char pointer may alias
// any member, so a member pointer would be loaded again for every byte; eight
// loads go ahead of their stores for the same reason.
void tl_decode_bytes(const unsigned char* t, char* dst, const char* src, size_t n) {
  auto* d = reinterpret_cast<unsigned char*>(dst);
  auto* q = reinterpret_cast<const unsigned char*>(src);
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    unsigned char a0 = t[q[i]], a1 = t[q[i + 1]], a2 = t[q[i + 2]], a3 = t[q[i + 3]];
    unsigned char a4 = t[q[i + 4]], a5 = t[q[i + 5]], a6 = t[q[i + 6]], a7 = t[q[i + 7]];
    d[i] = a0, d[i + 1] = a1, d[i + 2] = a2, d[i + 3] = a3;
    d[i + 4] = a4, d[i + 5] = a5, d[i + 6] = a6, d[i + 7] = a7;
  }
  for (; i < n; i++) d[i] = t[q[i]];
}

namespace {
constexpr size_t kStage = 1 << 16;

}  // namespace

tl_lines::tl_lines() : buf_(new char[kBlock + 1]) {}
tl_lines::~tl_lines() = default;

size_t tl_lines::peek(size_t want) {
  if (want > kBlock) want = kBlock;
  while (end_ - pos_ < want && !eof_ && errno_ == 0) {
    if (fill() < 0) break;
  }
  return end_ - pos_;
}

void tl_lines::decode_with(const unsigned char* table) {
  table_ = table;
  tl_decode_bytes(table_, buf_.get() + pos_, buf_.get() + pos_, end_ - pos_);
  nul_ = std::memchr(buf_.get() + pos_, '\0', end_ - pos_) != nullptr;
}

void tl_lines::frame_fixed(size_t lrecl) {
  lrecl_ = lrecl;
  col_ = 0;
  stage_.reset(new char[kStage]);
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
  if (r > 0 && table_ != nullptr && !source_decodes_ && lrecl_ == 0) tl_decode_bytes(table_, buf, buf, static_cast<size_t>(r));
  return r;
}

// Puts framed bytes behind those held: each record of lrecl_ bytes gets CR
// LF behind it, so the pieces are those of the same records as CR LF lines.
long tl_lines::fill_framed() {
  size_t before = end_;
  while (end_ < kBlock) {
    if (col_ == lrecl_) {
      if (kBlock - end_ < 2) break;
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
      long r = read_decoded(stage_.get(), kStage);
      if (r < 0) return -1;
      stage_pos_ = 0;
      stage_decoded_ = 0;
      stage_end_ = static_cast<size_t>(r);
      if (r == 0) stage_eof_ = true;
      continue;
    }
    size_t k = lrecl_ - col_;
    if (k > stage_end_ - stage_pos_) k = stage_end_ - stage_pos_;
    if (k > kBlock - end_) k = kBlock - end_;
    if (table_ != nullptr && !source_decodes_ && stage_pos_ >= stage_decoded_) {
      tl_decode_bytes(table_, buf_.get() + end_, stage_.get() + stage_pos_, k);
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
  long r = lrecl_ > 0 ? fill_framed() : read_decoded(buf_.get() + end_, kBlock - end_);
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
    size_t avail = end_ - pos_;
    size_t look = avail < kMaxPiece ? avail : kMaxPiece;
    const void* nl = std::memchr(buf_.get() + pos_, '\n', look);
    if (nl != nullptr) {
      n = static_cast<size_t>(static_cast<const char*>(nl) - (buf_.get() + pos_)) + 1;
      break;
    }
    if (avail >= kMaxPiece) {
      n = kMaxPiece;
      break;
    }
    if (eof_) {
      n = avail;  // a last line without a line end is still a record
      break;
    }
    if (fill() < 0) return -1;
  }
  if (n == 0) return -1;
  char* p = buf_.get() + pos_;
  // A NUL would end the record text early; it is given as a blank.
  for (char* z = nul_ ? static_cast<char*>(std::memchr(p, '\0', n)) : nullptr; z != nullptr;
       z = static_cast<char*>(std::memchr(z, '\0', static_cast<size_t>(p + n - z)))) {
    *z = ' ';
  }
  held_at_ = p + n;
  held_ = *held_at_;
  *held_at_ = '\0';
  *rec = p;
  *len = n;
  pos_ += n;
  return 0;
}

// The record cutting of byte streams: framing and decoding over input that
// arrives in pieces of every size, and read failures.
#include "tl_lines.h"

#include <cerrno>
#include <memory>
#include <random>

#include "tl_testutil.h"

namespace {

// Bytes handed on in pieces of 1 to max_piece bytes, failing with err once
// fail_at bytes are given (never when fail_at is npos); size is the size the
// input was said to have, which sizes the block.
class chunked : public tl_lines {
 public:
  chunked(std::string s, size_t max_piece, unsigned seed, size_t fail_at = std::string::npos, int err = EIO,
          long long size = -1)
      : tl_lines(size), s_(std::move(s)), max_(max_piece), rng_(seed), fail_at_(fail_at), err_(err) {}
  int eintr = 0;  // EINTRs still to give before the next piece

 protected:
  long raw_read(char* buf, size_t n) override {
    if (eintr > 0) {
      eintr--;
      errno = EINTR;
      return -1;
    }
    if (pos_ >= fail_at_) {
      errno = err_;
      return -1;
    }
    size_t k = std::min({n, s_.size() - pos_, 1 + rng_() % max_, fail_at_ - pos_});
    std::memcpy(buf, s_.data() + pos_, k);
    pos_ += k;
    return static_cast<long>(k);
  }

 private:
  std::string s_;
  size_t max_;
  std::minstd_rand rng_;
  size_t pos_ = 0, fail_at_;
  int err_;
};

// The pieces of the line cutting, done the simple way.
std::vector<std::string> cut(const std::string& s) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < s.size()) {
    size_t nl = s.find('\n', i);
    size_t n = std::min(nl == std::string::npos ? s.size() - i : nl - i + 1, size_t{255});
    out.push_back(s.substr(i, n));
    i += n;
  }
  for (auto& p : out) {
    for (char& c : p) c = c == '\0' ? ' ' : c;
  }
  return out;
}

std::vector<std::string> all(tl_lines& l) {
  std::vector<std::string> out;
  const char* rec;
  unsigned long len;
  while (l.next(&rec, &len) == 0) {
    EXPECT_EQ(len, std::strlen(rec));
    out.emplace_back(rec, len);
  }
  return out;
}

// Random bytes with some line ends and NULs, over several blocks.
std::string bytes(size_t n, unsigned seed) {
  std::minstd_rand r(seed);
  std::string s(n, 'x');
  for (char& c : s) {
    unsigned v = r() % 64;
    c = v == 0 ? '\n' : v == 1 ? '\0' : v == 2 ? '\r' : static_cast<char>('A' + v % 26);
  }
  return s;
}

// Whatever size the input was said to have: a file may grow after it was
// looked at, and a small block holds fewer bytes than the input.
TEST(Lines, CutsAsTheFileReaderWhateverThePiecesOfInput) {
  for (long long size : {-1LL, 0LL, 5000LL}) {
    for (size_t max : {size_t{1}, size_t{7}, size_t{5000}, size_t{1} << 20}) {
      std::string s = bytes(300000, static_cast<unsigned>(max));
      chunked l(s, max, 1, std::string::npos, EIO, size);
      EXPECT_EQ(cut(s), all(l)) << max << " " << size;
    }
  }
}

TEST(Lines, FixedFramingAsIfEachRecordEndedWithCrLf) {
  for (size_t lrecl : {size_t{1}, size_t{225}, size_t{254}, size_t{256}, size_t{4096}}) {
    for (size_t max : {size_t{3}, size_t{70000}}) {
      for (long long size : {-1LL, 0LL}) {
        // Not a multiple of the length: the last short record is kept.
        std::string s = bytes(200000 + 17, static_cast<unsigned>(lrecl));
        std::string framed;
        for (size_t i = 0; i < s.size(); i += lrecl) framed += s.substr(i, lrecl) + "\r\n";
        chunked l(s, max, 2, std::string::npos, EIO, size);
        l.peek(512);  // the bytes held before framing starts are framed too
        l.frame_fixed(lrecl);
        EXPECT_EQ(cut(framed), all(l)) << lrecl << " " << max << " " << size;
      }
    }
  }
}

TEST(Lines, DecodingEveryByteAtEveryLengthAndPlace) {
  // A permutation with no pattern between neighbouring bytes, so that a
  // pair looked up in the wrong order shows.
  unsigned char perm[256];
  for (int b = 0; b < 256; b++) perm[b] = static_cast<unsigned char>(b * 167 + 13);
  auto t = std::make_unique<tl_byte_table>();
  tl_byte_table_make(*t, perm);
  std::string all_bytes;
  for (int a = 0; a < 256; a++) {
    for (int b = 0; b < 256; b += 37) all_bytes += {static_cast<char>(a), static_cast<char>(b)};
  }
  std::string want = all_bytes;
  for (char& c : want) c = static_cast<char>(perm[static_cast<unsigned char>(c)]);
  for (size_t start = 0; start < 9; start++) {
    for (size_t n = 0; n <= 40; n++) {
      std::string apart(n, '\0'), in_place = all_bytes.substr(start * 61, n);
      tl_decode_bytes(*t, &apart[0], all_bytes.data() + start * 61, n);
      tl_decode_bytes(*t, &in_place[0], in_place.data(), n);
      EXPECT_EQ(want.substr(start * 61, n), apart) << start << " " << n;
      EXPECT_EQ(apart, in_place) << start << " " << n;
    }
  }
  std::string whole(all_bytes.size(), '\0');
  tl_decode_bytes(*t, &whole[0], all_bytes.data(), all_bytes.size());
  EXPECT_EQ(want, whole);
}

TEST(Lines, DecodingCoversTheBytesHeldAndThoseAfter) {
  unsigned char rot[256];
  for (int b = 0; b < 256; b++) rot[b] = static_cast<unsigned char>(b ^ 0x20);
  auto t = std::make_unique<tl_byte_table>();
  tl_byte_table_make(*t, rot);
  std::string s = bytes(100000, 9), want = s;
  for (char& c : want) c = static_cast<char>(rot[static_cast<unsigned char>(c)]);
  chunked l(s, 1000, 3);
  EXPECT_LE(512u, l.peek(512));  // at least what is asked for
  l.decode_with(t.get());
  l.frame_fixed(225);
  std::string framed;
  for (size_t i = 0; i < want.size(); i += 225) framed += want.substr(i, 225) + "\r\n";
  EXPECT_EQ(cut(framed), all(l));
}

TEST(Lines, ReadFailureAfterTheRecordsBeforeIt) {
  std::string s = std::string(100, 'a') + "\n" + std::string(100, 'b') + "\n" + std::string(50, 'c');
  chunked l(s, 10, 4, 230);
  l.eintr = 3;  // interrupted reads are tried again
  std::vector<std::string> got = all(l);
  ASSERT_EQ(2u, got.size());
  EXPECT_EQ(s.substr(101, 101), got[1]);
  EXPECT_EQ(EIO, l.read_errno());
  const char* rec;
  unsigned long len;
  EXPECT_EQ(-1, l.next(&rec, &len));  // and stays failed
}

TEST(Lines, EmptyInput) {
  chunked l("", 10, 5);
  EXPECT_EQ(0u, l.peek(512));
  l.frame_fixed(225);
  EXPECT_TRUE(all(l).empty());
  EXPECT_EQ(0, l.read_errno());
}

}  // namespace

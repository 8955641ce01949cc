// The per-record output buffer that formatters append to. It never writes
// past its capacity: what does not fit is dropped and `full` is set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Marks the hot copying below, whose few size branches tell a coverage-guided
// fuzzer nothing: left out of its coverage, each input costs the fuzzer less.
#if defined(__clang__)
#define TL_NO_COVERAGE __attribute__((no_sanitize("coverage")))
#else
#define TL_NO_COVERAGE
#endif

// Sixteen bytes from s to d, as one vector move where the machine has them.
TL_NO_COVERAGE inline void tl_copy16(char* d, const char* s) {
  struct b16 {
    char c[16];
  } v;
  std::memcpy(&v, s, 16);
  std::memcpy(d, &v, 16);
}

// Copies n bytes; short copies (the usual names and values) stay inline
// instead of calling the library, without touching a byte outside either range.
TL_NO_COVERAGE inline void tl_copy(char* d, const char* s, size_t n) {
  if (n > 32) {
    std::memcpy(d, s, n);
  } else if (n >= 16) {
    uint64_t a, b, c, e;
    std::memcpy(&a, s, 8);
    std::memcpy(&b, s + 8, 8);
    std::memcpy(&c, s + n - 16, 8);
    std::memcpy(&e, s + n - 8, 8);
    std::memcpy(d, &a, 8);
    std::memcpy(d + 8, &b, 8);
    std::memcpy(d + n - 16, &c, 8);
    std::memcpy(d + n - 8, &e, 8);
  } else if (n >= 8) {
    uint64_t a, b;
    std::memcpy(&a, s, 8);
    std::memcpy(&b, s + n - 8, 8);
    std::memcpy(d, &a, 8);
    std::memcpy(d + n - 8, &b, 8);
  } else if (n >= 4) {
    uint32_t a, b;
    std::memcpy(&a, s, 4);
    std::memcpy(&b, s + n - 4, 4);
    std::memcpy(d, &a, 4);
    std::memcpy(d + n - 4, &b, 4);
  } else if (n > 0) {
    d[0] = s[0];
    d[n / 2] = s[n / 2];
    d[n - 1] = s[n - 1];
  }
}

// A piece of text to append: pointer and length.
struct tl_span {
  const char* p;
  size_t n;
};

// The minus sign of a negative amount, or nothing. The array is longer than
// the sign so that no copy path can be seen reading past it.
inline constexpr char kTlMinusSign[33] = "-";
inline tl_span tl_minus(bool negative) { return {kTlMinusSign, negative ? 1u : 0u}; }

// A literal as a piece, measured at compile time.
template <size_t N>
constexpr tl_span tl_lit(const char (&s)[N]) {
  return {s, N - 1};
}

struct tl_out {
  char* buf;      // cap bytes; always NUL-terminated
  size_t len;     // end of the text held
  size_t cap;     // capacity in bytes, the terminating NUL included
  bool full;      // set when an append did not fit
  size_t start;   // where the current record's text begins (0 unless a
                  // driver collects several records in one buffer)

  // Makes an empty buffer over storage of cap bytes (cap >= 1).
  tl_out(char* storage, size_t capacity) : buf(storage), len(0), cap(capacity), full(false), start(0) {
    buf[0] = '\0';
  }

  // Takes over storage that already holds `used` bytes of NUL-terminated text.
  tl_out(char* storage, size_t capacity, size_t used)
      : buf(storage), len(used), cap(capacity), full(false), start(0) {}

  // Empties the current record's text (no clearing of the storage is needed).
  void clear() {
    len = start;
    full = false;
    buf[len] = '\0';
  }

  // Appends n bytes of s; drops what does not fit and sets full.
  TL_NO_COVERAGE void put(const char* s, size_t n) {
    size_t room = cap - 1 - len;
    if (n > room) {
      n = room;
      full = true;
    }
    tl_copy(buf + len, s, n);
    len += n;
    buf[len] = '\0';
  }
  void put(const char* s) { put(s, std::strlen(s)); }
  TL_NO_COVERAGE void put(char c) {
    if (len + 1 < cap) {
      buf[len++] = c;
      buf[len] = '\0';
    } else {
      full = true;
    }
  }
  // Appends a string literal without measuring it at run time.
  template <size_t N>
  void lit(const char (&s)[N]) { put(s, N - 1); }

  // Appends the pieces in order, checking the room once; where they do not
  // all fit, appends what fits as put() does.
  template <class... Spans>
  TL_NO_COVERAGE void put_all(Spans... s) {
    size_t total = (s.n + ...);
    if (total <= cap - 1 - len) {
      char* d = buf + len;
      ((tl_copy(d, s.p, s.n), d += s.n), ...);
      len = static_cast<size_t>(d - buf);
      *d = '\0';
    } else {
      (put(s.p, s.n), ...);
    }
  }

  // Replaces the current record's text with n bytes of s.
  void set(const char* s, size_t n) {
    clear();
    put(s, n);
  }
};

// Appends a display name; a name that stayed null (no memory at start-up)
// is written as nothing.
inline void tl_put_name(tl_out& o, const char* name) {
  if (name != nullptr) o.put(name);
}

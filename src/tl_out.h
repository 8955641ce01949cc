// The per-record output buffer that formatters append to. It never writes
// past its capacity: what does not fit is dropped and `full` is set.
#pragma once

#include <cstddef>
#include <cstring>

struct tl_out {
  char* buf;      // cap bytes; always NUL-terminated
  size_t len;     // bytes of text held
  size_t cap;     // capacity in bytes, the terminating NUL included
  bool full;      // set when an append did not fit

  // Makes an empty buffer over storage of cap bytes (cap >= 1).
  tl_out(char* storage, size_t capacity) : buf(storage), len(0), cap(capacity), full(false) {
    buf[0] = '\0';
  }

  // Takes over storage that already holds `used` bytes of NUL-terminated text.
  tl_out(char* storage, size_t capacity, size_t used) : buf(storage), len(used), cap(capacity), full(false) {}

  // Empties the buffer (no clearing of the storage is needed).
  void clear() {
    len = 0;
    full = false;
    buf[0] = '\0';
  }

  // Appends n bytes of s; drops what does not fit and sets full.
  void put(const char* s, size_t n) {
    size_t room = cap - 1 - len;
    if (n > room) {
      n = room;
      full = true;
    }
    std::memcpy(buf + len, s, n);
    len += n;
    buf[len] = '\0';
  }
  void put(const char* s) { put(s, std::strlen(s)); }
  void put(char c) {
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

  // Replaces the contents with n bytes of s.
  void set(const char* s, size_t n) {
    clear();
    put(s, n);
  }
};

// Appends the record text right-aligned in at least six characters, as the
// "%6s" of the unknown-record notices does.
inline void tl_put_pad6(tl_out& o, const char* s, size_t n) {
  for (size_t i = n; i < 6; i++) o.put(' ');
  o.put(s, n);
}

// Shared pieces of the libFuzzer harnesses: start-up, settings drawn from
// input bytes, and a small well-formedness checker for the XML outputs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "tl_globals.h"
#include "tl_logging.h"
#include "tl_mrot.h"

// Where a failed check is told: a copy of standard error taken at start-up,
// because the program's own messages are silenced in a run (-close_fd_mask).
inline int fz_report_fd = 2;

// The harnesses' own loops over every byte of an input, left out of the
// coverage: they would cost each input a traced comparison per byte and
// tell the fuzzer nothing about the code under test.
#define FZ_NO_COVERAGE __attribute__((no_sanitize("coverage")))

// Returns a hash of the n bytes at p (FNV-1a), to draw settings from.
FZ_NO_COVERAGE inline uint32_t fz_hash(const uint8_t* p, size_t n) {
  uint32_t h = 2166136261u;
  for (size_t i = 0; i < n; i++) h = (h ^ p[i]) * 16777619u;
  return h;
}

// Gives each NUL byte of s as a blank, as the readers do.
FZ_NO_COVERAGE inline void fz_blank_nuls(std::string& s) {
  for (char& c : s) {
    if (c == '\0') c = ' ';
  }
}

// Stops the run with a message; libFuzzer keeps the input that did it.
#define FZ_CHECK(cond, ...)                                                         \
  do {                                                                              \
    if (!(cond)) {                                                                  \
      dprintf(fz_report_fd, "check failed: %s (%s:%d): ", #cond, __FILE__, __LINE__); \
      dprintf(fz_report_fd, __VA_ARGS__);                                           \
      dprintf(fz_report_fd, "\n");                                                  \
      abort();                                                                      \
    }                                                                               \
  } while (0)

// Settings to their start-up defaults, the display names made once, and the
// working directory moved to a fresh temporary one so that log files and
// output files named by the input stay there.
inline void fz_init() {
  static bool done = false;
  if (done) return;
  done = true;
  int fd = dup(2);
  if (fd >= 0) fz_report_fd = fd;
  const char* tmp = getenv("TMPDIR");
  static char dir[4096];
  snprintf(dir, sizeof dir, "%s/tapelens-fuzz.XXXXXX", tmp != nullptr && *tmp != '\0' ? tmp : "/tmp");
  if (mkdtemp(dir) == nullptr || chdir(dir) != 0) {
    perror("fuzz working directory");
    exit(1);
  }
  static char name[] = "tapelens";
  static char* argv[] = {name, nullptr};
  program_name = name;
  outfile = stdout;
  init_globals(argv);
  display_bill = display_detail = display_csr = 1;
  iDemrotStrings();
}

// Output formats as the settings code them; 5 and -1 name no format and
// behave as text.
inline int fz_format_code(unsigned k) {
  static const int codes[8] = {0, 1, 2, 3, 9, 5, -1, 1};
  return codes[k & 7];
}

// Sets every switch the formatters and drivers read from two bytes.
inline void fz_settings(uint8_t a, uint8_t b) {
  print_recno = a & 1;
  print_types = (a >> 1) & 1;
  print_raw = (a >> 2) & 1;
  print_common = (a >> 3) & 1;
  print_header = ((a >> 4) & 1) ^ 1;
  print_trailer = ((a >> 5) & 1) ^ 1;
  bodyonly_flag = (a >> 6) & 1;
  database_flag = (a >> 7) & 1;
  output_format = fz_format_code(b);
  display_bill = ((b >> 3) & 1) ^ 1;
  display_detail = ((b >> 4) & 1) ^ 1;
  display_csr = ((b >> 5) & 1) ^ 1;
  print_summarydetail = (b >> 6) & 1;
  debug_flag = 0;
  tl_shutdown = 0;
  tl_input_failures = 0;
  tl_output_failed = 0;
}

// The checker is not what is fuzzed: it is kept out of the coverage the
// fuzzer follows, which would cost more than the formatting it checks.
#ifdef __clang__
#pragma clang attribute push(__attribute__((no_sanitize("coverage"))), apply_to = function)
#endif
namespace fz_xml {

inline bool name_start(unsigned char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z' ? true : c == '_' || c == ':'; }
inline bool name_char(unsigned char c) {
  return name_start(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

struct checker {
  const char* s;
  size_t n;
  size_t i = 0;
  std::string why;

  checker(const char* text, size_t size) : s(text), n(size) {}

  bool fail(const char* what) {
    if (why.empty()) why = std::string(what) + " at byte " + std::to_string(i);
    return false;
  }
  // Byte by byte, not memcmp: the fuzzer hooks every memcmp of the process,
  // and the checker's own would cost a tenth of a run.
  bool starts(const char* lit) const {
    size_t k = 0;
    for (; lit[k] != '\0'; k++) {
      if (i + k >= n || s[i + k] != lit[k]) return false;
    }
    return true;
  }
  // One character of content: the XML 1.0 characters, UTF-8 encoded.
  bool character() {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      if (c < 0x20 && c != '\t' && c != '\r' && c != '\n') return fail("control character");
      i++;
      return true;
    }
    size_t k = c >= 0xf0 && c <= 0xf4 ? 4 : c >= 0xe0 ? (c < 0xf0 ? 3 : 0) : c >= 0xc2 ? 2 : 0;
    if (k == 0 || n - i < k) return fail("byte that is not UTF-8");
    uint32_t cp = c & (0xff >> (k + 1));
    for (size_t j = 1; j < k; j++) {
      unsigned char d = static_cast<unsigned char>(s[i + j]);
      if ((d & 0xc0) != 0x80) return fail("byte that is not UTF-8");
      cp = (cp << 6) | (d & 0x3f);
    }
    if ((k == 3 && cp < 0x800) || (k == 4 && (cp < 0x10000 || cp > 0x10ffff)) || (cp >= 0xd800 && cp <= 0xdfff) ||
        cp == 0xfffe || cp == 0xffff)
      return fail("character XML does not allow");
    i += k;
    return true;
  }
  bool reference() {
    static const char* const named[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"};
    for (const char* e : named) {
      if (starts(e)) {
        i += strlen(e);
        return true;
      }
    }
    if (!starts("&#")) return fail("& that starts no reference");
    i += 2;
    bool hex = i < n && s[i] == 'x';
    if (hex) i++;
    uint32_t v = 0;
    size_t digits = 0;
    while (i < n && s[i] != ';') {
      char c = s[i];
      int d = c >= '0' && c <= '9' ? c - '0' : hex && (c | 0x20) >= 'a' && (c | 0x20) <= 'f' ? (c | 0x20) - 'a' + 10 : -1;
      if (d < 0 || ++digits > 8) return fail("bad character reference");
      v = v * (hex ? 16 : 10) + static_cast<uint32_t>(d);
      i++;
    }
    if (i == n || digits == 0) return fail("bad character reference");
    i++;
    if ((v < 0x20 && v != 9 && v != 10 && v != 13) || (v >= 0xd800 && v <= 0xdfff) || v == 0xfffe || v == 0xffff ||
        v > 0x10ffff)
      return fail("character reference to a character XML does not allow");
    return true;
  }
  // A name as where it lies in the text: nothing copied.
  struct span {
    size_t at = 0, len = 0;
  };
  bool same(span a, span b) const {
    if (a.len != b.len) return false;
    for (size_t k = 0; k < a.len; k++) {
      if (s[a.at + k] != s[b.at + k]) return false;
    }
    return true;
  }
  bool name(span* out) {
    size_t b = i;
    if (i == n || !name_start(static_cast<unsigned char>(s[i]))) return fail("bad name");
    while (i < n && name_char(static_cast<unsigned char>(s[i]))) i++;
    if (out != nullptr) *out = span{b, i - b};
    return true;
  }
  void space() {
    while (i < n && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n')) i++;
  }
  bool comment() {
    i += 4;
    for (;;) {
      if (i == n) return fail("comment not closed");
      if (starts("--")) {
        if (starts("-->")) {
          i += 3;
          return true;
        }
        return fail("-- inside a comment");
      }
      if (!character()) return false;
    }
  }
  bool attribute_value() {
    if (i == n || (s[i] != '"' && s[i] != '\'')) return fail("attribute value not quoted");
    char q = s[i++];
    for (;;) {
      if (i == n) return fail("attribute value not closed");
      if (s[i] == q) {
        i++;
        return true;
      }
      if (s[i] == '<') return fail("< in an attribute value");
      if (s[i] == '&') {
        if (!reference()) return false;
      } else if (!character()) {
        return false;
      }
    }
  }

  // document: exactly one root element, and only white space, comments and
  // the declaration outside it.
  bool run(bool document) {
    span stack[64];
    size_t depth = 0;
    int roots = 0;
    if (starts("<?xml ")) {
      while (i < n && !starts("?>")) {
        if (!character()) return false;
      }
      if (i == n) return fail("declaration not closed");
      i += 2;
    }
    while (i < n) {
      if (s[i] == '<') {
        if (starts("<!--")) {
          if (!comment()) return false;
        } else if (starts("</")) {
          i += 2;
          span nm;
          if (!name(&nm)) return false;
          space();
          if (i == n || s[i] != '>') return fail("end tag not closed");
          i++;
          if (depth == 0 || !same(stack[depth - 1], nm)) return fail("end tag that matches no open element");
          depth--;
        } else {
          i++;
          span nm;
          if (!name(&nm)) return false;
          for (;;) {
            size_t before = i;
            space();
            if (i == n) return fail("start tag not closed");
            if (s[i] == '>' || starts("/>")) break;
            if (i == before) return fail("no space before an attribute");
            if (!name(nullptr)) return false;
            space();
            if (i == n || s[i] != '=') return fail("attribute without =");
            i++;
            space();
            if (!attribute_value()) return false;
          }
          if (depth == 0) roots++;
          if (s[i] == '>') {
            i++;
            if (depth == 64) return fail("elements nested too deep for the checker");
            stack[depth++] = nm;
          } else {
            i += 2;
          }
        }
      } else if (s[i] == '&') {
        if (depth == 0 && document) return fail("reference outside the root element");
        if (!reference()) return false;
      } else {
        if (starts("]]>")) return fail("]]> in character data");
        char c = s[i];
        if (depth == 0 && document && c != ' ' && c != '\t' && c != '\r' && c != '\n')
          return fail("text outside the root element");
        if (!character()) return false;
      }
    }
    if (depth != 0) return fail("element not closed at the end");
    if (document && roots != 1) return fail(roots == 0 ? "no root element" : "more than one root element");
    return true;
  }
};

}  // namespace fz_xml
#ifdef __clang__
#pragma clang attribute pop
#endif

// Returns "" when s is well-formed XML (document: a whole document with one
// root element; else a fragment of balanced elements and text), else what is
// wrong and where.
inline std::string fz_xml_problem(const std::string& s, bool document) {
  fz_xml::checker c(s.data(), s.size());
  c.run(document);
  return c.why;
}

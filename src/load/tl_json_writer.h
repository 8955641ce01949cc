// JSON Lines: one object per record,
//   {"file":NAME,"line":N,"key":"100101.00","type":RECORD_NAME,
//    "common":{NAME:VALUE,...},"fields":{NAME:VALUE,...}}
// with the shown fields (display_csv 1) in catalogue order, text values as
// cut (bytes of 0x80 and up as the Latin-1 characters of those codes, so
// every line is UTF-8), amounts as exact JSON numbers (a value that is no
// zoned-decimal number as a string of it as cut); the common block as cut,
// as every other format writes it; an unknown record is
// {"file":NAME,"line":N,"unknown":RAW}. No document header or trailer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tl_bdt.h"
#include "tl_sink.h"

// Appends the n bytes of p to out as the inside of a JSON string: quote and
// backslash escaped, control bytes as \u00XX, bytes of 0x80 and up as the
// two-byte UTF-8 forms of the Latin-1 characters. Returns the new end.
// out must have room for 6 * n bytes.
char* tl_json_escape(const char* p, size_t n, char* out);

// True when the n bytes need no escaping in a JSON string (no quote,
// backslash, control byte or byte of 0x80 and up).
bool tl_json_plain(const char* p, size_t n);

// Writes the zoned-decimal amount v (n >= 1 bytes, the last one carrying
// the overpunch sign) with dec implied decimals as an exact JSON number
// ("-637.6506", "5.55", "0"), no floating point. Returns the new end, or
// nullptr (nothing written) when v is not such an amount. out must have
// room for n + 3 bytes.
char* tl_json_amount(const char* v, size_t n, int dec, char* out);

class tl_json_writer final : public tl_sink {
 public:
  // Writes to out (standard output or the -o file); failures are recorded
  // in tl_output_failed as for every other format. out null: the run's
  // output stream, as it stands when written.
  explicit tl_json_writer(FILE* out);
  // Writes to out, or into memory for a worker thread.
  explicit tl_json_writer(tl_target out);
  ~tl_json_writer() override;

  // Runs the record loop without a virtual call per record.
  bool records(tl_document& doc, tl_filter filter, tl_hasher* hash, tl_doc_end& e) override {
    return tl_record_loop(*this, doc, filter, hash, e);
  }
  // Returns true unless the output has failed.
  bool begin(const tl_document& doc) override;
  // Returns false when the output has failed (reported by the caller).
  bool record(const char* rec, size_t len, unsigned long long line) override;
  // Returns false when the output has failed.
  bool end(const tl_doc_end& e) override;
  // Writes what is buffered; returns false when the output has failed.
  bool finish() override;
  // A writer into memory for a worker thread (out null), and taking back
  // what it wrote.
  std::unique_ptr<tl_sink> fork() override;
  bool join(tl_sink& worker) override;

 private:
  struct step {
    uint32_t text;  // offset in pool_ of the text before the value
    uint32_t text_len;
    uint16_t off;   // the value's place in the record
    uint16_t len;
    int16_t dec;    // -1 for text, else the implied decimals of an amount
    uint32_t quick;  // the same text with the quotes around text values
    uint32_t quick_len;  // joined to it, for records that need no escaping
  };
  struct layout {
    uint32_t first;  // index in steps_ of its first step
    uint32_t count;
    uint32_t common;  // of them, the common block's
    uint32_t tail;   // offset in pool_ of the text after the last value
    uint32_t tail_len;
    uint32_t quick_tail;  // the tail with the quotes joined to it
    uint32_t quick_tail_len;
    size_t reach;    // record length that holds every shown value
    size_t room;     // most bytes a record of the layout appends
  };

  void build();
  void flush();
  bool grow(size_t room);
  char* put_record(int rindex, const char* rec, size_t len, char* d);

  tl_target out_;  // memory for a worker, whose buffer then holds its block
  char* buf_;
  size_t cap_;
  bool no_memory_ = false;  // a worker's buffer could not grow
  size_t used_ = 0;
  std::string prefix_;  // {"file":NAME,"line": and room to copy it in sixteens
  size_t prefix_len_ = 0;
  unsigned built_ = 0;  // the generation of names the texts were made from
  std::string pool_;
  std::vector<step> steps_;
  std::vector<layout> layouts_;
  // The common block's steps after its first, when every layout has the
  // same (always with the catalogue's layouts): else empty.
  std::vector<step> shared_;
};

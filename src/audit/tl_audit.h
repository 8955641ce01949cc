// The audit modes: --check, --totals, --balance and --compare. Each is a
// sink of its own (one unit each); this header holds their factories and
// what they share: the plan of the shown amount fields of every layout, the
// output buffer and the forms.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tl_sink.h"
#include "tl_table_model.h"

// The form an audit mode writes.
enum class tl_audit_form { text, csv, html, json };

// A sink of an audit mode: it also says whether the run found anything that
// makes the exit status 3.
class tl_audit_sink : public tl_sink {
 public:
  tl_filter filter() const override { return tl_filter::audit; }
  bool writes_little() const override { return true; }
};

// --check in the text or JSON form.
std::unique_ptr<tl_audit_sink> tl_check_sink(tl_audit_form form);
// --totals (per input) or --totals=bill (per_bill), text, CSV or JSON.
std::unique_ptr<tl_audit_sink> tl_totals_sink(tl_audit_form form, bool per_bill);
// --balance=RULES, text or JSON. Reads the rules file first: returns null,
// with every fault of it printed on standard error, when it is not good.
std::unique_ptr<tl_audit_sink> tl_balance_sink(tl_audit_form form, const char* rules_path);
// --compare OLD NEW, text, CSV, HTML or JSON: the first file argument
// admitted is OLD, the second NEW.
std::unique_ptr<tl_audit_sink> tl_compare_sink(tl_audit_form form);

// One shown amount field of a layout, as the audit modes read it.
struct tl_amount_field {
  uint16_t off;       // 0-based first byte
  uint16_t len;       // width
  int16_t decimals;   // implied decimals
  int16_t start;      // 1-based first byte, as written
  const char* name;   // display name (never null)
};

// The shown amount fields of every layout, in catalogue order, made from
// the names in place when it is built (after --names).
class tl_amount_plan {
 public:
  tl_amount_plan();
  // Index of the first field of layout rindex in fields() and their number.
  size_t first(int rindex) const { return first_[static_cast<size_t>(rindex)]; }
  size_t count(int rindex) const { return first_[static_cast<size_t>(rindex) + 1] - first_[static_cast<size_t>(rindex)]; }
  const std::vector<tl_amount_field>& fields() const { return fields_; }
  // The longest display name of any field (for aligned tables).
  size_t name_width() const { return name_width_; }

 private:
  std::vector<size_t> first_;
  std::vector<tl_amount_field> fields_;
  size_t name_width_ = 5;
};

// Reads field f of a record whose value region (tl_value_region) is region
// bytes long, as tl_parse_amount does. Returns false when the record does not hold it whole or it is
// no number.
inline bool tl_read_amount(const char* rec, size_t region, const tl_amount_field& f, int64_t* units) {
  if (static_cast<size_t>(f.off) + f.len > region) return false;
  // A field with eight bytes of the record before it (every layout's field)
  // is read eight digits at a time throughout.
  if (f.off >= 8) return tl_parse_amount_in_record(rec + f.off, f.len, units);
  return tl_parse_amount(rec + f.off, f.len, units);
}

// True when the record is a bill's first record (100101.00), which starts a
// bill.
bool tl_is_bill_start(const char* rec, size_t len);

// The output of an audit mode: text gathered in a large buffer and written
// to the run's output stream in big pieces; a worker's (memory) is gathered
// whole until its block is joined.
class tl_audit_out {
 public:
  explicit tl_audit_out(bool memory = false) : memory_(memory) {
    if (!memory) buf_.reserve(kChunk + 4096);
  }
  std::string& text() { return buf_; }
  // Writes the buffer when it has grown past a chunk. Returns false when the
  // output has failed.
  bool maybe_flush() { return buf_.size() < kChunk || memory_ ? true : flush(); }
  // Writes what is buffered (not for memory). Returns false when the output
  // has failed.
  bool flush();
  // Appends what a worker gathered, emptying it. Returns false when the
  // output has failed.
  bool take(tl_audit_out& worker) {
    buf_ += worker.buf_;
    worker.buf_.clear();
    return maybe_flush();
  }
  // Appends pieces of text.
  void put(const char* p, size_t n) { buf_.append(p, n); }
  void put(const std::string& s) { buf_ += s; }
  void put(const char* s);
  void put(char c) { buf_ += c; }
  void num(unsigned long long v);
  void num_signed(long long v);
  // The exact decimal of units with decimals implied.
  void decimal(__int128 units, int decimals);
  // The n bytes of p as the inside of a JSON string (no quotes).
  void json(const char* p, size_t n);
  // The n bytes of p with control bytes, DEL and bytes from 0x80 up as \xHH.
  void printable(const char* p, size_t n);
  // The start of a finding of a record: {"file":"NAME","line":N in JSON,
  // NAME:LINE: KIND: in text (the kind follows in JSON as the caller
  // wants it).
  void where(bool json, const std::string& name, unsigned long long line, const char* kind) {
    if (json) {
      put("{\"file\":\"");
      this->json(name.data(), name.size());
      put("\",\"line\":");
      num(line);
      return;
    }
    printable(name.data(), name.size());
    put(':');
    num(line);
    put(": ");
    put(kind);
    put(": ");
  }
  // A CSV field, quoted when it needs it.
  void csv(const char* p, size_t n);
  // HTML text, &, < and > as entities.
  void html(const char* p, size_t n);
  // Pads with spaces to width w from the buffer position at.
  void pad_to(size_t at, size_t w);
  // Writes p right-aligned in width w.
  void right(const char* p, size_t n, size_t w);

 private:
  static constexpr size_t kChunk = 1 << 16;
  bool memory_;
  std::string buf_;
};

// Text helpers for the tables: a number or decimal as a string.
std::string tl_decimal_text(__int128 units, int decimals);
// 10 to the power n (0 <= n <= 38).
__int128 tl_pow10(int n);
// The key of a record as read, for unknown layouts: the identifier and,
// when the record reaches it, a full stop and the suffix.
size_t tl_key_as_read(const char* rec, size_t content, char* out);

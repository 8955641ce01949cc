// The format sinks: the document frames of the file driver, and records
// formatted straight into one large output buffer.
#include "tl_format_sink.h"

#include <cstring>
#include <string>

#include "tl_core.h"
#include "tl_file.h"
#include "tl_globals.h"
#include "tl_logging.h"

tl_format tl_format_chosen() {
  switch (output_format) {
    case 1:
      return database_flag == 1 ? tl_format::db : tl_format::csv;
    case 2:
      return tl_format::html;
    case 3:
      return tl_format::xml;
    case 9:
      return tl_format::anon;
    default:
      return tl_format::text;
  }
}

namespace {

// Output of one record: at most this many bytes (the NUL included); more is
// an error the record is reported for.
constexpr size_t kRecordOutput = 16384;
// Records are gathered into a buffer of this size before it is written. It
// starts at the smaller size and takes the full one when that fills, so that
// a short document never takes the large one; a worker's buffer, which holds
// its block's output whole, starts there too and doubles as it fills.
constexpr size_t kGather = 1 << 18;
constexpr size_t kFirstGather = 1 << 15;

// One instance per format, so that the per-record path knows it at compile
// time.
template <tl_format F>
class format_sink final : public tl_sink {
 public:
  format_sink(tl_target out, tl_db_state* db)
      : out_(out), db_(db != nullptr ? db : &own_db_),
        buf_(new char[kFirstGather + kRecordOutput]), o_(buf_.get(), kFirstGather + kRecordOutput) {}

  std::unique_ptr<tl_sink> fork() override { return std::unique_ptr<tl_sink>(new format_sink(tl_target::into_memory(), nullptr)); }

  bool carries() const override { return F != tl_format::text && F != tl_format::xml; }

  void save(tl_carry& c) const override {
    static_assert(sizeof(tl_csv_state) <= sizeof c.bytes && sizeof(tl_html_state) <= sizeof c.bytes &&
                      sizeof(tl_db_state) <= sizeof c.bytes,
                  "a format's state fits in the carried bytes");
    switch (F) {
      case tl_format::csv:
      case tl_format::anon:
        std::memcpy(c.bytes, &csv_, sizeof csv_);
        break;
      case tl_format::html:
        std::memcpy(c.bytes, &html_, sizeof html_);
        break;
      case tl_format::db:
        std::memcpy(c.bytes, db_, sizeof *db_);
        break;
      case tl_format::text:
      case tl_format::xml:
        break;
    }
  }

  void load(const tl_carry& c) override {
    switch (F) {
      case tl_format::csv:
      case tl_format::anon:
        std::memcpy(&csv_, c.bytes, sizeof csv_);
        break;
      case tl_format::html:
        std::memcpy(&html_, c.bytes, sizeof html_);
        break;
      case tl_format::db:
        std::memcpy(db_, c.bytes, sizeof *db_);
        break;
      case tl_format::text:
      case tl_format::xml:
        break;
    }
  }

  void skim(const char* rec, size_t len) override {
    switch (F) {
      case tl_format::csv:
      case tl_format::anon:
        tl_csv_skim(csv_, rec, len);
        break;
      case tl_format::html:
        tl_html_skim(html_, rec, len);
        break;
      case tl_format::db:
        tl_db_skim(*db_, rec, len);
        break;
      case tl_format::text:
      case tl_format::xml:
        break;
    }
  }

  bool join(tl_sink& worker) override {
    format_sink& w = static_cast<format_sink&>(worker);  // a fork of this one
    flush();
    if (!w.errors_.empty()) fputs(w.errors_.c_str(), stderr);
    tl_write(out_.file(), w.o_.buf, w.o_.len);
    w.o_.start = 0;
    w.o_.clear();
    w.errors_.clear();
    return true;
  }

  bool admit(const char* arg) override {
    if (debug_flag == 1) fprintf(stderr, "NOTE: using %s as BDT input filename\n", arg);
    if (debug_flag > 0) fprintf(stderr, "DEBUG: processing file = %s\n", arg);
    // "-" is standard input, there whatever the file system holds.
    if (std::strcmp(arg, "-") != 0 && iFileExists(arg) != 1) {
      fprintf(stderr, "ERROR: Unable to open BDT file:%s\n", arg);
      tl_log(-1, "ERROR: Unable to open BDT file:%s\n", arg);
      tl_input_failures++;
      return false;
    }
    if (debug_flag > 0) fprintf(stderr, "DEBUG: found NEW BDT file = %s\n", arg);
    return true;
  }

  bool records(tl_document& doc, tl_filter filter, tl_hasher* hash, tl_doc_end& e) override {
    return tl_record_loop(*this, doc, filter, hash, e);
  }

  bool begin(const tl_document&) override {
    if (out_.memory()) return true;  // a worker: the state comes with its block
    if (out_.file() != stdout) fputs("Tapelens version " TL_VERSION "\r\n", stderr);
    // Each document starts afresh, but for the database layout's index.
    csv_ = tl_csv_state();
    html_ = tl_html_state();
    header();
    if (debug_flag > 0) fputs("DEBUG: Starting ParseBDTfile loop\n", stderr);
    return true;
  }

  bool record(const char* rec, size_t len, unsigned long long) override {
    // More room than a record may take is always left, so that one that
    // takes too much is seen by its length.
    if (o_.cap - o_.len <= kRecordOutput) make_room();
    o_.start = o_.len;
    const int rc = format(rec, len, o_);
    if (rc != 0 || o_.len - o_.start >= kRecordOutput || o_.full) failed_record(rec, len);
    o_.start = 0;
    return true;
  }

  bool end(const tl_doc_end&) override {
    trailer();
    flush();
    return true;
  }

  bool finish() override {
    flush();
    return true;
  }

 private:
  // Drops the output of a record that failed or took too much room, and
  // reports it. Kept out of line: the per-record path stays small.
  [[gnu::noinline]] void failed_record(const char* rec, size_t len) {
    o_.clear();
    if (!out_.memory()) {
      fprintf(stderr, "Error in BDT msg = %lu [%s]\n", static_cast<unsigned long>(len), rec);
    } else {
      errors_ += "Error in BDT msg = " + std::to_string(len) + " [" + rec + "]\n";
    }
  }

  int format(const char* rec, size_t len, tl_out& o) {
    switch (F) {
      case tl_format::text:
        return tl_text_record(rec, len, o);
      case tl_format::csv:
      case tl_format::anon:
        return tl_csv_record(csv_, rec, len, o);
      case tl_format::db:
        return tl_db_record(*db_, rec, len, o);
      case tl_format::html:
        return tl_html_record(html_, rec, len, o);
      case tl_format::xml:
        return tl_xml_record(rec, len, o);
    }
    return 0;
  }

  // Makes room for a record: a worker keeps its block's output whole, in a
  // buffer that grows (rarely: its size stays for the blocks after), so that
  // it is copied only once, when it is written out; a sink writing out takes
  // the full gather size, then writes what it gathered.
  void make_room() {
    if (out_.memory() || o_.cap < kGather + kRecordOutput) {
      grow();
      return;
    }
    flush();
  }

  // Writes out what a writing sink gathered; a worker's stays until joined.
  void flush() {
    if (out_.memory()) return;
    tl_write(out_.file(), o_.buf, o_.len);
    o_.start = 0;
    o_.clear();
  }

  void grow() {
    // A writing sink's goes to the gather size at once: one copy.
    const size_t cap = out_.memory() ? o_.cap * 2 : kGather + kRecordOutput;
    std::unique_ptr<char[]> bigger(new char[cap]);
    std::memcpy(bigger.get(), o_.buf, o_.len + 1);
    buf_ = std::move(bigger);
    o_.buf = buf_.get();
    o_.cap = cap;
  }

  void header() {
    switch (F) {
      case tl_format::csv:
        if (print_header == 1) o_.lit(TL_VERSION_LINE);
        break;
      case tl_format::html:
        psHTML_tl_header(o_, TL_CUSTOMER, print_header);
        break;
      case tl_format::xml:
        o_.lit("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n");
        if (print_header == 1) {
          o_.lit("<!-- This file was generated by Tapelens version " TL_VERSION " \r\n"
                 "For more information visit " TL_WEBSITE " \r\n"
                 "-->\r\n");
        }
        o_.lit("<Tapelens>\r\n");
        break;
      case tl_format::db:
      case tl_format::anon:
        break;
      case tl_format::text:
        if (print_header == 1) o_.lit(TL_TEXT_HEADER);
        break;
    }
    flush();
  }

  void trailer() {
    flush();
    switch (F) {
      case tl_format::csv:
        if (print_trailer == 1) o_.lit(TL_CSV_TRAILER);
        break;
      case tl_format::html:
        // An inline table still open at the end of the input is closed first.
        if (tl_html_table_open(html_)) o_.lit("</table><BR>");
        if (print_trailer == 1) {
          o_.lit("<hr><br> This file was generated by Tapelens version " TL_VERSION " <br>"
                 "For more information visit <a href=\"" TL_WEBSITE "\">" TL_WEBSITE "</a>.<br>");
          if (bodyonly_flag != 1) o_.lit("</BODY></HTML>\n\n");
        } else {
          o_.lit("</BODY></HTML>\n\n");
        }
        break;
      case tl_format::xml:
        if (print_trailer == 1) o_.lit(TL_XML_TRAILER);
        o_.lit("</Tapelens>\n\n");
        break;
      case tl_format::db:
      case tl_format::anon:
        break;
      case tl_format::text:
        if (print_trailer == 1) o_.lit(TL_PLAIN_TRAILER);
        break;
    }
  }

  tl_target out_;
  tl_csv_state csv_;
  tl_html_state html_;
  tl_db_state own_db_;
  tl_db_state* db_;
  std::unique_ptr<char[]> buf_;
  tl_out o_;
  std::string errors_;  // a worker's messages of its block
};

}  // namespace

std::unique_ptr<tl_sink> tl_open_format_sink(FILE* out, tl_format f, tl_db_state* db) {
  const tl_target to = tl_target::stream(out);
  switch (f) {
    case tl_format::csv:
      return std::unique_ptr<tl_sink>(new format_sink<tl_format::csv>(to, db));
    case tl_format::db:
      return std::unique_ptr<tl_sink>(new format_sink<tl_format::db>(to, db));
    case tl_format::html:
      return std::unique_ptr<tl_sink>(new format_sink<tl_format::html>(to, db));
    case tl_format::xml:
      return std::unique_ptr<tl_sink>(new format_sink<tl_format::xml>(to, db));
    case tl_format::anon:
      return std::unique_ptr<tl_sink>(new format_sink<tl_format::anon>(to, db));
    case tl_format::text:
      break;
  }
  return std::unique_ptr<tl_sink>(new format_sink<tl_format::text>(to, db));
}

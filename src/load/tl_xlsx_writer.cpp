// The workbook writer. Its sheets come in catalogue order (Summary, the
// layouts, Rejects) while layouts are met in input order, and libxlsxwriter
// orders sheets as they are made: so the records are spooled while the
// inputs are read (one unnamed file beside FILE, a chain of chunks per
// layout) and the whole workbook is written from the spool at the end.
//
// FILE is replaced only by a workbook written whole: libxlsxwriter writes
// an unnamed file beside it that gets a name only at the very end, so that
// nothing is left behind whenever the run stops.
#include "tl_xlsx_writer.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>
#include <xlsxwriter.h>

#include "tl_dynlib.h"
#include "tl_globals.h"
#include "tl_table_model.h"

namespace {

// libxlsxwriter brings libcrypto, whose loading would cost every run of
// tapelens time at start-up: it is opened when a workbook is asked for.
#define TL_XLSX_FUNCTIONS(X)                                                                                 \
  X(workbook_, new_opt) X(workbook_, add_worksheet) X(workbook_, add_format) X(workbook_, close)             \
  X(worksheet_, write_string) X(worksheet_, write_number) X(worksheet_, set_column)                          \
  X(worksheet_, freeze_panes) X(worksheet_, autofilter) X(worksheet_, ignore_errors) X(format_, set_bold)   \
  X(format_, set_num_format) X(format_, set_bg_color) X(format_, set_font_color) X(lxw_, strerror)         \
  X(lxw_, workbook_free)
TL_DYNLIB_TABLE(xlsx_api, xl, load_xlsx, "libxlsxwriter.so.4", TL_XLSX_FUNCTIONS)

constexpr size_t kChunk = 32 * 1024;   // spool buffer of one layout
constexpr size_t kCellMax = 32767;     // the most characters a cell holds
constexpr int kMaxDecimals = 18;
// Room beyond the largest sheet that putting the workbook together needs
// (the small parts, the sheet's head and tail); a sheet's own room is freed
// once it is in the zip.
constexpr unsigned long long kCloseMargin = 1ull << 20;

// A spooled layout row: this, then the record as read.
struct row_head {
  uint32_t doc;
  uint32_t n;
  uint64_t line;
  int64_t idx;
};
// A spooled reject: this, then the reason, then the record as read.
struct reject_head {
  uint32_t doc;
  uint32_t reason_n;
  uint32_t n;
  uint32_t unused;
  uint64_t line;
};

struct chunk {
  off_t at;
  size_t n;
};

// One layout's rows (or the rejects) in input order: a buffer, then the
// chunks already in the spool file.
struct lane {
  std::vector<char> buf;
  std::vector<chunk> chunks;
  unsigned long long rows = 0;
  size_t keep_chunks = 0;  // where the document in hand began
  unsigned long long keep_rows = 0;
};

struct doc_info {
  std::string cell;  // the name as a cell text
  unsigned long long bytes = 0;
  char digest[33] = {};
  unsigned long long records = 0;
  unsigned long long rejects = 0;
};

bool valid_utf8(const char* p, size_t n) {
  for (size_t i = 0; i < n;) {
    const unsigned char c = static_cast<unsigned char>(p[i]);
    size_t k = 0;  // continuation bytes
    if (c >= 0xc2 && c <= 0xdf) k = 1;
    else if (c >= 0xe0 && c <= 0xef) k = 2;
    else if (c >= 0xf0 && c <= 0xf4) k = 3;
    else if (c >= 0x80) return false;
    if (i + k >= n) return false;
    for (size_t j = 1; j <= k; j++) {
      if ((static_cast<unsigned char>(p[i + j]) & 0xc0) != 0x80) return false;
    }
    // No overlong forms, no surrogates, nothing past U+10FFFF.
    const unsigned char d = k > 0 ? static_cast<unsigned char>(p[i + 1]) : 0;
    if ((c == 0xe0 && d < 0xa0) || (c == 0xed && d >= 0xa0) || (c == 0xf0 && d < 0x90) || (c == 0xf4 && d >= 0x90)) {
      return false;
    }
    i += k + 1;
  }
  return true;
}

bool hex_digit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Appends UTF-8 text as a cell's text: a run that reads as an OOXML escape
// (_x0041_) gets its underscore escaped, so that a spreadsheet shows it as
// it is; cut at a character boundary where a cell would overflow.
void put_cell_text(std::string& out, const char* p, size_t n) {
  const size_t start = out.size();
  for (size_t i = 0; i < n; i++) {
    if (p[i] == '_' && i + 6 < n && p[i + 1] == 'x' && hex_digit(p[i + 2]) && hex_digit(p[i + 3]) &&
        hex_digit(p[i + 4]) && hex_digit(p[i + 5]) && p[i + 6] == '_') {
      out += "_x005F_";
    } else {
      out += p[i];
    }
    if (out.size() - start >= kCellMax) {
      size_t cut = start + kCellMax;
      while (cut > start && (static_cast<unsigned char>(out[cut]) & 0xc0) == 0x80) cut--;
      out.resize(cut);
      break;
    }
  }
}

// Appends any bytes as a cell's text: UTF-8 kept, other bytes read as Latin-1.
void put_any_text(std::string& out, const char* p, size_t n) {
  if (valid_utf8(p, n)) {
    put_cell_text(out, p, n);
    return;
  }
  std::string u(2 * n, '\0');
  u.resize(tl_latin1_to_utf8(p, n, &u[0]));
  put_cell_text(out, u.data(), u.size());
}

// Appends a record as the Rejects sheet shows it: printable characters as
// they are, every other byte as \xHH.
void put_record_text(std::string& out, const char* p, size_t n) {
  static const char kHex[] = "0123456789abcdef";
  for (size_t i = 0; i < n; i++) {
    const unsigned char c = static_cast<unsigned char>(p[i]);
    if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
}

// The folder a path is in.
std::string folder_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// An unnamed file in dir, or a named one when the file system has no
// unnamed files; keep_name says whether a named one stays (to be renamed
// later) or is removed at once.
int open_temp(const std::string& dir, const std::string& stem, bool keep_name, std::string* name) {
  // An unnamed workbook reaches libxlsxwriter by its /proc name.
  const bool unnamed = !keep_name || access("/proc/self/fd", X_OK) == 0;
  int fd = unnamed ? open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666) : -1;
  if (fd >= 0 || (unnamed && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
  for (unsigned k = 0; k < 1000; k++) {
    std::string n = dir + "/." + stem + "." + std::to_string(getpid()) + "." + std::to_string(k) + ".tmp";
    fd = open(n.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
    if (fd >= 0) {
      if (keep_name) *name = n;
      else unlink(n.c_str());
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

class xlsx_writer : public tl_sink {
 public:
  xlsx_writer(const char* path, unsigned long rows_per_sheet, int spool, int out, std::string out_name,
              const sigset_t& old_mask)
      : path_(path),
        dir_(folder_of(path_)),
        per_sheet_(rows_per_sheet < 2 ? 1 : rows_per_sheet - 1),
        spool_(spool),
        out_(out),
        out_name_(std::move(out_name)),
        old_mask_(old_mask),
        model_(),
        maker_(model_) {
    lanes_.resize(static_cast<size_t>(bdtr_count) + 1);
  }

  ~xlsx_writer() override { drop(); }

  bool wants_digest() const override { return true; }

  bool admit(const char* arg) override {
    struct stat in, out;
    const int r = std::strcmp(arg, "-") == 0 ? fstat(STDIN_FILENO, &in) : stat(arg, &in);
    if (r == 0 && stat(path_.c_str(), &out) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
      fprintf(stderr, "ERROR: input file %s is also the output file\n", arg);
      tl_input_failures++;
      same_as_input_ = true;
      return false;
    }
    return true;
  }

  bool begin(const tl_document& doc) override {
    doc_name_ = doc.name();
    records_ = rejects_ = 0;
    maker_.reset();
    // The document's rows start on chunks of their own, so that a failed
    // document is dropped by forgetting its chunks.
    for (lane& l : lanes_) {
      if (!l.buf.empty() && !flush(l)) return false;
      l.keep_chunks = l.chunks.size();
      l.keep_rows = l.rows;
    }
    keep_end_ = end_;
    return true;
  }

  bool record(const char* rec, size_t len, unsigned long long line) override {
    const tl_row& row = maker_.make(rec, len, line);
    records_++;
    const uint32_t doc = static_cast<uint32_t>(docs_.size());
    if (row.table != nullptr) {
      row_head h{doc, static_cast<uint32_t>(len), line, row.idx};
      if (!put(lanes_[static_cast<size_t>(row.table->rindex)], &h, sizeof h, nullptr, 0, rec, len)) return false;
    }
    if (row.reject != nullptr) {
      rejects_++;
      const size_t rn = std::strlen(row.reject);
      reject_head h{doc, static_cast<uint32_t>(rn), static_cast<uint32_t>(len), 0, line};
      if (!put(lanes_.back(), &h, sizeof h, row.reject, rn, rec, len)) return false;
    }
    return true;
  }

  bool end(const tl_doc_end& e) override {
    if (!e.complete) {
      for (lane& l : lanes_) {
        l.buf.clear();
        l.chunks.resize(l.keep_chunks);
        l.rows = l.keep_rows;
      }
      end_ = keep_end_;
      if (tl_shutdown == 0 && !failed_) {
        fprintf(stderr, "ERROR: %s: writing %s stopped; nothing of it was kept\n", path_.c_str(), doc_name_);
      }
      return true;
    }
    doc_info d;
    put_any_text(d.cell, doc_name_, std::strlen(doc_name_));
    name_width_ = std::max(name_width_, d.cell.size());
    d.bytes = e.bytes;
    tl_digest_hex(e.digest, d.digest);
    d.records = records_;
    d.rejects = rejects_;
    docs_.push_back(std::move(d));
    return true;
  }

  bool finish() override {
    bool ok = !failed_ && !same_as_input_ && tl_shutdown == 0;
    if (ok) ok = write_workbook();
    // A write past the file size limit raised SIGXFSZ, held pending here:
    // the library's own temporary files are covered too.
    sigset_t pending;
    sigpending(&pending);
    if (sigismember(&pending, SIGXFSZ)) {
      if (ok) fprintf(stderr, "ERROR: %s: cannot write: %s\n", path_.c_str(), strerror(EFBIG));
      ok = false;
    }
    // A signal while libxlsxwriter put the workbook together stops the run
    // all the same.
    if (tl_shutdown != 0) ok = false;
    if (ok) ok = commit();
    if (!ok && tl_shutdown != 0) {
      fprintf(stderr, "ERROR: %s: stopped; the workbook was not written\n", path_.c_str());
    }
    drop();
    return ok;
  }

 private:
  bool fail_write(int err) {
    fprintf(stderr, "ERROR: %s: cannot write: %s\n", path_.c_str(), strerror(err));
    failed_ = true;
    return false;
  }

  bool put(lane& l, const void* head, size_t hn, const char* a, size_t an, const char* b, size_t bn) {
    const size_t total = hn + an + bn;
    if (!l.buf.empty() && l.buf.size() + total > kChunk && !flush(l)) return false;
    if (l.buf.capacity() == 0) l.buf.reserve(kChunk);
    const char* h = static_cast<const char*>(head);
    l.buf.insert(l.buf.end(), h, h + hn);
    if (an > 0) l.buf.insert(l.buf.end(), a, a + an);
    l.buf.insert(l.buf.end(), b, b + bn);
    l.rows++;
    return true;
  }

  bool flush(lane& l) {
    size_t done = 0;
    while (done < l.buf.size()) {
      const ssize_t w = pwrite(spool_, l.buf.data() + done, l.buf.size() - done, end_ + static_cast<off_t>(done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return fail_write(w < 0 ? errno : ENOSPC);
      done += static_cast<size_t>(w);
    }
    l.chunks.push_back({end_, l.buf.size()});
    end_ += static_cast<off_t>(l.buf.size());
    l.buf.clear();
    return true;
  }

  // Reads the chunks of a lane in order and calls take for each entry
  // (its bytes, head first). Returns false when reading failed or take did.
  template <class F>
  bool replay(lane& l, F take) {
    if (!l.buf.empty() && !flush(l)) return false;
    for (const chunk& c : l.chunks) {
      if (rbuf_.size() < c.n) rbuf_.resize(c.n);
      size_t done = 0;
      while (done < c.n) {
        const ssize_t r = pread(spool_, rbuf_.data() + done, c.n - done, c.at + static_cast<off_t>(done));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return fail_write(r < 0 ? errno : EIO);
        done += static_cast<size_t>(r);
      }
      for (size_t at = 0; at < c.n;) {
        size_t used = 0;
        if (!take(rbuf_.data() + at, &used)) return false;
        at += used;
      }
    }
    return true;
  }

  // A worksheet with its header row, frozen, filtered and sized.
  lxw_worksheet* sheet(const std::string& name, const std::vector<std::string>& header,
                       const std::vector<double>& widths, unsigned long long rows) {
    lxw_worksheet* ws = xl.add_worksheet(wb_, name.c_str());
    if (ws == nullptr) {
      fprintf(stderr, "ERROR: %s: cannot make the sheet %s\n", path_.c_str(), name.c_str());
      failed_ = true;
      return nullptr;
    }
    sheets_.push_back(ws);
    for (size_t c = 0; c < header.size(); c++) {
      xl.set_column(ws, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c), widths[c], nullptr);
      cell_.clear();
      put_any_text(cell_, header[c].data(), header[c].size());
      xl.write_string(ws, 0, static_cast<lxw_col_t>(c), cell_.c_str(), bold_);
    }
    xl.freeze_panes(ws, 1, 0);
    xl.autofilter(ws, 0, 0, static_cast<lxw_row_t>(rows), static_cast<lxw_col_t>(header.size() - 1));
    // Digit strings are text on purpose.
    xl.ignore_errors(ws, LXW_IGNORE_NUMBER_STORED_AS_TEXT, "A1:XFD1048576");
    return ws;
  }

  static std::string part_name(const std::string& base, unsigned long long part) {
    return part == 1 ? base : base + " (" + std::to_string(part) + ")";
  }

  unsigned long long parts(unsigned long long rows) const { return rows == 0 ? 1 : (rows + per_sheet_ - 1) / per_sheet_; }

  static double width_of(size_t chars) {
    if (chars < 6) chars = 6;
    if (chars > 60) chars = 60;
    return static_cast<double>(chars) + 2;
  }

  void text(lxw_worksheet* ws, lxw_row_t r, lxw_col_t c, const char* p, size_t n, lxw_format* f) {
    if (n == 0) return;
    cell_.clear();
    put_cell_text(cell_, p, n);
    xl.write_string(ws, r, c, cell_.c_str(), f);
  }

  bool write_summary() {
    const char* head[] = {"name", "size", "digest", "records", "rejects"};
    lxw_worksheet* ws = xl.add_worksheet(wb_, "Summary");
    if (ws == nullptr) return fail_write(EIO);
    sheets_.push_back(ws);
    const double widths[] = {width_of(name_width_), 14, 34, 12, 12};
    for (lxw_col_t c = 0; c < 5; c++) xl.set_column(ws, c, c, widths[c], nullptr);
    lxw_row_t r = 0;
    for (lxw_col_t c = 0; c < 5; c++) xl.write_string(ws, r, c, head[c], bold_);
    for (const doc_info& d : docs_) {
      r++;
      xl.write_string(ws, r, 0, d.cell.c_str(), nullptr);
      xl.write_number(ws, r, 1, static_cast<double>(d.bytes), dec_[0]);
      xl.write_string(ws, r, 2, d.digest, nullptr);
      xl.write_number(ws, r, 3, static_cast<double>(d.records), dec_[0]);
      xl.write_number(ws, r, 4, static_cast<double>(d.rejects), dec_[0]);
    }
    r += 2;
    const char* head2[] = {"sheet", "record key", "layout", "records"};
    for (lxw_col_t c = 0; c < 4; c++) xl.write_string(ws, r, c, head2[c], bold_);
    for (int i = 0; i < bdtr_count; i++) {
      const lane& l = lanes_[static_cast<size_t>(i)];
      if (l.rows == 0) continue;
      const tl_table& t = *model_.table(i);
      for (unsigned long long p = 1; p <= parts(l.rows); p++) {
        r++;
        const unsigned long long on = p < parts(l.rows) ? per_sheet_ : l.rows - (p - 1) * per_sheet_;
        xl.write_string(ws, r, 0, part_name(t.name, p).c_str(), nullptr);
        xl.write_string(ws, r, 1, t.record_key.c_str(), nullptr);
        cell_.clear();
        put_any_text(cell_, t.layout_name.data(), t.layout_name.size());
        if (!cell_.empty()) xl.write_string(ws, r, 2, cell_.c_str(), nullptr);
        xl.write_number(ws, r, 3, static_cast<double>(on), dec_[0]);
      }
    }
    return true;
  }

  // Checks between rows whether the run was stopped.
  bool stopped(unsigned long long row) const { return (row & 4095) == 0 && tl_shutdown != 0; }

  bool write_layout(int rindex) {
    lane& l = lanes_[static_cast<size_t>(rindex)];
    const tl_table& t = *model_.table(rindex);
    std::vector<std::string> header = {"file", "line", "idx"};
    std::vector<double> widths = {width_of(name_width_), 10, 8};
    for (size_t k = kTlKeyColumns; k < t.columns.size(); k++) {
      const tl_column& c = t.columns[k];
      header.push_back(c.display);
      widths.push_back(width_of(static_cast<size_t>(c.length) + (c.decimals > 0 ? 2 : 1)));
    }
    const unsigned long long nparts = parts(l.rows);
    unsigned long long part = 0, in_part = per_sheet_, done = 0;
    lxw_worksheet* ws = nullptr;
    static const double kScale[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8, 1e9,
                                    1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18};
    return replay(l, [&](const char* p, size_t* used) {
      row_head h;
      std::memcpy(&h, p, sizeof h);
      *used = sizeof h + h.n;
      if (in_part == per_sheet_) {
        part++;
        in_part = 0;
        const unsigned long long rows = part < nparts ? per_sheet_ : l.rows - (part - 1) * per_sheet_;
        ws = sheet(part_name(t.name, part), header, widths, rows);
        if (ws == nullptr) return false;
      }
      in_part++;
      if (stopped(++done)) return false;
      const lxw_row_t r = static_cast<lxw_row_t>(in_part);
      const tl_row& row = maker_.make(p + sizeof h, h.n, h.line);
      xl.write_string(ws, r, 0, docs_[h.doc].cell.c_str(), nullptr);
      xl.write_number(ws, r, 1, static_cast<double>(h.line), dec_[0]);
      xl.write_number(ws, r, 2, static_cast<double>(h.idx), dec_[0]);
      const char* rec = p + sizeof h;
      const size_t content = tl_record_content(rec, h.n);
      for (size_t k = 0; k < row.ncells; k++) {
        const tl_cell& cell = row.cells[k];
        const lxw_col_t c = static_cast<lxw_col_t>(k + kTlKeyColumns);
        if (cell.kind == tl_cell::text) {
          text(ws, r, c, cell.p, cell.n, nullptr);
        } else if (cell.kind == tl_cell::amount) {
          const int d = cell.decimals < 0 ? 0 : cell.decimals > kMaxDecimals ? kMaxDecimals : cell.decimals;
          xl.write_number(ws, r, c, static_cast<double>(cell.units) / kScale[d], dec_[d]);
        } else {
          // An amount that holds no number: its text as cut, set apart.
          const tl_column& col = t.columns[k + kTlKeyColumns];
          const size_t off = static_cast<size_t>(col.start - 1);
          if (col.decimals < 0 || off >= content) continue;
          const size_t n = std::min(static_cast<size_t>(col.length), content - off);
          char u[2 * 256];
          text(ws, r, c, u, tl_latin1_to_utf8(rec + off, std::min<size_t>(n, 255), u), bad_);
        }
      }
      return true;
    });
  }

  bool write_rejects() {
    lane& l = lanes_.back();
    const std::vector<std::string> header = {"file", "line", "reason", "record"};
    const std::vector<double> widths = {width_of(name_width_), 10, 40, 60};
    const unsigned long long nparts = parts(l.rows);
    if (l.rows == 0) return sheet("Rejects", header, widths, 0) != nullptr;
    unsigned long long part = 0, in_part = per_sheet_, done = 0;
    lxw_worksheet* ws = nullptr;
    std::string rec;
    return replay(l, [&](const char* p, size_t* used) {
      reject_head h;
      std::memcpy(&h, p, sizeof h);
      *used = sizeof h + h.reason_n + h.n;
      if (in_part == per_sheet_) {
        part++;
        in_part = 0;
        const unsigned long long rows = part < nparts ? per_sheet_ : l.rows - (part - 1) * per_sheet_;
        ws = sheet(part_name("Rejects", part), header, widths, rows);
        if (ws == nullptr) return false;
      }
      in_part++;
      if (stopped(++done)) return false;
      const lxw_row_t r = static_cast<lxw_row_t>(in_part);
      xl.write_string(ws, r, 0, docs_[h.doc].cell.c_str(), nullptr);
      xl.write_number(ws, r, 1, static_cast<double>(h.line), dec_[0]);
      text(ws, r, 2, p + sizeof h, h.reason_n, nullptr);
      rec.clear();
      put_record_text(rec, p + sizeof h + h.reason_n, h.n);
      text(ws, r, 3, rec.data(), rec.size(), nullptr);
      return true;
    });
  }

  bool write_workbook() {
    lxw_workbook_options o;
    std::memset(&o, 0, sizeof o);
    o.constant_memory = LXW_TRUE;
    o.tmpdir = &dir_[0];
    // ZIP64 only where a sheet's XML or the whole may pass 4 GB: inputs
    // over about 1 GB.
    o.use_zip64 = per_sheet_ > 500000 && end_ > (off_t{1} << 30) ? LXW_TRUE : LXW_FALSE;
    const std::string name = out_name_.empty() ? "/proc/self/fd/" + std::to_string(out_) : out_name_;
    wb_ = xl.new_opt(name.c_str(), &o);
    if (wb_ == nullptr) return fail_write(errno != 0 ? errno : EIO);
    bold_ = xl.add_format(wb_);
    xl.set_bold(bold_);
    std::string num = "0";
    for (int d = 0; d <= kMaxDecimals; d++) {
      dec_[d] = xl.add_format(wb_);
      xl.set_num_format(dec_[d], num.c_str());
      num += d == 0 ? ".0" : "0";
    }
    bad_ = xl.add_format(wb_);
    xl.set_bg_color(bad_, 0xFFC7CE);
    xl.set_font_color(bad_, 0x9C0006);
    if (!write_summary()) return false;
    for (int i = 0; i < bdtr_count; i++) {
      if (lanes_[static_cast<size_t>(i)].rows > 0 && !write_layout(i)) return false;
    }
    if (!write_rejects()) return false;
    unsigned long long largest = 0;
    if (!sheets_written(&largest)) return false;
    // The spool's room is the workbook's now.
    close(spool_);
    spool_ = -1;
    return close_workbook(largest);
  }

  // The likely cause of a write that the library lost earlier (its errno
  // is gone): the file size limit, or a full file system.
  int lost_write_cause() const {
    sigset_t pending;
    if (sigpending(&pending) == 0 && sigismember(&pending, SIGXFSZ)) return EFBIG;
    struct statvfs vfs;
    if (statvfs(dir_.c_str(), &vfs) == 0 && static_cast<unsigned long long>(vfs.f_bavail) * vfs.f_frsize < kCloseMargin) {
      return ENOSPC;
    }
    return EIO;
  }

  // libxlsxwriter does not check its writes of the sheets' XML to its
  // temporary files: a failed one is found by the error flag of the rows'
  // files (sheets_written), by the room left for putting the largest sheet
  // together (close_workbook), and by the pending SIGXFSZ (a file size
  // limit, in finish).
  bool sheets_written(unsigned long long* largest) {
    for (lxw_worksheet* ws : sheets_) {
      FILE* f = ws->optimize_tmpfile;
      if (f == nullptr) continue;
      if (fflush(f) != 0 || ferror(f)) return fail_write(lost_write_cause());
      const off_t size = ftello(f);
      if (size > 0 && static_cast<unsigned long long>(size) > *largest) *largest = static_cast<unsigned long long>(size);
    }
    return true;
  }

  bool close_workbook(unsigned long long largest) {
    struct statvfs vfs;
    if (statvfs(dir_.c_str(), &vfs) == 0 &&
        static_cast<unsigned long long>(vfs.f_bavail) * vfs.f_frsize < largest + largest / 16 + kCloseMargin) {
      return fail_write(ENOSPC);
    }
    // The library reports its failures with the temporary file's name:
    // they are reported here instead, with FILE's.
    fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved >= 0 && null >= 0) dup2(null, STDERR_FILENO);
    errno = 0;
    const lxw_error err = xl.close(wb_);
    const int close_errno = errno;
    wb_ = nullptr;
    sheets_.clear();
    if (saved >= 0) {
      dup2(saved, STDERR_FILENO);
      close(saved);
    }
    if (null >= 0) close(null);
    if (err != LXW_NO_ERROR) {
      if (close_errno != 0) return fail_write(close_errno);
      fprintf(stderr, "ERROR: %s: cannot write: %s\n", path_.c_str(), xl.strerror(err));
      failed_ = true;
      return false;
    }
    return true;
  }

  // Gives the workbook its name: FILE replaced at once, with the mode a new
  // file gets.
  bool commit() {
    if (fsync(out_) != 0) return fail_write(errno);
    if (!out_name_.empty()) {
      if (rename(out_name_.c_str(), path_.c_str()) != 0) return fail_write(errno);
      out_name_.clear();
      return true;
    }
    const std::string fd_path = "/proc/self/fd/" + std::to_string(out_);
    for (unsigned k = 0; k < 1000; k++) {
      const std::string n = dir_ + "/.tapelens-xlsx." + std::to_string(getpid()) + "." + std::to_string(k) + ".tmp";
      if (linkat(AT_FDCWD, fd_path.c_str(), AT_FDCWD, n.c_str(), AT_SYMLINK_FOLLOW) != 0) {
        if (errno == EEXIST) continue;
        return fail_write(errno);
      }
      if (rename(n.c_str(), path_.c_str()) != 0) {
        const int e = errno;
        unlink(n.c_str());
        return fail_write(e);
      }
      return true;
    }
    return fail_write(EEXIST);
  }

  // Lets go of everything: the library's workbook, the spool, a named
  // temporary file not renamed, and the held SIGXFSZ.
  void drop() {
    if (wb_ != nullptr) {
      xl.workbook_free(wb_);
      wb_ = nullptr;
    }
    if (spool_ >= 0) close(spool_);
    spool_ = -1;
    if (out_ >= 0) close(out_);
    out_ = -1;
    if (!out_name_.empty()) unlink(out_name_.c_str());
    out_name_.clear();
    if (!mask_restored_) {
      sigset_t xfsz;
      sigemptyset(&xfsz);
      sigaddset(&xfsz, SIGXFSZ);
      sigset_t pending;
      const timespec now = {0, 0};
      while (sigpending(&pending) == 0 && sigismember(&pending, SIGXFSZ)) {
        if (sigtimedwait(&xfsz, nullptr, &now) < 0) break;
      }
      pthread_sigmask(SIG_SETMASK, &old_mask_, nullptr);
      mask_restored_ = true;
    }
  }

  std::string path_;
  std::string dir_;
  unsigned long long per_sheet_;  // data rows a sheet holds
  int spool_;
  off_t end_ = 0;
  off_t keep_end_ = 0;
  int out_;
  std::string out_name_;  // the named temporary workbook, where there are no unnamed files
  sigset_t old_mask_;
  bool mask_restored_ = false;
  tl_table_model model_;
  tl_row_maker maker_;
  std::vector<lane> lanes_;  // one per layout, then the rejects
  std::vector<doc_info> docs_;
  std::vector<char> rbuf_;
  std::string cell_;
  size_t name_width_ = 4;
  const char* doc_name_ = "";
  unsigned long long records_ = 0;
  unsigned long long rejects_ = 0;
  bool failed_ = false;
  bool same_as_input_ = false;
  lxw_workbook* wb_ = nullptr;
  std::vector<lxw_worksheet*> sheets_;
  lxw_format* bold_ = nullptr;
  lxw_format* bad_ = nullptr;
  lxw_format* dec_[kMaxDecimals + 1] = {};
};

}  // namespace

std::unique_ptr<tl_sink> tl_open_xlsx_writer(const char* path, unsigned long rows_per_sheet) {
  if (path == nullptr || *path == '\0') {
    fputs("ERROR: --xlsx needs the name of a workbook file\n", stderr);
    return nullptr;
  }
  if (!load_xlsx()) return nullptr;
  struct stat st;
  if (stat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
    fprintf(stderr, "ERROR: %s is not a regular file\n", path);
    return nullptr;
  }
  const std::string dir = folder_of(path);
  // Writes past a file size limit fail with EFBIG instead of ending the
  // process; the signal stays pending for the writer to see.
  sigset_t xfsz, old;
  sigemptyset(&xfsz);
  sigaddset(&xfsz, SIGXFSZ);
  pthread_sigmask(SIG_BLOCK, &xfsz, &old);
  std::string out_name;
  const int spool = open_temp(dir, "tapelens-spool", false, nullptr);
  const int out = spool < 0 ? -1 : open_temp(dir, "tapelens-xlsx", true, &out_name);
  if (spool < 0 || out < 0) {
    const int e = errno;
    fprintf(stderr, "ERROR: %s: cannot write in %s: %s\n", path, dir.c_str(), strerror(e));
    if (spool >= 0) close(spool);
    if (out >= 0) close(out);
    if (!out_name.empty()) unlink(out_name.c_str());
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return nullptr;
  }
  return std::unique_ptr<tl_sink>(new xlsx_writer(path, rows_per_sheet, spool, out, out_name, old));
}

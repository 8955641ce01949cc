// Input arguments as documents. A plain file or standard input is read with
// read(2) straight into the record block; a compressed or archived input is
// unpacked by libarchive in a thread of its own. EBCDIC decoding and
// fixed-length framing, told from the first bytes or forced by the options,
// sit between the bytes and the record cutting, so every driver and writer
// sees the same records whatever the input's form.
#include "tl_input.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "tl_detect.h"
#include "tl_ebcdic.h"
#include "tl_globals.h"
#include "tl_lines.h"
#include "tl_logging.h"
#include "tl_readahead.h"
#include "tl_unpack.h"

tl_input_settings tl_input_opts;

namespace {

// The EBCDIC table in use, made once: for --ebcdic=NAME at the option, for
// the default code page when an input first needs it.
tl_byte_table ebcdic_table;
bool ebcdic_ready = false;
// The table last made and the code page it was made from: making it takes
// iconv and 64K pairs, so the same page again reuses it.
std::string ebcdic_made_for;

const tl_byte_table* table_for_input() {
  if (!ebcdic_ready) tl_input_set_codepage(kTlEbcdicDefault);
  return ebcdic_ready ? &ebcdic_table : nullptr;
}

constexpr size_t kFixedLrecl = 225;  // the BDT record without its line end

void report(const char* fmt_name, const char* what) {
  tl_progress_clear();
  fprintf(stderr, "ERROR: Unable to read BDT file:%s: %s\n", fmt_name, what);
  tl_input_failures++;
}

// A document whose records come from a tl_lines; the subclass gives the bytes.
class lines_document : public tl_document, protected tl_lines {
 public:
  // size: the file's (-1: unknown); block_for: the size of the bytes the
  // records come from, where known, for the size of the block.
  lines_document(std::string name, long long size, long long block_for)
      : tl_lines(block_for), name_(std::move(name)), size_(size) {}
  const char* name() const override { return name_.c_str(); }
  long long size() const override { return size_; }
  bool failed() const override { return failed_; }
  const uint64_t* nuls() const override { return nul_mask(); }

  int next_record(const char** rec, unsigned long* len) override {
    if (!opened()) return -1;
    if (next(rec, len) == 0) return 0;
    note_failure();
    return -1;
  }

  bool reshaped() const override { return reshapes(); }

  void read_failed(int err) override {
    read_failed_elsewhere(err != 0 ? err : EIO);
    note_failure();
  }

  long next_bytes(char* dst, size_t n) override {
    // Who reads bytes reports the progress of what it has written.
    quiet_ = true;
    if (!opened()) return -1;
    long r = take(dst, n);
    if (r < 0) note_failure();
    return r;
  }

  // Reads ahead enough bytes to tell the input's form. A line end in text
  // that is not EBCDIC tells enough already (no fixed-length records, no
  // tar header), so a terminal or a slow pipe is not kept waiting.
  void peek_enough() {
    for (size_t n = peek(1); n < kTlDetectBytes;) {
      if (n >= 8 && !tl_looks_ebcdic(held(), n) &&
          (std::memchr(held(), '\n', n) != nullptr || std::memchr(held(), '\r', n) != nullptr)) {
        break;
      }
      size_t more = peek(n + 1);
      if (more == n) break;
      n = more;
    }
  }

  // Decides, from the first bytes, on EBCDIC decoding and fixed framing.
  void prepare() {
    peek_enough();
    if (tl_input_opts.ebcdic || tl_looks_ebcdic(held(), held_count())) {
      const tl_byte_table* t = table_for_input();
      if (t != nullptr) {
        decode_with(t);
        decode_ahead(t);
      }
    }
    if (tl_input_opts.lrecl > 0) {
      frame_fixed(static_cast<size_t>(tl_input_opts.lrecl));
    } else if (tl_looks_fixed(held(), held_count())) {
      frame_fixed(kFixedLrecl);
    }
  }

 private:
  // Returns false when the document cannot be read at all (reported once).
  bool opened() {
    if (!begun_) {
      begun_ = true;
      if (debug_flag > 0) fprintf(stderr, "DEBUG: fopen = %s\n", name_.c_str());
      if (!open_ok()) failed_ = true;
    }
    return !failed_;
  }

  void note_failure() {
    if (!failed_ && read_errno() != 0) {
      failed_ = true;
      report(name_.c_str(), reason().c_str());
    }
  }

 protected:
  // Returns false (reported) when the document cannot be read at all.
  virtual bool open_ok() { return true; }
  // Returns true once a record or bytes were asked for.
  bool begun() const { return begun_; }
  // The reason of a failed read.
  virtual std::string reason() const { return strerror(read_errno()); }
  // Offers to decode the bytes after those held elsewhere, ahead of the
  // formatter (then source_decodes() is called).
  virtual void decode_ahead(const tl_byte_table* table) { (void)table; }
  void note(long long done) {
    if (!quiet_) tl_progress_note(name_.c_str(), size_, done);
  }
  bool failed_ = false;

 private:
  std::string name_;
  long long size_;
  bool begun_ = false;
  bool quiet_ = false;
};

// The size from which a known-size EBCDIC file is decoded on a thread of
// its own.
constexpr long long kDecodeAheadFrom = 1 << 20;

// A plain file or standard input, read with read(2).
class fd_document : public lines_document {
 public:
  fd_document(const char* arg, int fd, int open_errno, long long size)
      : lines_document(arg, size, size), fd_(fd), open_errno_(open_errno), start_(fd >= 0 ? lseek(fd, 0, SEEK_CUR) : -1) {}
  long long consumed() const override { return ahead_ ? done_ + ahead_->consumed() : done_; }
  int fd() const { return fd_; }
  void shape(tl_shape* s) const override {
    s->table = decoding();
    s->lrecl = framing();
  }

  int positional(long long* offset) override {
    if (fd_ < 0) return -1;
    if (regular_ < 0) {
      struct stat st;
      regular_ = fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) ? 1 : 0;
    }
    if (regular_ == 0) return -1;
    if (reshapes()) {
      // Read again from the start, by the reader: the bytes held for
      // telling the input's form, and those read ahead, are let go.
      if (begun() || start_ < 0) return -1;
      ahead_.reset();
      *offset = start_;
      return fd_;
    }
    if (ahead_ || !drained()) return -1;
    // Where the descriptor is, not what was read through it: standard input
    // may start anywhere in its file.
    const off_t at = lseek(fd_, 0, SEEK_CUR);
    if (at < 0) return -1;
    *offset = at;
    return fd_;
  }
  using tl_lines::held;
  using tl_lines::held_count;

 protected:
  bool open_ok() override {
    if (fd_ >= 0) return true;
    tl_progress_clear();
    fprintf(stderr, "ERROR: Unable to open BDT file:%s\n", name());
    tl_input_failures++;
    (void)open_errno_;
    return false;
  }
  // EBCDIC is decoded in a thread of its own, so that the decoding costs the
  // formatter no time on two cores.
  void decode_ahead(const tl_byte_table* table) override {
    // A file of a few blocks is decoded as it is read: a thread would cost
    // more than it saves.
    if (fd_ < 0 || (size() >= 0 && size() <= kDecodeAheadFrom)) return;
    ahead_.reset(new tl_readahead(fd_, table));
    // Without a thread the decoding is done here, as it is read.
    if (!ahead_->started()) {
      ahead_.reset();
      return;
    }
    source_decodes();
  }
  long raw_read(char* buf, size_t n) override {
    if (fd_ < 0) return 0;
    if (ahead_) {
      long a = ahead_->read(buf, n);
      if (a > 0) note(consumed());
      return a;
    }
    ssize_t r = ::read(fd_, buf, n);
    if (r > 0) {
      done_ += r;
      note(done_);
    }
    return static_cast<long>(r);
  }

 private:
  int fd_;
  int open_errno_;
  long long done_ = 0;
  int regular_ = -1;  // a regular file: 1, else 0; -1 until asked
  off_t start_;       // where the descriptor stood when opened (-1: unknown)
  std::unique_ptr<tl_readahead> ahead_;
};

// One member of an archive, or the stream of a compressed file.
class member_document : public lines_document {
 public:
  member_document(std::string name, long long size, tl_unpacker& u) : lines_document(std::move(name), size, -1), u_(u) {}
  long long consumed() const override { return u_.consumed(); }

 protected:
  long raw_read(char* buf, size_t n) override {
    long r = u_.read(buf, n);
    if (r > 0) note(u_.consumed());
    return r;
  }
  std::string reason() const override { return u_.what(); }

 private:
  tl_unpacker& u_;
};

// A damaged compressed input that gave no data: one document that reports it.
class damaged_document : public lines_document {
 public:
  damaged_document(const char* name, long long size, std::string what)
      : lines_document(name, size, 0), what_(std::move(what)) {}
  long long consumed() const override { return 0; }

 protected:
  bool open_ok() override {
    report(name(), what_.c_str());
    return false;
  }
  long raw_read(char*, size_t) override { return 0; }

 private:
  std::string what_;
};

bool stopping() { return tl_shutdown != 0 || tl_output_failed != 0; }

// The documents of a compressed or archived input.
bool each_packed(const char* arg, fd_document& first, tl_packing packing,
                 const std::function<void(tl_document&)>& visit) {
  tl_unpacker u(first.fd(), first.held(), first.held_count(), packing == tl_packing::archive);
  bool ok = true, any = false;
  std::string member, what;
  while (!stopping()) {
    tl_unpacker::event ev = u.next(&member, &what);
    if (ev == tl_unpacker::kEnd) break;
    if (ev == tl_unpacker::kFailed) {
      if (!any) {
        // Damaged before any document: one is written, frames and all, with
        // the reason, as for a plain file that cannot be read.
        damaged_document doc(arg, first.size(), what);
        visit(doc);
      } else {
        report(arg, what.c_str());
      }
      ok = false;
      break;
    }
    if (ev == tl_unpacker::kMemberFailed) {
      std::string where = member.empty() ? std::string(arg) : std::string(arg) + ":" + member;
      any = true;
      report(where.c_str(), what.c_str());
      ok = false;
      continue;
    }
    any = true;
    member_document doc(member.empty() ? std::string(arg) : std::string(arg) + ":" + member, first.size(), u);
    doc.prepare();
    visit(doc);
    if (doc.failed()) ok = false;
  }
  return ok;
}

}  // namespace

void tl_input_reset() {
  tl_input_opts = tl_input_settings();
  ebcdic_ready = false;
}

bool tl_input_set_codepage(const char* codepage) {
  const char* page = codepage != nullptr ? codepage : kTlEbcdicDefault;
  if (!ebcdic_made_for.empty() && ebcdic_made_for == page) {
    ebcdic_ready = true;
    return true;
  }
  unsigned char t[256];
  if (!tl_ebcdic_table(page, t)) return false;
  tl_byte_table_make(ebcdic_table, t);
  ebcdic_made_for = page;
  ebcdic_ready = true;
  return true;
}

bool tl_each_document(const char* arg, const std::function<void(tl_document&)>& visit) {
  const bool is_stdin = std::strcmp(arg, "-") == 0;
  int fd = is_stdin ? STDIN_FILENO : open(arg, O_RDONLY | O_CLOEXEC);
  int open_errno = fd < 0 ? errno : 0;
  if (fd < 0 && open_errno == ENOENT) {
    // A missing file gives no document at all.
    tl_progress_clear();
    fprintf(stderr, "ERROR: Unable to open BDT file:%s\n", arg);
    tl_log(-1, "ERROR: Unable to open BDT file:%s\n", arg);
    tl_input_failures++;
    return false;
  }
  long long size = -1;
  struct stat st;
  if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) size = st.st_size;

  bool ok;
  {
    fd_document doc(arg, fd, open_errno, size);
    doc.peek_enough();
    tl_packing packing = tl_detect_packing(doc.held(), doc.held_count());
    if (fd >= 0 && packing != tl_packing::none) {
      ok = each_packed(arg, doc, packing, visit);
    } else {
      doc.prepare();
      visit(doc);
      if (fd < 0 && !doc.failed()) {
        // A file that cannot be opened is reported even when its document
        // was not read.
        const char* rec;
        unsigned long len;
        doc.next_record(&rec, &len);
      }
      ok = !doc.failed();
    }
  }
  if (fd >= 0 && !is_stdin) close(fd);
  return ok;
}

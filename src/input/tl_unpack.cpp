// The unpacking thread and its queue.
#include "tl_unpack.h"

#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "tl_dynlib.h"
#include "tl_globals.h"

namespace {

// libarchive is opened when the first compressed or archived input needs it,
// not linked: it brings libxml2 and ICU along, whose loading would cost every
// plain conversion a few milliseconds at start-up.
#define TL_ARCHIVE_FUNCTIONS(X) X(archive_, entry_filetype) X(archive_, entry_is_encrypted) X(archive_, entry_pathname) X(archive_, entry_size) X(archive_, entry_size_is_set) X(archive_, error_string) X(archive_, filter_code) X(archive_, format) X(archive_, read_data_block) X(archive_, read_free) X(archive_, read_new) X(archive_, read_next_header) X(archive_, read_open1) X(archive_, read_set_callback_data) X(archive_, read_set_read_callback) X(archive_, read_set_seek_callback) X(archive_, read_set_skip_callback) X(archive_, read_support_filter_bzip2) X(archive_, read_support_filter_lzma) X(archive_, read_support_filter_xz) X(archive_, read_support_filter_zstd) X(archive_, read_support_format_empty) X(archive_, read_support_format_raw) X(archive_, read_support_format_tar) X(archive_, read_support_format_zip) X(archive_, set_error)
TL_DYNLIB_TABLE(archive_api, ar, load_archive, "libarchive.so.13", TL_ARCHIVE_FUNCTIONS)
constexpr size_t kReadBytes = 1 << 16;
// Packed files up to this size are tried on the calling thread first (most
// unpack to less than the queue holds then).
constexpr off_t kInlineUpTo = 1 << 14;
}

tl_unpacker::tl_unpacker(int fd, const char* prefix, size_t n, bool archive)
    : fd_(fd), rbuf_(new char[kReadBytes]), archive_(archive) {
  gzip_ = n >= 2 && static_cast<unsigned char>(prefix[0]) == 0x1f && static_cast<unsigned char>(prefix[1]) == 0x8b;
  if (gzip_) {
    zs_.reset(new z_stream_s());
    zbuf_.reset(new char[kReadBytes]);
    // 15 + 16: a gzip wrapper, whose CRC and length inflate checks.
    if (inflateInit2(zs_.get(), 15 + 16) != Z_OK) zs_.reset();
  }
  struct stat st;
  // A regular file is read again from its start, and zip can seek in it.
  seekable_ = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && lseek(fd, 0, SEEK_SET) == 0;
  if (!seekable_) prefix_.assign(prefix, n);
  if (seekable_ && st.st_size <= kInlineUpTo) {
    inline_ = true;
    run();
    inline_ = false;
    if (suspended_) {
      // The queue filled in a member's data: the thread goes on with it.
      suspended_ = overflowed_ = false;
    } else if (!overflowed_ || !restart()) {
      return;
    }
  }
  if (!worker_.start([this] { run(); })) {
    // No thread to be had (resources exhausted): the input fails, clearly,
    // with nothing of it.
    queue_.clear();
    close_archive();
    block* b = acquire();
    b->end = kInputFailed;
    b->what = "cannot start the unpacking thread";
    queue_.publish();
  }
}

// Forgets what was unpacked on the calling thread, so that the thread starts
// again from the file's first byte. Returns false, with the failure queued,
// when the file cannot be read again.
bool tl_unpacker::restart() {
  queue_.clear();
  close_archive();
  overflowed_ = false;
  consumed_.store(0, std::memory_order_relaxed);
  if (zs_) {
    inflateReset(zs_.get());
    zs_->next_in = nullptr;
    zs_->avail_in = 0;
  }
  z_raw_end_ = z_between_ = z_done_ = false;
  z_error_.clear();
  if (lseek(fd_, 0, SEEK_SET) != 0) {
    block* b = acquire();
    b->end = kInputFailed;
    b->what = std::string("cannot read the file again (") + strerror(errno) + ")";
    queue_.publish();
    return false;
  }
  return true;
}

// Returns true when unpacking must end: stopped, or out of room on the
// calling thread.
bool tl_unpacker::halted() {
  if (overflowed_) return true;
  std::lock_guard<std::mutex> lock(worker_.mutex());
  return worker_.stopped();
}

tl_unpacker::~tl_unpacker() {
  worker_.stop();
  if (arch_ != nullptr) ar.read_free(arch_);
  if (zs_) inflateEnd(zs_.get());
}

ssize_t tl_unpacker::cb_read(struct archive* a, void* self_v, const void** buf) {
  auto* self = static_cast<tl_unpacker*>(self_v);
  return self->gzip_ ? self->gunzip_next(a, buf) : self->raw_next(a, buf);
}

// The next bytes of the gzip input inflated: one or more members, each
// checked against its CRC and length.
ssize_t tl_unpacker::gunzip_next(struct archive* a, const void** buf) {
  z_stream_s* z = zs_.get();
  if (z == nullptr) {
    ar.set_error(a, ENOMEM, "cannot start gzip decompression");
    return -1;
  }
  // Damage ends the stream for libarchive, which would drop the bytes it
  // holds on an error; the damage is told when the data is read to its end.
  if (z_done_ || !z_error_.empty()) return 0;
  for (;;) {
    if (z->avail_in == 0 && !z_raw_end_) {
      const void* p = nullptr;
      ssize_t n = raw_next(a, &p);
      if (n < 0) return -1;
      if (n == 0) {
        z_raw_end_ = true;
      } else {
        z->next_in = static_cast<Bytef*>(const_cast<void*>(p));
        z->avail_in = static_cast<uInt>(n);
      }
    }
    bool between = z_between_;
    if (z_between_) {
      if (z->avail_in == 0 && z_raw_end_) {
        z_done_ = true;
        return 0;
      }
      if (z->avail_in == 0) continue;
      z_between_ = false;
    }
    z->next_out = reinterpret_cast<Bytef*>(zbuf_.get());
    z->avail_out = static_cast<uInt>(kReadBytes);
    int r = inflate(z, Z_NO_FLUSH);
    ssize_t made = static_cast<ssize_t>(kReadBytes - z->avail_out);
    if (r == Z_STREAM_END) {
      // Another member may follow, as in files joined with cat.
      inflateReset(z);
      z_between_ = true;
    } else if (r == Z_DATA_ERROR || r == Z_NEED_DICT || r == Z_MEM_ERROR || r == Z_STREAM_ERROR) {
      z_error_ = between && made == 0 ? std::string("bytes after the gzip data that are no gzip member")
                                      : "damaged gzip data (" + std::string(z->msg != nullptr ? z->msg : "inflate failed") + ")";
      // The good bytes first.
      if (made > 0) {
        *buf = zbuf_.get();
        return made;
      }
      return 0;
    } else if (made == 0 && z->avail_in == 0 && z_raw_end_) {
      z_error_ = "truncated gzip input";
      return 0;
    }
    if (made > 0) {
      *buf = zbuf_.get();
      return made;
    }
  }
}

ssize_t tl_unpacker::raw_next(struct archive* a, const void** buf) {
  tl_unpacker* self = this;
  if (self->prefix_off_ < self->prefix_.size()) {
    *buf = self->prefix_.data() + self->prefix_off_;
    ssize_t n = static_cast<ssize_t>(self->prefix_.size() - self->prefix_off_);
    self->prefix_off_ = self->prefix_.size();
    return n;
  }
  for (;;) {
    // A pipe may stay silent: wait for it or for the stop together.
    if (!self->worker_.wait_readable(self->fd_)) {
      ar.set_error(a, ECANCELED, "stopped");
      return -1;
    }
    ssize_t r = ::read(self->fd_, self->rbuf_.get(), kReadBytes);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      ar.set_error(a, errno, "%s", strerror(errno));
      return -1;
    }
    self->consumed_.fetch_add(r, std::memory_order_relaxed);
    *buf = self->rbuf_.get();
    return r;
  }
}

int64_t tl_unpacker::cb_seek(struct archive* a, void* self_v, int64_t offset, int whence) {
  auto* self = static_cast<tl_unpacker*>(self_v);
  off_t r = lseek(self->fd_, static_cast<off_t>(offset), whence);
  if (r < 0) {
    ar.set_error(a, errno, "%s", strerror(errno));
    return ARCHIVE_FATAL;
  }
  self->consumed_.store(r, std::memory_order_relaxed);
  return r;
}

int64_t tl_unpacker::cb_skip(struct archive*, void* self_v, int64_t request) {
  auto* self = static_cast<tl_unpacker*>(self_v);
  off_t before = lseek(self->fd_, 0, SEEK_CUR);
  if (before < 0 || lseek(self->fd_, static_cast<off_t>(request), SEEK_CUR) < 0) return 0;
  self->consumed_.fetch_add(request, std::memory_order_relaxed);
  return request;
}

tl_unpacker::block* tl_unpacker::acquire() {
  block* b = inline_ ? queue_.try_acquire() : queue_.acquire();
  if (b == nullptr) {
    overflowed_ = inline_;
    return nullptr;
  }
  // Made when first needed (a small input fills one or two), smaller on the
  // calling thread.
  const size_t cap = inline_ ? kInlineBlockBytes : kBlockBytes;
  if (b->cap != cap) {
    b->data.reset(new char[cap]);
    b->cap = cap;
  }
  b->n = 0;
  b->starts = false;
  b->name.clear();
  b->end = kGoesOn;
  b->what.clear();
  return b;
}

void tl_unpacker::publish() { queue_.publish(); }

tl_unpacker::block* tl_unpacker::front() { return queue_.front(); }

void tl_unpacker::pop() {
  queue_.pop();
  off_ = 0;
}

void tl_unpacker::finish(ending end, const std::string& what) {
  block* b = acquire();
  if (b == nullptr) return;
  b->end = end;
  b->what = what;
  publish();
}

std::string tl_unpacker::reason() const {
  // libarchive's words name the library's view; what is wrong with the file
  // comes first. The inflating here gives its own plain words.
  const char* s = ar.error_string(arch_);
  std::string why(s != nullptr ? s : "unreadable data");
  if (gzip_) return z_error_.empty() ? why : z_error_;
  return "damaged or truncated data (" + why + ")";
}

bool tl_unpacker::open_archive() {
  if (!load_archive()) {
    finish(kInputFailed, "libarchive, which reads compressed and archived input, cannot be loaded");
    return false;
  }
  struct archive* a = ar.read_new();
  arch_ = a;
  passes_.fetch_add(1, std::memory_order_relaxed);
  if (!gzip_) {
    ar.read_support_filter_bzip2(a);
    ar.read_support_filter_xz(a);
    ar.read_support_filter_lzma(a);
    ar.read_support_filter_zstd(a);
  }
  ar.read_support_format_tar(a);
  ar.read_support_format_zip(a);
  ar.read_support_format_raw(a);
  ar.read_support_format_empty(a);
  ar.read_set_callback_data(a, this);
  ar.read_set_read_callback(a, &tl_unpacker::cb_read);
  // A seek moves in the file's bytes: none under the inflating done here.
  if (seekable_ && !gzip_) {
    ar.read_set_seek_callback(a, &tl_unpacker::cb_seek);
    ar.read_set_skip_callback(a, &tl_unpacker::cb_skip);
  }
  if (ar.read_open1(a) != ARCHIVE_OK) {
    finish(kInputFailed, reason());
    close_archive();
    return false;
  }
  return true;
}

void tl_unpacker::close_archive() {
  if (arch_ != nullptr) ar.read_free(arch_);
  arch_ = nullptr;
  unpacking_ = member();
  members_ = false;
  failed_headers_ = 0;
  first_header_ = true;
}

void tl_unpacker::run() {
  if (arch_ == nullptr && !open_archive()) return;
  // The member the calling thread was unpacking when the queue filled goes
  // on here, where it stopped.
  bool more = !unpacking_.active || member_data();
  while (more) more = next_member();
  // Left open for the thread that goes on with it.
  if (!suspended_) close_archive();
}

bool tl_unpacker::next_member() {
  struct archive* a = arch_;
  const bool first = first_header_;
  first_header_ = false;
  struct archive_entry* e = nullptr;
  int r = ar.read_next_header(a, &e);
  // What the magic numbers promised must be what libarchive found.
  if (first && r != ARCHIVE_FATAL && archive_ && ar.format(a) == ARCHIVE_FORMAT_RAW) {
    finish(kInputFailed, "not a readable zip or tar archive");
    return false;
  }
  if (first && r != ARCHIVE_FATAL && !archive_ && !gzip_ && ar.filter_code(a, 0) == ARCHIVE_FILTER_NONE) {
    finish(kInputFailed, "not a readable bzip2, xz or zstd stream");
    return false;
  }
  if (r == ARCHIVE_EOF && gzip_ && !z_error_.empty()) {
    finish(members_ ? kInputEnd : kInputFailed, z_error_);
    return false;
  }
  if (r == ARCHIVE_EOF) {
    // A compressed empty file is one empty document, as the empty file is.
    if (!members_ && ar.format(a) == ARCHIVE_FORMAT_EMPTY) {
      block* b = acquire();
      if (b == nullptr) return false;
      b->starts = true;
      b->end = kMemberEnd;
      publish();
    }
    finish(kInputEnd, "");
    return false;
  }
  if (r == ARCHIVE_FATAL || r == ARCHIVE_RETRY) {
    finish(kInputFailed, reason());
    return false;
  }
  if (r == ARCHIVE_FAILED) {
    // libarchive moves on to the next member; should it not, the input ends.
    if (++failed_headers_ > 1000) {
      finish(kInputFailed, reason());
      return false;
    }
    finish(kSkipped, reason());
    return !halted();
  }
  const bool raw = ar.format(a) == ARCHIVE_FORMAT_RAW;
  const char* path = ar.entry_pathname(e);
  std::string name = raw ? std::string() : std::string(path != nullptr ? path : "");
  if (!raw) {
    if (ar.entry_filetype(e) != AE_IFREG) return true;
    if (ar.entry_is_encrypted(e)) {
      block* b = acquire();
      if (b == nullptr) return false;
      b->name = name;
      b->end = kSkipped;
      b->what = "encrypted member, not read";
      publish();
      return true;
    }
    if (ar.entry_size_is_set(e) && ar.entry_size(e) == 0) return true;
  }
  unpacking_ = member();
  unpacking_.active = true;
  unpacking_.raw = raw;
  unpacking_.name = std::move(name);
  return member_data();
}

bool tl_unpacker::member_data() {
  // The member's data, block by block; an empty member of an archive gives
  // no document, the one stream of a compressed file always does.
  member& m = unpacking_;
  bool failed = false, fatal = false;
  std::string damage;
  for (;;) {
    block* b = acquire();
    if (b == nullptr) {
      // Out of room on the calling thread: the thread goes on from here.
      suspended_ = inline_;
      if (suspended_) return false;
      break;
    }
    bool eof = false;
    while (b->n < b->cap) {
      size_t room = b->cap - b->n;
      if (m.zeros > 0) {
        size_t k = m.zeros < static_cast<int64_t>(room) ? static_cast<size_t>(m.zeros) : room;
        std::memset(b->data.get() + b->n, 0, k);
        b->n += k;
        m.zeros -= static_cast<int64_t>(k);
        continue;
      }
      if (m.pend_n > 0) {
        size_t k = m.pend_n < room ? m.pend_n : room;
        std::memcpy(b->data.get() + b->n, m.pend, k);
        b->n += k;
        m.pend += k;
        m.pend_n -= k;
        continue;
      }
      if (m.at_end) {
        eof = true;
        break;
      }
      // A block is filled whole from a file; from a pipe it goes on as
      // soon as it holds anything, so that records come as the bytes do.
      if (!seekable_ && b->n > 0) break;
      const void* p = nullptr;
      size_t len = 0;
      la_int64_t off = 0;
      int r = ar.read_data_block(arch_, &p, &len, &off);
      if (r == ARCHIVE_EOF && gzip_ && !z_error_.empty()) {
        // The stream ended at damage: the member ends damaged.
        failed = fatal = true;
        damage = z_error_;
        break;
      }
      if (r == ARCHIVE_EOF) {
        m.at_end = true;
        continue;
      }
      if (r != ARCHIVE_OK && r != ARCHIVE_WARN) {
        failed = true;
        fatal = r == ARCHIVE_FATAL || r == ARCHIVE_RETRY;
        damage = reason();
        break;
      }
      if (off > m.pos) m.zeros = off - m.pos;
      m.pos = (off > m.pos ? off : m.pos) + static_cast<int64_t>(len);
      m.pend = static_cast<const char*>(p);
      m.pend_n = len;
    }
    if (!m.started && (b->n > 0 || m.raw || failed)) {
      b->starts = true;
      b->name = m.name;
      m.started = true;
    }
    if (failed) {
      b->end = kMemberDamaged;
      b->what = damage;
    } else if (eof) {
      b->end = m.started ? kMemberEnd : kGoesOn;
    }
    if (m.started) publish();
    if (failed || eof) break;
  }
  m.active = false;
  members_ = members_ || m.started;
  if (fatal) {
    finish(kInputEnd, "");
    return false;
  }
  return !halted();
}

tl_unpacker::event tl_unpacker::next(std::string* name, std::string* what) {
  // What is left of the current member is passed over.
  while (in_member_) {
    block* b = front();
    if (b == nullptr) return kEnd;
    bool last = b->end != kGoesOn;
    pop();
    if (last) in_member_ = false;
  }
  block* b = front();
  if (b == nullptr) return kEnd;
  if (b->starts) {
    *name = b->name;
    in_member_ = true;
    off_ = 0;
    return kMember;
  }
  switch (b->end) {
    case kSkipped:
      *name = b->name;
      *what = b->what;
      pop();
      return kMemberFailed;
    case kInputFailed:
      *what = what_ = b->what;
      return kFailed;  // stays in front: nothing comes after it
    default:
      return kEnd;
  }
}

long tl_unpacker::read(char* buf, size_t n) {
  while (in_member_) {
    block* b = front();
    if (b == nullptr) return 0;
    if (off_ < b->n) {
      size_t k = b->n - off_;
      if (k > n) k = n;
      std::memcpy(buf, b->data.get() + off_, k);
      off_ += k;
      return static_cast<long>(k);
    }
    if (b->end == kGoesOn) {
      pop();
      continue;
    }
    in_member_ = false;
    ending end = b->end;
    what_ = b->what;
    pop();
    if (end == kMemberDamaged) {
      errno = EIO;
      return -1;
    }
    return 0;
  }
  return 0;
}

// Blocks of a document converted on the threads of a pool, written in order.
#include "tl_blocks.h"

#include <csignal>
#include <algorithm>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif
#include <cstring>
#include <pthread.h>
#include <unistd.h>
#include <cerrno>

#include "tl_globals.h"
#include "tl_lines.h"
#include "tl_progress.h"

namespace {

// Bytes in flight stay bounded whatever the jobs: at most this many blocks,
// four a thread, so that a thread finds a block to take while the reading
// thread converts one of its own.
constexpr size_t kSlotsPerJob = 4;
constexpr size_t kMaxSlots = 16;
// Blocks of 256 KB, which a core's cache holds while the block is cut and
// converted (blocks of 1 MB made the summary slower), and smaller when many
// are in hand for a sink whose output may be ten times a block.
constexpr size_t kAutoBlock = 1 << 18;
constexpr size_t kAutoInHand = 1 << 21;
constexpr size_t kAutoInHandLittle = 1 << 23;

// Runs fn with one record text NUL-terminated in place (the byte after it
// is put back), as the formatters take records.
template <class F>
inline void with_nul(char* rec, size_t len, F fn) {
  const char kept = rec[len];
  rec[len] = '\0';
  fn();
  rec[len] = kept;
}

// Tries of a spinning wait before sleeping: about 0.1 ms on the machine of
// development, under the time a block of 256 KB takes to convert.
constexpr int kSpins = 4000;

inline void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
  _mm_pause();
#endif
}

}  // namespace

tl_block_runner::tl_block_runner(tl_sink& sink, int jobs, size_t block)
    : sink_(sink), jobs_(jobs), nuls_(sink.wants_nuls()), carries_(sink.carries()) {
  size_t n = static_cast<size_t>(jobs) * kSlotsPerJob;
  if (n > kMaxSlots) n = kMaxSlots;
  if (block == 0) {
    block = std::min<size_t>(kAutoBlock, (sink.writes_little() ? kAutoInHandLittle : kAutoInHand) / n);
  }
  block_ = block < 256 ? 256 : block;
  if (static_cast<size_t>(jobs_) > n) jobs_ = static_cast<int>(n);
  spin_ = jobs_ <= tl_cores();
  for (size_t i = 0; i < n; i++) {
    std::unique_ptr<slot> s(new slot);
    s->worker = sink.fork();
    if (!s->worker) {
      slots_.clear();
      return;
    }
    // A block keeps the rest of a piece from the block before (under 255
    // bytes) before its own bytes, and a NUL after them.
    s->data.reset(new char[kLead + block_ + 1]);
    s->pieces.reserve(block_ / 64 + 8);
    slots_.push_back(std::move(s));
  }
}

tl_block_runner::~tl_block_runner() {
  {
    std::lock_guard<std::mutex> lock(m_);
    stopping_ = true;
  }
  work_cv_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void tl_block_runner::start_threads() {
  if (!threads_.empty()) return;
  // Signals are the calling thread's: the workers start with all blocked.
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &old);
  // The calling thread converts blocks too.
  for (int i = 1; i < jobs_; i++) {
    try {
      threads_.emplace_back([this] { work(); });
    } catch (const std::system_error&) {
      break;  // fewer threads: the blocks wait their turn
    }
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

template <class P>
bool tl_block_runner::spin(P pred) const {
  if (spin_) {
    for (int i = 0; i < kSpins; i++) {
      if (pred()) return true;
      cpu_relax();
    }
  }
  return pred();
}

void tl_block_runner::work() {
  for (;;) {
    slot* s;
    {
      std::unique_lock<std::mutex> lock(m_);
      if (queue_.empty() && !stopping_) {
        lock.unlock();
        spin([this] { return queued_.load(std::memory_order_relaxed) > 0 || stopping_.load(std::memory_order_relaxed); });
        lock.lock();
      }
      work_cv_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;
      s = queue_.front();
      queue_.pop_front();
      queued_.store(queue_.size(), std::memory_order_relaxed);
    }
    convert(*s);
  }
}

bool tl_block_runner::help() {
  slot* s;
  {
    std::lock_guard<std::mutex> lock(m_);
    if (queue_.empty()) return false;
    s = queue_.front();
    queue_.pop_front();
    queued_.store(queue_.size(), std::memory_order_relaxed);
  }
  convert(*s);
  return true;
}

template <class F>
void tl_block_runner::each_piece(char* data, size_t n, F fn) {
  // A block without a NUL (nearly all) is cut with no cost for the masks.
  const bool masks = nuls_ && std::memchr(data, '\0', n) != nullptr;
  if (!masks) tl_blank_nuls(data, n);
  nul_mask m;
  for (size_t at = 0; at < n;) {
    const size_t len = tl_cut_piece(data + at, n - at, true);
    char* rec = data + at;
    bool held = false;
    if (masks) {
      m = nul_mask{};
      held = tl_blank_piece_nuls(rec, len, m.bits);
    }
    bool go_on = true;
    with_nul(rec, len, [&] { go_on = fn(rec, len, held ? m.bits : nullptr); });
    if (!go_on) return;
    at += len;
  }
}

size_t tl_block_runner::raw_block() const {
  // Framed records end a block, so the block after starts with one.
  return shape_.lrecl > 0 ? block_ / (shape_.lrecl + 2) * shape_.lrecl : block_;
}

void tl_block_runner::read_own(slot& s) {
  const size_t want = raw_block();
  const size_t lrecl = shape_.lrecl;
  // Framed records take more room than they were read in: they are read
  // behind the room they take, and framed forward.
  char* const to = s.data.get() + kLead;
  char* const raw = lrecl > 0 ? to + want / lrecl * 2 : to;
  size_t got = 0;
  s.read_err = 0;
  while (got < want) {
    const ssize_t r = pread(s.fd, raw + got, want - got, s.file_off + static_cast<off_t>(got));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      s.read_err = errno;
      break;
    }
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  s.raw_got = got;
  s.consumed += static_cast<long long>(got);
  // A short read is the end of the file.
  s.ended = got < want;
  if (lrecl == 0) {
    if (shape_.table != nullptr) tl_decode_bytes(*shape_.table, to, to, got);
    s.got = got;
    return;
  }
  // A failed read keeps whole records only; the end of the file keeps a
  // shorter last one too, as the framing does.
  if (s.read_err != 0) got -= got % lrecl;
  size_t out = 0;
  for (size_t at = 0; at < got; at += lrecl) {
    const size_t n = std::min(lrecl, got - at);
    if (shape_.table != nullptr) {
      tl_decode_bytes(*shape_.table, to + out, raw + at, n);
    } else {
      std::memmove(to + out, raw + at, n);
    }
    out += n;
    to[out++] = '\r';
    to[out++] = '\n';
  }
  s.got = out;
}

bool tl_block_runner::takes(tl_document& doc) {
  own_fd_ = -1;
  shape_ = tl_shape();
  if (!doc.reshaped()) return true;
  tl_shape sh;
  doc.shape(&sh);
  // A block holds at least one framed record.
  if (sh.lrecl + 2 > block_) return false;
  long long off = 0;
  const int fd = doc.positional(&off);
  if (fd < 0) return false;
  own_fd_ = fd;
  own_off_ = off;
  shape_ = sh;
  return true;
}

void tl_block_runner::cut(slot& s, char* from, size_t n, std::vector<piece>& into) {
  char* const data = s.data.get();
  unsigned long long line = 0;
  each_piece(from, n, [&](char* rec, size_t len, const uint64_t* mask) {
    line++;
    if (!tl_filter_pass(filter_, rec, len)) return true;
    size_t m = 0;
    if (mask != nullptr) {
      s.masks.push_back(nul_mask{{mask[0], mask[1], mask[2], mask[3]}});
      m = s.masks.size();
    }
    // Field by field: a piece built whole on the stack and copied stalled
    // on its narrow stores.
    piece& p = into.emplace_back();
    p.off = static_cast<unsigned>(rec - data);
    p.len = static_cast<unsigned>(len);
    p.line = line;
    p.mask = m;
    return true;
  });
  (&into == &s.heads ? s.head_lines : s.body_lines) = line;
}

void tl_block_runner::cut_body(slot& s) {
  s.heads.clear();
  s.pieces.clear();
  s.masks.clear();
  s.head_lines = s.body_lines = 0;
  if (s.file_off < 0) {
    // Read here and cut at a boundary already: all of it is body.
    s.head_len = 0;
    cut(s, s.bytes, s.len, s.pieces);
    return;
  }
  // Every line end ends a piece: the pieces after the first one in the
  // block are the same whatever came before, and are cut now.
  char* own = s.data.get() + kLead;
  const void* nl = std::memchr(own, '\n', s.got);
  if (nl == nullptr) {
    s.head_len = s.got;  // all of it waits for the block before
    return;
  }
  s.head_len = static_cast<size_t>(static_cast<const char*>(nl) - own) + 1;
  const size_t n = s.got - s.head_len;
  // The end of the file makes the rest a last piece, but a failed read
  // leaves only whole pieces, as reading record by record does.
  const size_t body = s.ended && s.read_err == 0 ? n : tl_last_boundary(own + s.head_len, n);
  s.tail_len = n - body;
  std::memcpy(s.tail, own + s.head_len + body, s.tail_len);
  cut(s, own + s.head_len, body, s.pieces);
}

bool tl_block_runner::cut_head(slot& s) {
  if (s.file_off < 0) return true;
  if (s.prev != nullptr) {
    const slot& p = *s.prev;
    if (p.ended) return false;
    // The rest of the block before, under a piece, goes before the bytes.
    if (p.file_off >= 0) {
      s.lead_len = p.tail_len;
      std::memcpy(s.data.get() + kLead - s.lead_len, p.tail, s.lead_len);
    }
  }
  char* head = s.data.get() + kLead - s.lead_len;
  size_t n = s.lead_len + s.head_len;
  if (s.head_len == s.got) {
    // No line end of its own: its rest depends on the block before.
    const size_t whole = s.ended && s.read_err == 0 ? n : tl_last_boundary(head, n);
    s.tail_len = n - whole;
    std::memcpy(s.tail, head + whole, s.tail_len);
    n = whole;
  }
  cut(s, head, n, s.heads);
  return true;
}

void tl_block_runner::convert(slot& s) {
  tl_sink& w = *s.worker;
  // What does not depend on the block before is read and cut before its
  // state comes.
  if (s.file_off >= 0) read_own(s);
  cut_body(s);
  if (s.prev != nullptr) {
    // The state the records before left, from the block before.
    const auto relayed = [&s] { return s.prev->relayed.load(std::memory_order_acquire); };
    if (!spin(relayed)) {
      std::unique_lock<std::mutex> lock(m_);
      relay_cv_.wait(lock, relayed);
    }
    s.start = s.prev->end;
    s.line_base = s.prev->line_end;
  }
  if (s.worker_doc != s.doc_serial) {
    s.worker_doc = s.doc_serial;
    w.begin(*s.doc);
  }
  // A block read past the file's end has nothing: it passes the state on.
  const bool some = cut_head(s);
  char* const data = s.data.get();
  if (!some) {
    s.heads.clear();
    s.pieces.clear();
    s.head_lines = s.body_lines = 0;
    s.ended = true;
    s.got = 0;
    s.read_err = 0;
    s.tail_len = 0;
    s.end = s.start;
  } else if (carries_) {
    // Pass the state on before converting.
    w.load(s.start);
    for (const std::vector<piece>* v : {&s.heads, &s.pieces}) {
      for (const piece& p : *v) with_nul(data + p.off, p.len, [&] { w.skim(data + p.off, p.len); });
    }
    w.save(s.end);
  }
  {
    std::lock_guard<std::mutex> lock(m_);
    s.line_end = s.line_base + s.head_lines + s.body_lines;
    s.relayed = true;
  }
  // The worker of the block after it may wait for this, and the reading
  // thread to use a slot again.
  relay_cv_.notify_all();
  done_cv_.notify_one();
  bool ok = true;
  if (some) {
    if (carries_) w.load(s.start);
    unsigned long long base = s.line_base;
    for (const std::vector<piece>* v : {&s.heads, &s.pieces}) {
      for (const piece& p : *v) {
        if (p.mask != 0) w.nuls(s.masks[p.mask - 1].bits);
        with_nul(data + p.off, p.len, [&] { ok = w.record(data + p.off, p.len, base + p.line); });
        if (!ok) break;
      }
      if (!ok) break;
      base += s.head_lines;
    }
  }
  {
    std::lock_guard<std::mutex> lock(m_);
    s.ok = ok;
    s.done = true;
  }
  done_cv_.notify_one();
}

bool tl_block_runner::fill(tl_document& doc, slot& s) {
  while (s.len < block_) {
    const size_t want = block_ - s.len;
    const long r = doc.next_bytes(s.data.get() + s.len, want);
    if (r <= 0) return false;
    s.len += static_cast<size_t>(r);
    // A slow input (a pipe, a terminal) is handed on as it comes, once a
    // whole record is there, as reading record by record does.
    if ((static_cast<size_t>(r) < want || tl_shutdown) && tl_last_boundary(s.data.get(), s.len) > 0) break;
  }
  return true;
}

bool tl_block_runner::queued_first(const slot& s) {
  // Threads still starting have not taken it: it is converted here rather
  // than waited for.
  if (queued_.load(std::memory_order_relaxed) == 0) return false;
  std::lock_guard<std::mutex> lock(m_);
  return !queue_.empty() && queue_.front() == &s;
}

bool tl_block_runner::joinable(const slot& s) {
  // The block after it must have taken its state before the slot is used
  // again.
  return s.done.load(std::memory_order_acquire) &&
         (s.next == nullptr || s.next->relayed.load(std::memory_order_acquire));
}

bool tl_block_runner::join(slot& s) {
  const auto ready = [&s] { return joinable(s); };
  // A block no thread has taken is converted here meanwhile, but one is
  // left for the threads, so that they are not idle while this one reads.
  // When the threads have taken all, s will be ready without this one.
  const size_t leave = threads_.empty() ? 0 : 1;
  const auto to_help = [this, leave] { return queued_.load(std::memory_order_relaxed) > leave; };
  while (!ready()) {
    if ((to_help() || queued_first(s)) && help()) continue;
    if (spin([&] { return ready() || to_help(); })) continue;
    std::unique_lock<std::mutex> lock(m_);
    done_cv_.wait(lock, ready);
  }
  // The progress of what is written, not of what is read ahead.
  tl_progress_note(s.doc->name(), s.doc->size(), s.consumed);
  const bool ok = s.ok && sink_.join(*s.worker);
  s.done = s.relayed = false;
  return ok;
}

bool tl_block_runner::feed(tl_document& doc, tl_filter filter, tl_doc_end& e) {
  filter_ = filter;
  const unsigned long long serial = ++doc_serial_;
  std::deque<slot*> flight;  // blocks handed out, in input order
  size_t next = 0;           // the slot to fill next
  slot* prev = nullptr;
  char rest[kLead];
  size_t rest_len = 0;
  bool ok = true, more = true;
  // Once the first block is read, the blocks of a regular file are read by
  // the threads that convert them, from this descriptor and offset on.
  // A reshaped document is read so from its start (takes()).
  int fd = own_fd_;
  long long off = own_off_, off0 = own_off_, consumed0 = 0;
  own_fd_ = -1;
  bool first_own = true;
  tl_carry start;
  sink_.save(start);
  tl_progress_note(doc.name(), doc.size(), doc.consumed());
  const auto retire = [&](slot& s) {
    ok = join(s) && ok;
    if (s.file_off >= 0) {
      e.bytes += s.got;
      if (s.read_err != 0) doc.read_failed(s.read_err);
      if (s.ended && more) {
        // The first block that ended it: the descriptor is left where
        // reading to the end leaves it (standard input may be read again).
        more = false;
        lseek(s.fd, s.file_off + static_cast<off_t>(s.raw_got), SEEK_SET);
      }
    }
    s.doc = nullptr;
  };
  while (more && ok && !tl_shutdown && !tl_output_failed) {
    slot& s = *slots_[next];
    next = (next + 1) % slots_.size();
    if (s.doc != nullptr) {
      // The slot's block from before must be written first.
      flight.pop_front();
      retire(s);
      if (!more || !ok) break;
    }
    if (fd >= 0) {
      s.fd = fd;
      s.file_off = off;
      s.consumed = consumed0 + (off - off0);
      s.lead_len = 0;
      if (first_own) {
        // The rest of the last block read here comes first.
        first_own = false;
        s.lead_len = rest_len;
        std::memcpy(s.data.get() + kLead - rest_len, rest, rest_len);
      }
      off += static_cast<long long>(raw_block());
    } else {
      s.file_off = -1;
      s.bytes = s.data.get();
      std::memcpy(s.data.get(), rest, rest_len);
      s.len = rest_len;
      const size_t before = s.len;
      more = fill(doc, s);
      s.consumed = doc.consumed();
      e.bytes += s.len - before;
      // The document's end makes the rest a last piece, but a failed read
      // leaves only whole pieces, as reading record by record does.
      const bool at_end = !more && !doc.failed();
      size_t cut = at_end ? s.len : tl_last_boundary(s.data.get(), s.len);
      rest_len = s.len - cut;  // under 255 bytes: less than a whole piece
      std::memcpy(rest, s.data.get() + cut, rest_len);
      if (tl_shutdown && cut > 0) {
        // A stopped run finishes the record in hand, as on one thread.
        cut = tl_cut_piece(s.data.get(), cut, true);
        more = false;
      }
      s.len = cut;
      if (s.len == 0) break;
    }
    s.doc = &doc;
    s.doc_serial = serial;
    s.prev = prev;
    s.relayed = s.done = false;
    s.ended = false;
    s.ok = true;
    if (prev == nullptr) {
      s.start = start;
      s.line_base = 0;
    }
    s.next = nullptr;
    if (prev == nullptr && !more) {
      // A document of one block stays on this thread.
      unsigned long long line = 0;
      // The record in hand is finished when a signal comes, as on one thread.
      each_piece(s.data.get(), s.len, [&](char* rec, size_t n, const uint64_t* mask) {
        if (!ok || (line > 0 && tl_shutdown) || tl_output_failed) return false;
        line++;
        if (tl_filter_pass(filter, rec, n)) {
          if (mask != nullptr) sink_.nuls(mask);
          ok = sink_.record(rec, n, line);
        }
        return true;
      });
      e.records = line;
      s.doc = nullptr;
      return ok;
    }
    start_threads();
    {
      // With no thread to be had (resources exhausted), the blocks are
      // converted by this one, in order, when it joins them.
      std::lock_guard<std::mutex> lock(m_);
      if (prev != nullptr) prev->next = &s;
      queue_.push_back(&s);
      queued_.store(queue_.size(), std::memory_order_relaxed);
    }
    work_cv_.notify_one();
    flight.push_back(&s);
    prev = &s;
    if (fd < 0 && more) {
      // Once the bytes held for telling the input's form are used up.
      fd = doc.positional(&off);
      off0 = off;
      consumed0 = doc.consumed();
    }
  }
  // Every block handed out is written, also when the run stops: the output
  // then ends at a block's end, a record boundary.
  while (!flight.empty()) {
    slot& s = *flight.front();
    flight.pop_front();
    retire(s);
  }
  if (prev != nullptr) {
    if (carries_) sink_.load(prev->end);
    e.records = prev->line_end;
  }
  return ok;
}

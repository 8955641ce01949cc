// A document converted on several threads, in blocks: a block of a regular
// file is read (and decoded and framed) by the thread that converts it, a
// block of another input by the calling thread. Each block goes to a worker
// (a fork of the sink), converted on a thread of the pool or on the calling
// thread while it has nothing else to do, and the blocks are written in
// input order by the calling thread. A block needs the records before it,
// not their output: each worker first cuts its block and advances the
// sink's carried state over it (cheap, and in order, from the state the
// block before left), hands that on, and only then converts.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "tl_sink.h"

class tl_block_runner {
 public:
  // Makes the workers of sink for jobs threads (>= 2, the calling one
  // among them) and blocks of about block bytes; the threads start with the
  // first document that needs them.
  tl_block_runner(tl_sink& sink, int jobs, size_t block);
  // Stops the threads and waits for them.
  ~tl_block_runner();
  tl_block_runner(const tl_block_runner&) = delete;
  tl_block_runner& operator=(const tl_block_runner&) = delete;

  // Returns false when the sink cannot run on several threads.
  bool usable() const { return !slots_.empty(); }
  // Returns true when the next feed() can take doc: a document whose bytes
  // are decoded or framed on their way only when they can be read from its
  // file by the threads (which then do the decoding and framing).
  bool takes(tl_document& doc);

  // Feeds the records of doc that pass filter to the sink, as the driver's
  // loop on one thread would, and fills in e (complete aside). Returns
  // false when a worker failed and the run must stop.
  bool feed(tl_document& doc, tl_filter filter, tl_doc_end& e);

 private:
  struct piece {
    unsigned off;
    unsigned len;
    unsigned long long line;
    size_t mask;  // 1 + its place in slot::masks when it held a NUL, else 0
  };
  struct nul_mask {
    uint64_t bits[4];
  };
  // Room before a block's bytes for the rest of the block before it, less
  // than a piece.
  static constexpr size_t kLead = 256;
  struct slot {
    std::unique_ptr<char[]> data;  // room for the rest before, the block's bytes, a NUL
    char* bytes = nullptr;         // where its bytes start, once cut
    size_t len = 0;                // its bytes, up to its last boundary
    // A block of a regular file read by the thread that converts it: from
    // fd at file_off; -1 for a block read by the reading thread.
    int fd = -1;
    long long file_off = -1;
    size_t got = 0;                // bytes it holds, decoded and framed
    size_t raw_got = 0;            // bytes it read (fewer than asked: the end)
    int read_err = 0;              // errno of a failed read
    size_t lead_len = 0;           // bytes of the block before put before its own
    size_t head_len = 0;           // its bytes up to its first line end
    char tail[kLead];              // its rest after its last boundary, for the block after
    size_t tail_len = 0;
    bool ended = false;            // the document ends in it: the blocks after it are empty
    long long consumed = 0;        // the document's bytes read once the block was
    std::unique_ptr<tl_sink> worker;
    const tl_document* doc = nullptr;
    unsigned long long doc_serial = 0;
    unsigned long long worker_doc = 0;  // the document the worker last began
    slot* prev = nullptr;          // the block before in the document; null for its first
    slot* next = nullptr;          // the block after it, once handed out
    tl_carry start, end;
    unsigned long long line_base = 0, line_end = 0;
    // Its pieces that pass the filter: those up to its first line end, cut
    // once the block before is, then the others; line is 1-based within each.
    std::vector<piece> heads, pieces;
    unsigned long long head_lines = 0, body_lines = 0;  // pieces of each, filtered ones too
    std::vector<nul_mask> masks;   // of the pieces that held a NUL, when the sink wants them
    // Set under m_, read without it while spinning.
    std::atomic<bool> relayed{false}, done{false};
    bool ok = true;
  };

  void start_threads();
  void work();
  void convert(slot& s);
  // Reads a block of a file into s, after room for the rest of the block
  // before, and decodes and frames it as shape_ says.
  void read_own(slot& s);
  // Returns the bytes of the file a block reads: its framed records fill
  // at most a block.
  size_t raw_block() const;
  // Cuts the n bytes at from, which start at a piece's start, into pieces
  // that pass the filter (s.heads or s.pieces), counting every piece.
  void cut(slot& s, char* from, size_t n, std::vector<piece>& into);
  // Cuts what of s does not depend on the block before: a block read by
  // the reading thread whole, a block read here from its first line end on
  // (keeping its rest for the block after).
  void cut_body(slot& s);
  // Puts the rest of the block before in front of the bytes of s up to its
  // first line end and cuts them. Returns false when the document ended in
  // a block before (s is then empty).
  bool cut_head(slot& s);
  // Reads up to a block behind the n bytes already at s.data. Returns false
  // when the document ended (at its end or on a failure).
  bool fill(tl_document& doc, slot& s);
  // Returns true when s is converted and the block after it has taken its
  // state, so that s can be written and used again.
  static bool joinable(const slot& s);
  // Returns true when s waits first in the queue, taken by no thread yet.
  bool queued_first(const slot& s);
  // Converts the oldest block no thread has taken, on this thread. Returns
  // false when there is none.
  bool help();
  // Writes s once it is joinable, converting blocks while it waits.
  bool join(slot& s);
  // Spins a little while pred() is false, when a thread has a core of its
  // own: a wait of a few microseconds costs less than sleeping and being
  // woken. Returns pred().
  template <class P>
  bool spin(P pred) const;
  // Cuts the n bytes at data into pieces, gives their NULs as blanks and
  // calls fn(rec, len, mask) for each: mask says where the NULs were when
  // the sink wants to know and the piece held one, else it is null. Stops
  // when fn returns false.
  template <class F>
  void each_piece(char* data, size_t n, F fn);

  tl_sink& sink_;
  int jobs_;
  bool spin_ = false;  // no more threads than cores
  size_t block_;
  tl_filter filter_ = tl_filter::classes;
  bool nuls_ = false;  // the sink wants the NUL masks of records
  bool carries_ = false;  // the sink carries state from record to record
  std::vector<std::unique_ptr<slot>> slots_;
  std::vector<std::thread> threads_;
  std::mutex m_;
  // Separate wake-ups, so that each wakes only who waits for it: workers
  // for a block to take, a worker for the block before to hand its state
  // on, the reading thread for a block to be done.
  std::condition_variable work_cv_, relay_cv_, done_cv_;
  std::deque<slot*> queue_;
  // The file of a reshaped document the next feed() reads, from takes().
  int own_fd_ = -1;
  long long own_off_ = 0;
  tl_shape shape_;
  std::atomic<size_t> queued_{0};  // queue_.size(), for spinning without m_
  std::atomic<bool> stopping_{false};  // set under m_, read while spinning too
  unsigned long long doc_serial_ = 0;
};

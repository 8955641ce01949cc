// A document converted on several threads. The calling thread reads the
// document's bytes in blocks that end at record boundaries; each block goes
// to a worker (a fork of the sink), converted on a thread of the pool or on
// the calling thread while it has nothing else to do, and the blocks are
// written in input order by the calling thread. A block needs the records
// before it, not their output: each worker first cuts its block and
// advances the sink's carried state over it (cheap, and in order, from the
// state the block before left), hands that on, and only then converts.
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
  struct slot {
    std::unique_ptr<char[]> data;  // the block's bytes, then room for a NUL
    size_t len = 0;
    long long consumed = 0;        // the document's bytes read once the block was
    bool at_end = false;           // the document's last block: its rest is a piece
    std::unique_ptr<tl_sink> worker;
    const tl_document* doc = nullptr;
    unsigned long long doc_serial = 0;
    unsigned long long worker_doc = 0;  // the document the worker last began
    slot* prev = nullptr;          // the block before in the document; null for its first
    slot* next = nullptr;          // the block after it, once handed out
    tl_carry start, end;
    unsigned long long line_base = 0, line_end = 0;
    std::vector<piece> pieces;
    std::vector<nul_mask> masks;   // of the pieces that held a NUL, when the sink wants them
    // Set under m_, read without it while spinning.
    std::atomic<bool> relayed{false}, done{false};
    bool ok = true;
  };

  void start_threads();
  void work();
  void convert(slot& s);
  // Reads up to a block behind the n bytes already at s.data. Returns false
  // when the document ended (at its end or on a failure).
  bool fill(tl_document& doc, slot& s);
  // Returns true when s is converted and the block after it has taken its
  // state, so that s can be written and used again.
  static bool joinable(const slot& s);
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
  std::vector<std::unique_ptr<slot>> slots_;
  std::vector<std::thread> threads_;
  std::mutex m_;
  // Separate wake-ups, so that each wakes only who waits for it: workers
  // for a block to take, a worker for the block before to hand its state
  // on, the reading thread for a block to be done.
  std::condition_variable work_cv_, relay_cv_, done_cv_;
  std::deque<slot*> queue_;
  std::atomic<size_t> queued_{0};  // queue_.size(), for spinning without m_
  bool stopping_ = false;
  unsigned long long doc_serial_ = 0;
};

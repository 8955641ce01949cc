// A plain input decoded ahead of the formatter: a thread of its own reads
// the file in large blocks and decodes them through a byte table (EBCDIC),
// so the decoding costs no time of the formatter's on two cores.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>

#include "tl_lines.h"
#include "tl_block_queue.h"
#include "tl_worker.h"

class tl_readahead {
 public:
  // Starts reading fd (left open) from where it stands, each block decoded
  // through table (kept by the caller). Never fails here.
  tl_readahead(int fd, const tl_byte_table* table);
  // Stops the thread, whatever it waits for, and waits for it to end.
  ~tl_readahead();
  tl_readahead(const tl_readahead&) = delete;
  tl_readahead& operator=(const tl_readahead&) = delete;

  // Copies up to n decoded bytes into buf. Returns the count, 0 at the end
  // (or when the run is stopped by a signal), -1 on a read error (errno set).
  long read(char* buf, size_t n);
  // Returns false when no thread could be started (then read() is unusable).
  bool started() const { return started_; }
  // Returns how many bytes of the file were read so far.
  long long consumed() const { return consumed_.load(std::memory_order_relaxed); }

 private:
  struct block {
    std::unique_ptr<char[]> data;
    size_t n = 0;
    int err = 0;      // the read failed with this errno
    bool end = false;  // nothing after this block
  };
  // Blocks of 64 KB, small enough to be read, decoded and copied out while
  // they are still in the cache: with 256 KB ones an EBCDIC summary took
  // twice as long, most of it in the kernel's copy from the page cache.
  static constexpr int kBlocks = 8;
  static constexpr size_t kBlockBytes = 1 << 16;

  void run();

  int fd_;
  const tl_byte_table* table_;
  std::atomic<long long> consumed_{0};
  size_t off_ = 0;
  bool started_ = true;
  tl_worker worker_;
  tl_block_queue<block, kBlocks> queue_{worker_};
};

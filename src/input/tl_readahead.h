// A plain input decoded ahead of the formatter: a thread of its own reads
// the file in large blocks and decodes them through a byte table (EBCDIC),
// so the decoding costs no time of the formatter's on two cores.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>

#include "tl_worker.h"

class tl_readahead {
 public:
  // Starts reading fd (left open) from where it stands, each block decoded
  // through table (256 entries, kept by the caller). Never fails here.
  tl_readahead(int fd, const unsigned char* table);
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
  static constexpr int kBlocks = 4;
  static constexpr size_t kBlockBytes = 1 << 18;

  void run();

  int fd_;
  const unsigned char* table_;
  std::atomic<long long> consumed_{0};
  block blocks_[kBlocks];
  int head_ = 0, count_ = 0;
  size_t off_ = 0;
  bool started_ = true;
  tl_worker worker_;
};

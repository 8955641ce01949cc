// The bounded queue of blocks between a worker thread that fills them
// (reading ahead, unpacking) and the thread that reads them: the filler
// waits for room, the reader for a block. Memory stays that of the blocks
// whatever the input's size.
#pragma once

#include <chrono>
#include <mutex>

#include "tl_globals.h"
#include "tl_worker.h"

template <class Block, int N>
class tl_block_queue {
 public:
  // The queue's lock and wake-ups are the worker's, whose stop ends a wait.
  explicit tl_block_queue(tl_worker& worker) : w_(worker) {}

  // Returns block i of the ring (for making the blocks' storage).
  Block& at(int i) { return blocks_[i]; }

  // Filler: returns the next block to fill once there is room, or null when
  // the worker was stopped.
  Block* acquire() {
    std::unique_lock<std::mutex> lock(w_.mutex());
    w_.cv().wait(lock, [this] { return w_.stopped() || count_ < N; });
    if (w_.stopped()) return nullptr;
    return &blocks_[(head_ + count_) % N];
  }

  // Filler on the reader's own thread: returns the next block to fill, or
  // null when the queue is full (no one else would make room).
  Block* try_acquire() {
    std::lock_guard<std::mutex> lock(w_.mutex());
    return count_ < N ? &blocks_[(head_ + count_) % N] : nullptr;
  }

  // Empties the queue (no thread may be filling it).
  void clear() {
    std::lock_guard<std::mutex> lock(w_.mutex());
    head_ = count_ = 0;
  }

  // Filler: hands the block acquire() gave over to the reader.
  void publish() {
    {
      std::lock_guard<std::mutex> lock(w_.mutex());
      count_++;
    }
    w_.cv().notify_all();
  }

  // Reader: returns the oldest filled block, waiting for one; null when a
  // signal stops the run (looked at now and then: the filler may wait on a
  // silent pipe).
  Block* front() {
    std::unique_lock<std::mutex> lock(w_.mutex());
    while (count_ == 0) {
      if (tl_shutdown) return nullptr;
      w_.cv().wait_for(lock, std::chrono::milliseconds(100));
    }
    return &blocks_[head_];
  }

  // Reader: gives the oldest block back for filling.
  void pop() {
    {
      std::lock_guard<std::mutex> lock(w_.mutex());
      head_ = (head_ + 1) % N;
      count_--;
    }
    w_.cv().notify_all();
  }

 private:
  tl_worker& w_;
  Block blocks_[N];
  int head_ = 0, count_ = 0;
};

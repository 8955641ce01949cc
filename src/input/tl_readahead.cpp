// The read-ahead thread of decoded plain inputs.
#include "tl_readahead.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <unistd.h>

#include "tl_globals.h"
#include "tl_lines.h"

tl_readahead::tl_readahead(int fd, const tl_byte_table* table) : fd_(fd), table_(table) {
  for (block& b : blocks_) b.data.reset(new char[kBlockBytes]);
  started_ = worker_.start([this] { run(); });
}

tl_readahead::~tl_readahead() { worker_.stop(); }

void tl_readahead::run() {
  for (;;) {
    block* b;
    {
      std::unique_lock<std::mutex> lock(worker_.mutex());
      worker_.cv().wait(lock, [this] { return worker_.stopped() || count_ < kBlocks; });
      if (worker_.stopped()) return;
      b = &blocks_[(head_ + count_) % kBlocks];
    }
    b->n = 0;
    b->err = 0;
    b->end = false;
    // One read per block: a pipe hands on what it has, as the plain reader does.
    for (;;) {
      if (!worker_.wait_readable(fd_)) return;
      ssize_t r = ::read(fd_, b->data.get(), kBlockBytes);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) {
        b->err = errno;
        b->end = true;
      } else if (r == 0) {
        b->end = true;
      } else {
        b->n = static_cast<size_t>(r);
        consumed_.fetch_add(r, std::memory_order_relaxed);
        tl_decode_bytes(*table_, b->data.get(), b->data.get(), b->n);
      }
      break;
    }
    {
      std::lock_guard<std::mutex> lock(worker_.mutex());
      count_++;
    }
    worker_.cv().notify_all();
    if (b->end) return;
  }
}

long tl_readahead::read(char* buf, size_t n) {
  for (;;) {
    block* b;
    {
      std::unique_lock<std::mutex> lock(worker_.mutex());
      while (count_ == 0) {
        if (tl_shutdown) return 0;
        worker_.cv().wait_for(lock, std::chrono::milliseconds(100));
      }
      b = &blocks_[head_];
    }
    if (off_ < b->n) {
      size_t k = b->n - off_;
      if (k > n) k = n;
      std::memcpy(buf, b->data.get() + off_, k);
      off_ += k;
      return static_cast<long>(k);
    }
    if (b->end) {
      if (b->err == 0) return 0;
      errno = b->err;
      return -1;
    }
    {
      std::lock_guard<std::mutex> lock(worker_.mutex());
      head_ = (head_ + 1) % kBlocks;
      count_--;
    }
    off_ = 0;
    worker_.cv().notify_all();
  }
}

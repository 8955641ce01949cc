// The read-ahead thread of decoded plain inputs.
#include "tl_readahead.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "tl_globals.h"
#include "tl_lines.h"

tl_readahead::tl_readahead(int fd, const tl_byte_table* table) : fd_(fd), table_(table) {
  for (int i = 0; i < kBlocks; i++) queue_.at(i).data.reset(new char[kBlockBytes]);
  started_ = worker_.start([this] { run(); });
}

tl_readahead::~tl_readahead() { worker_.stop(); }

void tl_readahead::run() {
  for (;;) {
    block* b = queue_.acquire();
    if (b == nullptr) return;
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
    queue_.publish();
    if (b->end) return;
  }
}

long tl_readahead::read(char* buf, size_t n) {
  for (;;) {
    block* b = queue_.front();
    if (b == nullptr) return 0;
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
    queue_.pop();
    off_ = 0;
  }
}

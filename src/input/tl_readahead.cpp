// The read-ahead thread of decoded plain inputs.
#include "tl_readahead.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include "tl_globals.h"
#include "tl_lines.h"

tl_readahead::tl_readahead(int fd, const unsigned char* table) : fd_(fd), table_(table) {
  for (block& b : blocks_) b.data.reset(new char[kBlockBytes]);
  if (pipe2(stop_pipe_, O_CLOEXEC) != 0) stop_pipe_[0] = stop_pipe_[1] = -1;
  try {
    thread_ = std::thread([this] { run(); });
  } catch (const std::exception&) {
    started_ = false;
  }
}

tl_readahead::~tl_readahead() {
  {
    std::lock_guard<std::mutex> lock(m_);
    stop_ = true;
  }
  cv_.notify_all();
  if (stop_pipe_[1] >= 0) {
    char c = 0;
    ssize_t w = write(stop_pipe_[1], &c, 1);
    (void)w;
  }
  if (thread_.joinable()) thread_.join();
  for (int p : stop_pipe_) {
    if (p >= 0) close(p);
  }
}

void tl_readahead::run() {
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, nullptr);
  for (;;) {
    block* b;
    {
      std::unique_lock<std::mutex> lock(m_);
      cv_.wait(lock, [this] { return stop_ || count_ < kBlocks; });
      if (stop_) return;
      b = &blocks_[(head_ + count_) % kBlocks];
    }
    b->n = 0;
    b->err = 0;
    b->end = false;
    // One read per block: a pipe hands on what it has, as the plain reader does.
    for (;;) {
      struct pollfd fds[2] = {{fd_, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
      int pr = poll(fds, stop_pipe_[0] >= 0 ? 2 : 1, -1);
      if (pr < 0 && errno == EINTR) continue;
      if (pr > 0 && (fds[1].revents & POLLIN) != 0) return;
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
        tl_decode_bytes(table_, b->data.get(), b->data.get(), b->n);
      }
      break;
    }
    {
      std::lock_guard<std::mutex> lock(m_);
      count_++;
    }
    cv_.notify_all();
    if (b->end) return;
  }
}

long tl_readahead::read(char* buf, size_t n) {
  for (;;) {
    block* b;
    {
      std::unique_lock<std::mutex> lock(m_);
      while (count_ == 0) {
        if (tl_shutdown) return 0;
        cv_.wait_for(lock, std::chrono::milliseconds(100));
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
      std::lock_guard<std::mutex> lock(m_);
      head_ = (head_ + 1) % kBlocks;
      count_--;
    }
    off_ = 0;
    cv_.notify_all();
  }
}

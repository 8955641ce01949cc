// The stoppable thread of an input.
#include "tl_worker.h"

#include <cerrno>
#include <csignal>
#include <exception>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

tl_worker::tl_worker() {
  if (pipe2(stop_pipe_, O_CLOEXEC) != 0) stop_pipe_[0] = stop_pipe_[1] = -1;
}

tl_worker::~tl_worker() {
  if (thread_.joinable()) stop();
  for (int p : stop_pipe_) {
    if (p >= 0) close(p);
  }
}

bool tl_worker::start(std::function<void()> body) {
  try {
    thread_ = std::thread([body = std::move(body)] {
      sigset_t all;
      sigfillset(&all);
      pthread_sigmask(SIG_BLOCK, &all, nullptr);
      body();
    });
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

void tl_worker::stop() {
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
}

bool tl_worker::wait_readable(int fd) const {
  for (;;) {
    struct pollfd fds[2] = {{fd, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
    int pr = poll(fds, stop_pipe_[0] >= 0 ? 2 : 1, -1);
    if (pr < 0 && errno == EINTR) continue;
    return !(pr > 0 && (fds[1].revents & POLLIN) != 0);
  }
}

// The stoppable thread of an input: both waits end on stop(), signals stay
// with the main thread.
#include "tl_worker.h"

#include <atomic>
#include <csignal>
#include <pthread.h>
#include <thread>
#include <unistd.h>

#include "tl_testutil.h"

namespace {

struct pipe_fds {
  int fd[2] = {-1, -1};
  pipe_fds() { EXPECT_EQ(pipe(fd), 0); }
  ~pipe_fds() {
    close(fd[0]);
    close(fd[1]);
  }
};

}  // namespace

TEST(Worker, StopEndsAWaitOnASilentPipe) {
  pipe_fds p;
  tl_worker w;
  std::atomic<int> woke{-1};
  std::atomic<bool> blocked{false};
  ASSERT_TRUE(w.start([&] {
    sigset_t now;
    pthread_sigmask(SIG_BLOCK, nullptr, &now);
    blocked = sigismember(&now, SIGINT) == 1 && sigismember(&now, SIGTERM) == 1;
    woke = w.wait_readable(p.fd[0]) ? 1 : 0;
  }));
  w.stop();  // hangs here (and the test times out) if the wait is not woken
  EXPECT_EQ(woke.load(), 0);
  EXPECT_TRUE(blocked.load()) << "signals are left to the main thread";
}

TEST(Worker, ReadableInputAndAStoppedQueueWait) {
  pipe_fds p;
  ASSERT_EQ(write(p.fd[1], "x", 1), 1);
  tl_worker w;
  std::atomic<int> readable{-1};
  std::atomic<bool> stopped{false};
  ASSERT_TRUE(w.start([&] {
    readable = w.wait_readable(p.fd[0]) ? 1 : 0;
    std::unique_lock<std::mutex> lock(w.mutex());
    w.cv().wait(lock, [&] { return w.stopped(); });
    stopped = true;
  }));
  // Stopped only once the wait for input is over: a stop before it would
  // end that wait too.
  while (readable.load() == -1) std::this_thread::yield();
  w.stop();
  EXPECT_EQ(readable.load(), 1);
  EXPECT_TRUE(stopped.load());
  w.stop();  // again: nothing left to stop
}

TEST(Worker, DestroyedWithoutStop) {
  pipe_fds p;
  std::atomic<int> woke{-1};
  {
    tl_worker w;
    ASSERT_TRUE(w.start([&] { woke = w.wait_readable(p.fd[0]) ? 1 : 0; }));
  }
  EXPECT_EQ(woke.load(), 0);
}

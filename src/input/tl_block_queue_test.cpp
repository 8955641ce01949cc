// The bounded queue between a filling thread and a reading one: blocks come
// out in order through a ring smaller than their number, and either wait
// ends when it must.
#include "tl_block_queue.h"

#include <atomic>

#include "tl_testutil.h"

namespace {

struct numbered {
  int n = -1;
};

TEST(BlockQueue, BlocksInOrderThroughASmallRing) {
  tl_worker w;
  tl_block_queue<numbered, 2> q(w);
  constexpr int kBlocks = 1000;
  ASSERT_TRUE(w.start([&] {
    for (int i = 0; i < kBlocks; i++) {
      numbered* b = q.acquire();  // waits while both are full
      if (b == nullptr) return;
      b->n = i;
      q.publish();
    }
  }));
  for (int i = 0; i < kBlocks; i++) {
    numbered* b = q.front();
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(b->n, i);
    q.pop();
  }
  w.stop();
}

TEST(BlockQueue, StopEndsTheFillersWaitAndASignalTheReaders) {
  tl_worker w;
  tl_block_queue<numbered, 1> q(w);
  std::atomic<int> got{0};
  ASSERT_TRUE(w.start([&] {
    while (q.acquire() != nullptr) {  // the second waits for room that never comes
      got++;
      q.publish();
    }
  }));
  while (got.load() == 0) std::this_thread::yield();
  w.stop();  // hangs here (and the test times out) if the wait is not ended
  EXPECT_EQ(got.load(), 1);

  tl_worker idle;
  tl_block_queue<numbered, 1> empty(idle);
  tl_shutdown = SIGINT;
  EXPECT_EQ(empty.front(), nullptr) << "a stopped run ends the reader's wait";
  tl_shutdown = 0;
}

}  // namespace

// The thread of an input that works ahead of the formatter (read-ahead,
// unpacking), which its owner must be able to stop whatever it waits for:
// room in the owner's queue (a condition variable) or a silent pipe.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class tl_worker {
 public:
  // Makes the pipe that wakes a wait for input; without one (no descriptor
  // to be had) such a wait ends only with the input.
  tl_worker();
  // Stops the thread if stop() was not called, then closes the pipe.
  ~tl_worker();
  tl_worker(const tl_worker&) = delete;
  tl_worker& operator=(const tl_worker&) = delete;

  // Runs body on a thread of its own with every signal blocked (signals are
  // the main thread's). Returns false when no thread could be started.
  bool start(std::function<void()> body);
  // Sets the stop flag, wakes the thread from either wait and waits for it
  // to end. Call before anything the thread uses is gone.
  void stop();
  // Waits until fd can be read (or has failed). Returns false when stop()
  // was called first.
  bool wait_readable(int fd) const;
  // Returns whether stop() was called; with mutex() held.
  bool stopped() const { return stop_; }
  // Returns the mutex that guards the owner's queue and the stop flag.
  std::mutex& mutex() { return m_; }
  // Returns the condition variable of the owner's queue, notified by stop().
  std::condition_variable& cv() { return cv_; }

 private:
  int stop_pipe_[2] = {-1, -1};
  std::mutex m_;
  std::condition_variable cv_;
  bool stop_ = false;
  std::thread thread_;
};

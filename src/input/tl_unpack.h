// Compressed and archived input through libarchive, decompressed in a thread
// of its own that runs ahead of the formatter through a bounded queue of
// large blocks, so memory stays constant whatever the unpacked size. A small
// file whose unpacked bytes fit in the queue is unpacked at once on the
// calling thread instead: a thread would cost it more than it saves.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <sys/types.h>
#include <memory>
#include <string>

#include "tl_block_queue.h"
#include "tl_worker.h"

class tl_unpacker {
 public:
  // What next() found.
  enum event {
    kMember,        // a member to read (or the one stream of a compressed file)
    kMemberFailed,  // a member that cannot be read (encrypted, unsupported): no data
    kEnd,           // nothing more
    kFailed,        // the input as a whole is damaged: nothing more
  };

  // Starts unpacking the input open on fd (left open) whose first n bytes
  // are already read into prefix; they are read again from the file when it
  // can seek, else replayed. archive: the input showed zip or tar magic, else
  // that of a compressor. Never fails here: problems come as events.
  tl_unpacker(int fd, const char* prefix, size_t n, bool archive);
  // Stops the thread, whatever it waits for, and waits for it to end.
  ~tl_unpacker();
  tl_unpacker(const tl_unpacker&) = delete;
  tl_unpacker& operator=(const tl_unpacker&) = delete;

  // Skips what is left of the current member and waits for the next event.
  // Returns it; *name is the member's path for kMember (empty for a
  // compressed file that is no archive), *what the reason for kMemberFailed
  // and kFailed.
  event next(std::string* name, std::string* what);
  // Copies up to n bytes of the current member's data into buf. Returns the
  // count, 0 at the member's end (or when the run is stopped by a signal),
  // -1 when the member is damaged (the reason in what()).
  long read(char* buf, size_t n);
  // Returns the reason of the last failure.
  const std::string& what() const { return what_; }
  // Returns how many bytes of the packed input were read so far.
  long long consumed() const { return consumed_.load(std::memory_order_relaxed); }

 private:
  // One block of the queue. A member's data spans one or more blocks; the
  // first says where a member starts, the last how it ended.
  enum ending { kGoesOn, kMemberEnd, kMemberDamaged, kSkipped, kInputEnd, kInputFailed };
  struct block {
    std::unique_ptr<char[]> data;
    size_t cap = 0;  // bytes data holds room for
    size_t n = 0;
    bool starts = false;
    std::string name;
    ending end = kGoesOn;
    std::string what;
  };
  static constexpr int kBlocks = 4;
  static constexpr size_t kBlockBytes = 1 << 18;
  static constexpr size_t kInlineBlockBytes = 1 << 16;  // on the calling thread

  void run();
  bool restart();
  bool halted();
  block* acquire();
  void publish();
  block* front();  // waits; nullptr when stopped by a signal
  void pop();
  static ssize_t cb_read(struct archive* a, void* self, const void** buf);
  ssize_t raw_next(struct archive* a, const void** buf);
  ssize_t gunzip_next(struct archive* a, const void** buf);
  static int64_t cb_seek(struct archive* a, void* self, int64_t offset, int whence);
  static int64_t cb_skip(struct archive* a, void* self, int64_t request);

  int fd_;
  std::string prefix_;
  size_t prefix_off_ = 0;
  bool seekable_ = false;
  std::unique_ptr<char[]> rbuf_;
  // gzip is inflated here rather than by libarchive, which does not check
  // the CRC and length of a gzip member: damage would pass unseen.
  bool gzip_ = false;
  std::unique_ptr<struct z_stream_s> zs_;
  std::unique_ptr<char[]> zbuf_;
  bool z_raw_end_ = false;    // the packed input is read to its end
  bool z_between_ = false;    // a member ended; another may follow
  bool z_done_ = false;
  std::string z_error_;       // the damage found after the bytes before it
  bool archive_;              // the magic numbers promised zip or tar
  std::atomic<long long> consumed_{0};


  // The consumer's place: inside a member, and how far in the front block.
  bool in_member_ = false;
  size_t off_ = 0;
  std::string what_;
  // Unpacking on the calling thread; overflowed_ when the queue filled up
  // before the input ended, so that it is unpacked again on a thread.
  bool inline_ = false;
  bool overflowed_ = false;
  tl_worker worker_;
  tl_block_queue<block, kBlocks> queue_{worker_};
};

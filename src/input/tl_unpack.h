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
  // Returns how many times the packed input was read from its first byte:
  // 1, or 2 when the calling thread ran out of room where the thread could
  // not go on from (between members, at the input's end).
  int passes() const { return passes_.load(std::memory_order_relaxed); }

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

  // The member whose data is being unpacked, and how far.
  struct member {
    bool active = false;   // its data is being unpacked
    bool started = false;  // its first block is queued
    bool raw = false;      // the one stream of a compressed file
    std::string name;
    // What libarchive handed over and is not yet in a block: zeros for a
    // hole of a sparse member first, then data.
    const char* pend = nullptr;
    size_t pend_n = 0;
    int64_t zeros = 0, pos = 0;
    bool at_end = false;
  };

  // Unpacks into the queue until the input ends, the run is stopped, or
  // (on the calling thread) the queue is full; then in the data of a member
  // it leaves the archive open, for the thread to go on where it stopped.
  void run();
  // Opens arch_ on the input. Returns false (the failure queued) when it
  // cannot be.
  bool open_archive();
  // Frees arch_ and forgets where unpacking was.
  void close_archive();
  // Reads the next member's header and unpacks the member. Returns false
  // when unpacking ends.
  bool next_member();
  // Unpacks the data of unpacking_ into the queue. Returns false when
  // unpacking ends.
  bool member_data();
  // Queues the last block, which says how the input ended.
  void finish(ending end, const std::string& what);
  // Returns what libarchive or the inflating says is wrong.
  std::string reason() const;
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
  std::atomic<int> passes_{0};


  // The consumer's place: inside a member, and how far in the front block.
  bool in_member_ = false;
  size_t off_ = 0;
  std::string what_;
  // Unpacking on the calling thread; overflowed_ when the queue filled up
  // before the input ended, so that it is unpacked again on a thread.
  bool inline_ = false;
  bool overflowed_ = false;
  // The queue filled in a member's data on the calling thread: the thread
  // goes on from there rather than from the file's first byte.
  bool suspended_ = false;
  // libarchive's reader, open from the first run to the input's end.
  struct archive* arch_ = nullptr;
  member unpacking_;
  bool members_ = false;     // a member was queued
  int failed_headers_ = 0;
  bool first_header_ = true;
  tl_worker worker_;
  tl_block_queue<block, kBlocks> queue_{worker_};
};

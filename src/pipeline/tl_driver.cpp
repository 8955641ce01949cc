// The driver: documents in, records through the filter, into one sink.
#include <csignal>
#include <sched.h>
#include <unistd.h>
#include <xxhash.h>

#include "tl_blocks.h"
#include "tl_core.h"
#include "tl_globals.h"
#include "tl_layouts.h"
#include "tl_sink.h"

void tl_digest_hex(const tl_digest& d, char* out) {
  static const char kHex[] = "0123456789abcdef";
  for (int i = 0; i < 16; i++) {
    out[i] = kHex[(d.high >> (60 - 4 * i)) & 0xf];
    out[16 + i] = kHex[(d.low >> (60 - 4 * i)) & 0xf];
  }
  out[32] = '\0';
}

tl_pipeline_settings tl_pipeline_opts;

tl_hasher::tl_hasher() : state_(XXH3_createState()) {}
tl_hasher::~tl_hasher() { XXH3_freeState(static_cast<XXH3_state_t*>(state_)); }
void tl_hasher::reset() { XXH3_128bits_reset(static_cast<XXH3_state_t*>(state_)); }
void tl_hasher::update(const char* p, size_t n) { XXH3_128bits_update(static_cast<XXH3_state_t*>(state_), p, n); }
tl_digest tl_hasher::digest() const {
  const XXH128_hash_t h = XXH3_128bits_digest(static_cast<XXH3_state_t*>(state_));
  tl_digest d;
  d.high = h.high64;
  d.low = h.low64;
  return d;
}

int tl_cores() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
  const long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}

namespace {

// Feeds the documents of one file argument to the sink. Returns false when
// the run must stop.
bool feed(tl_sink& sink, const char* arg, tl_hasher* hash, std::unique_ptr<tl_block_runner>& runner) {
  bool stop = false;
  const tl_filter filter = sink.filter();
  tl_each_document(arg, [&](tl_document& doc) {
    if (stop || tl_shutdown) return;
    if (!sink.begin(doc)) {
      stop = true;
      return;
    }
    if (hash != nullptr) hash->reset();
    tl_doc_end e;
    bool ok = true;
    if (hash == nullptr && tl_pipeline_opts.jobs > 1 && !runner) {
      runner.reset(new tl_block_runner(sink, tl_pipeline_opts.jobs, tl_pipeline_opts.block));
    }
    // Bytes decoded or framed on their way by the reading thread, which then
    // sets the pace, stay on it, unless the runner's threads can read them.
    if (runner && runner->usable() && runner->takes(doc)) {
      ok = runner->feed(doc, filter, e);
    } else {
      ok = sink.records(doc, filter, hash, e);
    }
    if (hash != nullptr) e.digest = hash->digest();
    e.complete = ok && !doc.failed() && !tl_shutdown;
    if (!sink.end(e) || !ok) stop = true;
  });
  return !stop;
}

}  // namespace

int tl_feed(tl_sink& sink, const char* arg) {
  if (!sink.admit(arg)) return -1;
  std::unique_ptr<tl_hasher> hasher(sink.wants_digest() ? new tl_hasher : nullptr);
  tl_hasher* hash = hasher.get();
  std::unique_ptr<tl_block_runner> runner;
  const bool go_on = feed(sink, arg, hash, runner);
  runner.reset();
  return go_on ? 0 : 1;
}

int tl_run(tl_sink& sink, char* const* args, int count) {
  bool stop = false;
  std::unique_ptr<tl_hasher> hasher(sink.wants_digest() ? new tl_hasher : nullptr);
  tl_hasher* hash = hasher.get();
  // The threads of a run stay for all its documents.
  std::unique_ptr<tl_block_runner> runner;
  for (int i = 0; i < count && !stop && !tl_shutdown && !tl_output_failed; i++) {
    if (sink.admit(args[i])) stop = !feed(sink, args[i], hash, runner);
  }
  runner.reset();
  bool finished = sink.finish();
  if (tl_shutdown == SIGINT) return TL_EXIT_SIGINT;
  if (tl_shutdown == SIGTERM) return TL_EXIT_SIGTERM;
  if (stop || !finished || tl_input_failures > 0 || tl_output_failed) return TL_EXIT_FAILURE;
  return TL_EXIT_OK;
}

// The driver of the writers: documents in, records through the filters.
#include "tl_writer.h"

#include <csignal>
#include <xxhash.h>

#include "tl_core.h"
#include "tl_globals.h"

void tl_digest_hex(const tl_digest& d, char* out) {
  static const char kHex[] = "0123456789abcdef";
  for (int i = 0; i < 16; i++) {
    out[i] = kHex[(d.high >> (60 - 4 * i)) & 0xf];
    out[16 + i] = kHex[(d.low >> (60 - 4 * i)) & 0xf];
  }
  out[32] = '\0';
}

int tl_run_writer(tl_writer& writer, char* const* args, int count) {
  bool stop = false;
  XXH3_state_t* hash = writer.wants_digest() ? XXH3_createState() : nullptr;
  for (int i = 0; i < count && !stop && !tl_shutdown; i++) {
    tl_each_document(args[i], [&](tl_document& doc) {
      if (stop || tl_shutdown) return;
      if (!writer.begin(doc)) {
        stop = true;
        return;
      }
      if (hash != nullptr) XXH3_128bits_reset(hash);
      const char* rec = nullptr;
      unsigned long len = 0;
      unsigned long long line = 0;
      bool ok = true;
      while (!tl_shutdown && doc.next_record(&rec, &len) == 0) {
        line++;
        if (hash != nullptr) XXH3_128bits_update(hash, rec, len);
        if (!tl_record_wanted(rec, len)) continue;
        if (!writer.record(rec, len, line)) {
          ok = false;
          break;
        }
      }
      tl_digest d;
      if (hash != nullptr) {
        XXH128_hash_t h = XXH3_128bits_digest(hash);
        d.high = h.high64;
        d.low = h.low64;
      }
      bool complete = ok && !doc.failed() && !tl_shutdown;
      if (!writer.end(complete, d) || !ok) stop = true;
    });
  }
  if (hash != nullptr) XXH3_freeState(hash);
  bool finished = writer.finish();
  if (tl_shutdown == SIGINT) return TL_EXIT_SIGINT;
  if (tl_shutdown == SIGTERM) return TL_EXIT_SIGTERM;
  if (stop || !finished || tl_input_failures > 0) return TL_EXIT_FAILURE;
  return TL_EXIT_OK;
}

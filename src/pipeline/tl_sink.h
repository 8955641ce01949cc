// Every output of tapelens is a sink: the driver hands it the documents of
// the run in order, each document's records in order, and says when the run
// ends. A sink keeps all its state in its own instance.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "tl_globals.h"
#include "tl_input.h"
#include "tl_layouts.h"

// The content digest of one document: XXH3-128 of every byte of every
// record as read, line ends included, in record order.
struct tl_digest {
  uint64_t high = 0;
  uint64_t low = 0;
};

// Writes the digest as xxh128sum prints it, 32 lower-case hex digits and a
// NUL, into out (33 bytes).
void tl_digest_hex(const tl_digest& d, char* out);

// What the driver knows of a document once it has been read.
struct tl_doc_end {
  bool complete = true;          // false when reading failed or a signal stopped the run
  tl_digest digest;              // set when the sink wants_digest()
  unsigned long long bytes = 0;  // bytes read for the document (what the digest covers)
  unsigned long long records = 0;  // records read, filtered ones included
};

// Which records the driver hands to a sink.
enum class tl_filter {
  classes,  // the record classes of -1 -3 -4 (bill, detail and CSR by default) and --layouts
  layouts,  // --layouts alone (the summary counts every class)
  audit,    // every record, or only the class that -1 -3 -4 chose; and --layouts
};

// Where a sink writes its documents: a stream it was given; the run's
// output stream (outfile, looked up when written, since the -o files are
// opened after the sinks); or, for a worker, memory of its own.
class tl_target {
 public:
  // stream null: the run's output stream.
  static tl_target stream(FILE* f) { return tl_target(f, false); }
  static tl_target into_memory() { return tl_target(nullptr, true); }
  // Returns true for a worker's memory.
  bool memory() const { return memory_; }
  // Returns the stream written to (not for memory).
  FILE* file() const { return f_ != nullptr ? f_ : outfile; }

 private:
  tl_target(FILE* f, bool memory) : f_(f), memory_(memory) {}
  FILE* f_;
  bool memory_;
};

// The state a sink carries from one record to the next, as plain bytes:
// what a worker needs to convert a block as the records before it left the
// sink.
struct tl_carry {
  alignas(16) unsigned char bytes[192];
};

// Where the driver adds up a document's digest (XXH3-128).
class tl_hasher {
 public:
  tl_hasher();
  ~tl_hasher();
  tl_hasher(const tl_hasher&) = delete;
  tl_hasher& operator=(const tl_hasher&) = delete;
  // Starts a document's digest.
  void reset();
  // Adds n bytes.
  void update(const char* p, size_t n);
  // Returns the digest of what was added since reset().
  tl_digest digest() const;

 private:
  void* state_;
};

class tl_sink;
template <class Sink>
bool tl_record_loop(Sink& sink, tl_document& doc, tl_filter filter, tl_hasher* hash, tl_doc_end& e);

class tl_sink {
 public:
  virtual ~tl_sink() = default;
  // Returns which records the sink takes.
  virtual tl_filter filter() const { return tl_filter::classes; }
  // Returns true when the sink needs the digest of each document (the
  // driver then computes it while reading).
  virtual bool wants_digest() const { return false; }
  // Says whether the file argument is to be read at all; a sink that
  // refuses it has reported why (and counted it in tl_input_failures).
  virtual bool admit(const char* arg) {
    (void)arg;
    return true;
  }
  // Starts a document. Returns false when the run must stop (message
  // printed); the document is then not read.
  virtual bool begin(const tl_document& doc) = 0;
  // Takes one record that passed the filter: rec holds len bytes, its line
  // end included, and a NUL after them. line is its 1-based number among all
  // records of the document, filtered and unknown ones included. Returns
  // false on a failure that ends the run (message printed).
  virtual bool record(const char* rec, size_t len, unsigned long long line) = 0;
  // Returns true when the sink wants to know which bytes of a record were
  // NUL before they were given as blanks (--check); the loops then call
  // nuls() before record() for each record that held one.
  virtual bool wants_nuls() const { return false; }
  // Says which bytes of the record record() takes next were NUL: bit i % 64
  // of word i / 64 for byte i. Valid until that record() returns.
  virtual void nuls(const uint64_t* mask) { (void)mask; }
  // Hands the records of doc that pass filter to record(), counting them
  // (and adding them to hash when given) in e. Returns false when record()
  // failed. A sink of many small records overrides it with
  // tl_record_loop(*this, ...) on its own final type, which spares a
  // virtual call per record.
  virtual bool records(tl_document& doc, tl_filter filter, tl_hasher* hash, tl_doc_end& e) {
    return tl_record_loop(*this, doc, filter, hash, e);
  }
  // Ends the document. When end.complete is false a sink that can roll back
  // does so. Returns false on a failure that ends the run (message printed).
  virtual bool end(const tl_doc_end& end) = 0;
  // Closes what the sink opened, at the end of the run, also after a
  // failure. Returns false on a failure (message printed).
  virtual bool finish() = 0;
  // Returns true when the run found what makes the exit status 3 (the
  // audit modes' faults and findings).
  virtual bool findings() const { return false; }
  // Returns true when the sink writes little beside what it reads (a
  // summary): more input can then be in hand on many threads.
  virtual bool writes_little() const { return false; }

  // Running on several threads, for a sink that can (the others run on
  // one). fork() returns a worker: a sink of the same settings whose begin()
  // writes nothing and whose record() writes into memory of its own; null
  // when the sink runs on one thread only.
  virtual std::unique_ptr<tl_sink> fork() { return nullptr; }
  // Returns true when the sink carries state from one record to the next
  // (the blocks are then skimmed with skim() before they are converted).
  virtual bool carries() const { return false; }
  // Saves and loads the carried state.
  virtual void save(tl_carry& c) const { (void)c; }
  virtual void load(const tl_carry& c) { (void)c; }
  // Advances the carried state over a record that passed the filter, as
  // record() would, writing nothing.
  virtual void skim(const char* rec, size_t len) {
    (void)rec;
    (void)len;
  }
  // Takes what a worker made of a block, blocks in input order: writes what
  // it wrote, adds up what it counted, and empties the worker for its next
  // block. Returns false on a failure that ends the run.
  virtual bool join(tl_sink& worker) {
    (void)worker;
    return true;
  }
};

// Returns true when the record passes the filter f of the settings.
inline bool tl_filter_pass(tl_filter f, const char* rec, size_t len) {
  (void)len;
  const char c = rec[0];
  switch (f) {
    case tl_filter::classes:
      return ((display_bill == 1 && c == '1') || (display_detail == 1 && c == '3') ||
              (display_csr == 1 && c == '4')) &&
             tl_layouts_pass(rec);
    case tl_filter::layouts:
      return tl_layouts_pass(rec);
    case tl_filter::audit:
      break;
  }
  // Without a class option every record counts, blank and unknown ones too.
  const bool all = display_bill == 1 && display_detail == 1 && display_csr == 1;
  return (all || (display_bill == 1 && c == '1') || (display_detail == 1 && c == '3') ||
          (display_csr == 1 && c == '4')) &&
         tl_layouts_pass(rec);
}

// The record loop of one document on the calling thread: every record read,
// counted (and hashed), those that pass the filter handed to sink.record().
template <class Sink>
bool tl_record_loop(Sink& sink, tl_document& doc, tl_filter filter, tl_hasher* hash, tl_doc_end& e) {
  const char* rec = nullptr;
  unsigned long len = 0;
  const bool nuls = sink.wants_nuls();
  while (!tl_shutdown && !tl_output_failed && doc.next_record(&rec, &len) == 0) {
    e.records++;
    e.bytes += len;
    if (hash != nullptr) hash->update(rec, len);
    if (!tl_filter_pass(filter, rec, len)) continue;
    if (nuls) {
      const uint64_t* mask = doc.nuls();
      if (mask != nullptr) sink.nuls(mask);
    }
    if (!sink.record(rec, len, e.records)) return false;
  }
  return true;
}

// Feeds the documents of one file argument to the sink, without finishing
// it. Returns -1 when the sink did not admit the argument, 1 when the run
// must stop (a sink failed), else 0.
int tl_feed(tl_sink& sink, const char* arg);

// How the driver runs a sink that can fork workers: on this many threads
// (1: on the calling thread alone), in blocks of about this many bytes (0:
// chosen so that the blocks in hand stay small whatever the jobs).
struct tl_pipeline_settings {
  int jobs = 1;
  size_t block = 0;
};
extern tl_pipeline_settings tl_pipeline_opts;

// Returns the number of cores the process may run on (as nproc counts them).
int tl_cores();

// Runs the sink over every document of the file arguments in order, then
// finishes it. Returns the exit status of the run (tl_exit_status).
int tl_run(tl_sink& sink, char* const* args, int count);

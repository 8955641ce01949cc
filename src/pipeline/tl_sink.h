// Every output of tapelens is a sink: the driver hands it the documents of
// the run in order, each document's records in order, and says when the run
// ends. A sink keeps all its state in its own instance.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tl_input.h"

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
  // Ends the document. When end.complete is false a sink that can roll back
  // does so. Returns false on a failure that ends the run (message printed).
  virtual bool end(const tl_doc_end& end) = 0;
  // Closes what the sink opened, at the end of the run, also after a
  // failure. Returns false on a failure (message printed).
  virtual bool finish() = 0;
};

// Returns true when the record passes the filter f of the settings.
bool tl_filter_pass(tl_filter f, const char* rec, size_t len);

// Feeds the documents of one file argument to the sink, without finishing
// it. Returns -1 when the sink did not admit the argument, 1 when the run
// must stop (a sink failed), else 0.
int tl_feed(tl_sink& sink, const char* arg);

// Runs the sink over every document of the file arguments in order, then
// finishes it. Returns the exit status of the run (tl_exit_status).
int tl_run(tl_sink& sink, char* const* args, int count);

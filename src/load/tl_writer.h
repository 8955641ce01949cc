// A target that takes the records of a run document by document: a
// database, a folder of CSV files, a JSON Lines stream. The driver below
// feeds every writer the same way, so each writer only says what to do with
// a document's beginning, its records and its end.
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

class tl_writer {
 public:
  virtual ~tl_writer() = default;
  // Returns true when the writer needs the digest of each document (the
  // driver then computes it while reading).
  virtual bool wants_digest() const { return false; }
  // Starts a document. Returns false when the run must stop (message
  // printed); the document is then not read.
  virtual bool begin(const tl_document& doc) = 0;
  // Takes one record that passed the filters. line is its 1-based number
  // among all records of the document, filtered ones and unknown ones
  // included. Returns false on a failure that ends the run (message printed).
  virtual bool record(const char* rec, size_t len, unsigned long long line) = 0;
  // Ends the document. complete is false when reading failed or a signal
  // stopped the run: a writer that can roll back does so. Returns false on a
  // failure (message printed).
  virtual bool end(bool complete, const tl_digest& digest) = 0;
  // Closes what the writer opened, at the end of the run, also after a
  // failure. Returns false on a failure (message printed).
  virtual bool finish() = 0;
};

// Runs the writer over every document of the file arguments in order,
// applying the record filters, then finishes it. Returns the exit status of
// the run (tl_exit_status).
int tl_run_writer(tl_writer& writer, char* const* args, int count);

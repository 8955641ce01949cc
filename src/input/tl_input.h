// The inputs of a run: each file argument gives one or more documents (a
// plain file, standard input, or each member of an archive), and each
// document gives its records in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "tl_progress.h"

struct tl_byte_table;

// How a document's bytes come from its file's: each decoded through table
// (when not null), then framed in records of lrecl bytes (when not 0), each
// followed by CR LF, a shorter last one too.
struct tl_shape {
  const tl_byte_table* table = nullptr;
  size_t lrecl = 0;
};

// One document of an input argument, read record by record.
class tl_document {
 public:
  virtual ~tl_document() = default;
  // Returns the name the outputs show: the argument itself, "-" for standard
  // input, "ARCHIVE:MEMBER" for a member of an archive.
  virtual const char* name() const = 0;
  // Returns the size in bytes of what is read where it is known beforehand
  // (for progress), else -1.
  virtual long long size() const = 0;
  // Returns the bytes consumed so far from what size() counts.
  virtual long long consumed() const = 0;
  // Delivers the next record in place: NUL-terminated, its line end kept, at
  // most 255 bytes, valid until the next call. Returns 0 for a record, -1 at
  // the end and on a failure (then reported on standard error, counted in
  // tl_input_failures, and failed() is true).
  virtual int next_record(const char** rec, unsigned long* len) = 0;
  // Delivers up to n bytes of the document's record stream (decoded and
  // framed, uncut: a whole record's bytes may span calls) into dst, for a
  // reader that cuts records itself; records and bytes are not mixed. The
  // reader then notes the progress itself (tl_progress_note).
  // Returns the count, 0 at the end, -1 on a failure (reported as for
  // next_record).
  virtual long next_bytes(char* dst, size_t n) = 0;
  // Returns, for the record delivered last, which of its bytes were NUL
  // (given as blanks): bit i % 64 of word i / 64 for byte i; null when none.
  virtual const uint64_t* nuls() const { return nullptr; }
  // Returns true when the document's bytes are decoded (EBCDIC) or framed
  // (fixed-length records) on their way, by the thread that reads them.
  virtual bool reshaped() const { return false; }
  // Returns true when reading stopped on an error rather than at the end.
  virtual bool failed() const = 0;
  // Says how the bytes of a reshaped document come from its file's (left
  // empty for one that is not).
  virtual void shape(tl_shape* s) const { *s = tl_shape(); }
  // For a reader that reads blocks of the document itself, with pread(2) on
  // several threads: returns the descriptor of a regular file whose bytes
  // from *offset on, reshaped as shape() says, are the rest of what
  // next_bytes would deliver; -1 when the document is not such a file or
  // holds bytes back. A reshaped document is offered whole, before any of
  // it was read, and is then the reader's.
  virtual int positional(long long* offset) {
    (void)offset;
    return -1;
  }
  // Takes on a failed read by such a reader (err an errno): reported as a
  // failed read of the document is, and failed() is then true.
  virtual void read_failed(int err) { (void)err; }
};

// Opens the file argument ("-" for standard input) and calls visit once for
// each of its documents, in order. Returns false when the argument failed
// (missing, unreadable, damaged): reported on standard error and counted in
// tl_input_failures. Documents visited before a failure stay visited.
bool tl_each_document(const char* arg, const std::function<void(tl_document&)>& visit);

// How inputs are read, set by the options (--lrecl, --ebcdic, --progress).
struct tl_input_settings {
  int lrecl = 0;                 // fixed framing of this many bytes; 0: detected
  bool ebcdic = false;           // decode every input from the EBCDIC table
  tl_progress_when progress = tl_progress_when::automatic;
};
extern tl_input_settings tl_input_opts;

// Puts the input settings back to their defaults (the table as well).
void tl_input_reset();

// Makes the EBCDIC table of the code page (IBM037 when null) the one used for
// EBCDIC input. Returns false when iconv does not know the code page.
bool tl_input_set_codepage(const char* codepage);

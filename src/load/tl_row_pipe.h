// A load converts records to rows on the driver's thread and writes them on
// a writer thread of its own, so that the conversion runs ahead of the
// database: rows travel in batches of a compact byte form through a bounded
// queue. A writer implements the four steps of a load (start a document,
// write a row, end the document, close at the end of the run); each runs on
// the writer thread, in the order the driver called them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "tl_sink.h"
#include "tl_table_model.h"
#include "tl_worker.h"

// Converted rows, one after the other, in a buffer that is reused: each
// row its header, its cells (kind, then units and decimals or the text's
// length and bytes), its reject reason and, with a reason, its raw bytes.
class tl_row_batch {
 public:
  explicit tl_row_batch(size_t capacity);
  // Appends row. Returns false, appending nothing, when it does not fit and
  // the batch holds rows; a row larger than an empty batch grows it.
  bool append(const tl_row& row);
  void clear() { size_ = 0; }
  bool empty() const { return size_ == 0; }
  size_t size() const { return size_; }
  const char* data() const { return buf_.get(); }

 private:
  std::unique_ptr<char[]> buf_;
  size_t capacity_;
  size_t size_ = 0;
};

// Reads the rows of a batch back, without allocating once made.
class tl_row_reader {
 public:
  explicit tl_row_reader(const tl_table_model& model);
  void start(const tl_row_batch& b);
  // Returns the next row (valid until the next call and while the batch
  // stays as it is), or null after the last.
  const tl_row* next();

 private:
  const tl_table_model& model_;
  std::vector<tl_cell> cells_;
  tl_row row_;
  const char* p_ = nullptr;
  const char* end_ = nullptr;
};

// The sink of a load: converts on the driver's thread, writes on the
// writer thread (or on the driver's thread alone with --jobs=1 or when no
// thread can be started).
class tl_row_sink : public tl_sink {
 public:
  tl_row_sink();
  ~tl_row_sink() override;

  bool begin(const tl_document& doc) final;
  bool record(const char* rec, size_t len, unsigned long long line) final;
  bool records(tl_document& doc, tl_filter filter, tl_hasher* hash, tl_doc_end& e) final {
    return tl_record_loop(*this, doc, filter, hash, e);
  }
  bool end(const tl_doc_end& e) final;
  bool finish() final;

 protected:
  // The writer's steps, with the meaning and results of begin(), one
  // record, end() and finish() of tl_sink.
  virtual bool open_doc(const tl_document& doc) = 0;
  virtual bool put_row(const tl_row& row) = 0;
  virtual bool close_doc(const tl_doc_end& e) = 0;
  virtual bool close_run() = 0;
  // Ends the writer thread; a writer's destructor calls it before it
  // closes what the thread used.
  void stop_writer();
  const tl_table_model& model() const { return model_; }

 private:
  enum class step : unsigned char { none, open, close, finish };
  bool threaded();
  bool send_batch();
  bool run_step(step s);
  bool do_step(step s);
  void writer_loop();

  tl_table_model model_;
  tl_row_maker maker_;
  tl_row_reader reader_;
  // Guarded by the worker's mutex: the batches sent and not yet written
  // (in order), the empty ones, the step asked for and its result, and
  // whether writing a row failed in this document.
  std::vector<std::unique_ptr<tl_row_batch>> batches_;
  std::vector<tl_row_batch*> full_;
  size_t full_head_ = 0;
  size_t full_count_ = 0;
  std::vector<tl_row_batch*> free_;
  step step_ = step::none;
  bool step_done_ = false;
  bool step_ok_ = false;
  bool row_failed_ = false;
  const tl_document* doc_ = nullptr;
  const tl_doc_end* end_ = nullptr;
  // The batch being filled, on the driver's thread.
  tl_row_batch* cur_ = nullptr;
  int mode_ = 0;  // 0 not chosen yet, 1 on the driver's thread, 2 threaded
  std::unique_ptr<tl_worker> worker_;
};

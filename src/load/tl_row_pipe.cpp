// The pipe of a load: rows made on the driver's thread, written on the
// writer thread.
#include "tl_row_pipe.h"

#include <cstring>
#include <mutex>

namespace {

// Rows travel in batches of this many bytes, at most kBatches of them made
// (one filling, the others queued or being written): memory stays bounded.
constexpr size_t kBatchBytes = 256 * 1024;
constexpr size_t kBatches = 4;

constexpr uint32_t kNoReject = UINT32_MAX;

struct row_head {
  int32_t rindex;  // -1: no table
  uint32_t ncells;
  uint64_t line;
  int64_t idx;
  uint32_t reject_len;  // kNoReject: stored whole
  uint32_t raw_len;     // 0 without a reject
};

template <class T>
void put(char*& o, const T& v) {
  std::memcpy(o, &v, sizeof v);
  o += sizeof v;
}

template <class T>
void get(const char*& p, T& v) {
  std::memcpy(&v, p, sizeof v);
  p += sizeof v;
}

}  // namespace

tl_row_batch::tl_row_batch(size_t capacity) : buf_(new char[capacity]), capacity_(capacity) {}

bool tl_row_batch::append(const tl_row& row) {
  size_t need = sizeof(row_head);
  for (size_t k = 0; k < row.ncells; k++) {
    const tl_cell& c = row.cells[k];
    need += 1;
    if (c.kind == tl_cell::amount) need += sizeof(int64_t) + 1;
    else if (c.kind == tl_cell::text) need += sizeof(uint32_t) + c.n;
  }
  const size_t reject_len = row.reject != nullptr ? std::strlen(row.reject) : 0;
  if (row.reject != nullptr) need += reject_len + 1 + row.raw_len;
  if (size_ + need > capacity_) {
    if (size_ > 0) return false;
    buf_.reset(new char[need]);
    capacity_ = need;
  }
  char* o = buf_.get() + size_;
  row_head h;
  h.rindex = row.table != nullptr ? row.table->rindex : -1;
  h.ncells = static_cast<uint32_t>(row.ncells);
  h.line = row.line;
  h.idx = row.idx;
  h.reject_len = row.reject != nullptr ? static_cast<uint32_t>(reject_len) : kNoReject;
  h.raw_len = row.reject != nullptr ? static_cast<uint32_t>(row.raw_len) : 0;
  put(o, h);
  for (size_t k = 0; k < row.ncells; k++) {
    const tl_cell& c = row.cells[k];
    *o++ = static_cast<char>(c.kind);
    if (c.kind == tl_cell::amount) {
      put(o, c.units);
      *o++ = static_cast<char>(c.decimals);
    } else if (c.kind == tl_cell::text) {
      put(o, static_cast<uint32_t>(c.n));
      std::memcpy(o, c.p, c.n);
      o += c.n;
    }
  }
  if (row.reject != nullptr) {
    std::memcpy(o, row.reject, reject_len + 1);
    o += reject_len + 1;
    std::memcpy(o, row.raw, row.raw_len);
    o += row.raw_len;
  }
  size_ += need;
  return true;
}

tl_row_reader::tl_row_reader(const tl_table_model& model) : model_(model), cells_(model.max_columns()) {}

void tl_row_reader::start(const tl_row_batch& b) {
  p_ = b.data();
  end_ = b.data() + b.size();
}

const tl_row* tl_row_reader::next() {
  if (p_ >= end_) return nullptr;
  const char* p = p_;
  row_head h;
  get(p, h);
  row_.table = h.rindex >= 0 ? model_.table(h.rindex) : nullptr;
  row_.line = h.line;
  row_.idx = h.idx;
  row_.ncells = h.ncells;
  row_.cells = cells_.data();
  for (size_t k = 0; k < h.ncells; k++) {
    tl_cell& c = cells_[k];
    c.kind = static_cast<tl_cell::kind_t>(*p++);
    if (c.kind == tl_cell::amount) {
      get(p, c.units);
      c.decimals = static_cast<signed char>(*p++);
    } else if (c.kind == tl_cell::text) {
      uint32_t n;
      get(p, n);
      c.p = p;
      c.n = n;
      p += n;
    }
  }
  if (h.reject_len != kNoReject) {
    row_.reject = p;
    p += h.reject_len + 1;
    row_.raw = p;
    row_.raw_len = h.raw_len;
    p += h.raw_len;
  } else {
    row_.reject = nullptr;
    row_.raw = nullptr;
    row_.raw_len = 0;
  }
  p_ = p;
  return &row_;
}

tl_row_sink::tl_row_sink() : model_(), maker_(model_), reader_(model_) {}

tl_row_sink::~tl_row_sink() { stop_writer(); }

void tl_row_sink::stop_writer() {
  if (worker_) worker_->stop();
  worker_.reset();
}

bool tl_row_sink::threaded() {
  if (mode_ == 0) {
    mode_ = 1;
    if (tl_pipeline_opts.jobs > 1) {
      for (size_t i = 0; i < kBatches; i++) batches_.emplace_back(new tl_row_batch(kBatchBytes));
      full_.assign(kBatches, nullptr);
      for (size_t i = 1; i < kBatches; i++) free_.push_back(batches_[i].get());
      cur_ = batches_[0].get();
      worker_.reset(new tl_worker);
      if (worker_->start([this] { writer_loop(); })) mode_ = 2;
      else worker_.reset();
    }
  }
  return mode_ == 2;
}

bool tl_row_sink::begin(const tl_document& doc) {
  maker_.reset();
  if (!threaded()) return open_doc(doc);
  doc_ = &doc;
  return run_step(step::open);
}

bool tl_row_sink::record(const char* rec, size_t len, unsigned long long line) {
  const tl_row& row = maker_.make(rec, len, line);
  if (mode_ != 2) return put_row(row);
  if (cur_->append(row)) return true;
  return send_batch() && cur_->append(row);
}

bool tl_row_sink::end(const tl_doc_end& e) {
  if (mode_ != 2) return close_doc(e);
  if (!e.complete) {
    // Nothing of the document is kept: what is not written yet need not be.
    std::lock_guard<std::mutex> lock(worker_->mutex());
    while (full_count_ > 0) {
      full_[full_head_]->clear();
      free_.push_back(full_[full_head_]);
      full_head_ = (full_head_ + 1) % kBatches;
      full_count_--;
    }
    cur_->clear();
  }
  end_ = &e;
  return run_step(step::close);
}

bool tl_row_sink::finish() {
  if (mode_ != 2) return close_run();
  const bool ok = run_step(step::finish);
  stop_writer();
  return ok;
}

// Queues the batch being filled and takes an empty one, waiting for the
// writer when all are queued. Returns false when writing a row failed.
bool tl_row_sink::send_batch() {
  std::unique_lock<std::mutex> lock(worker_->mutex());
  worker_->cv().wait(lock, [this] { return row_failed_ || !free_.empty(); });
  if (row_failed_) return false;
  full_[(full_head_ + full_count_) % kBatches] = cur_;
  full_count_++;
  cur_ = free_.back();
  free_.pop_back();
  worker_->cv().notify_all();
  return true;
}

// Runs a step on the writer thread after the rows sent before it, and
// waits for its result.
bool tl_row_sink::run_step(step s) {
  if (!cur_->empty() && !send_batch()) {
    // A row failed: the rows made since are dropped with the document.
    cur_->clear();
  }
  std::unique_lock<std::mutex> lock(worker_->mutex());
  step_ = s;
  step_done_ = false;
  worker_->cv().notify_all();
  worker_->cv().wait(lock, [this] { return step_done_; });
  return step_ok_;
}

bool tl_row_sink::do_step(step s) {
  switch (s) {
    case step::open:
      return open_doc(*doc_);
    case step::close:
      return close_doc(*end_);
    case step::finish:
      return close_run();
    case step::none:
      break;
  }
  return true;
}

void tl_row_sink::writer_loop() {
  std::unique_lock<std::mutex> lock(worker_->mutex());
  for (;;) {
    worker_->cv().wait(lock,
                       [this] { return worker_->stopped() || full_count_ > 0 || step_ != step::none; });
    if (worker_->stopped()) return;
    if (full_count_ > 0) {
      // Taken off the queue while written: a document that ends incomplete
      // drops only what is still queued.
      tl_row_batch* b = full_[full_head_];
      full_head_ = (full_head_ + 1) % kBatches;
      full_count_--;
      const bool failed = row_failed_;
      lock.unlock();
      bool ok = !failed;
      if (ok) {
        reader_.start(*b);
        while (const tl_row* row = reader_.next()) {
          if (!put_row(*row)) {
            ok = false;
            break;
          }
        }
      }
      b->clear();
      lock.lock();
      free_.push_back(b);
      if (!ok) row_failed_ = true;
      worker_->cv().notify_all();
      continue;
    }
    // A step comes after every batch sent before it.
    const step s = step_;
    if (s == step::open) row_failed_ = false;
    const bool failed = row_failed_;
    lock.unlock();
    bool ok;
    if (s == step::close && failed) {
      // A row failed after the driver's last look: the document is
      // incomplete, and the run stops.
      tl_doc_end e = *end_;
      e.complete = false;
      close_doc(e);
      ok = false;
    } else {
      ok = do_step(s);
    }
    lock.lock();
    step_ = step::none;
    step_ok_ = ok;
    step_done_ = true;
    worker_->cv().notify_all();
  }
}

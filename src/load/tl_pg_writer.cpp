// The PostgreSQL writer. Rows are gathered per table in COPY text form and
// sent in batches with COPY FROM STDIN inside the document's transaction,
// by a thread of its own: the server takes one batch while the next are
// gathered. Tables are made by another thread as soon as they are met, so
// that rows go into the first ones while the others are made.
// Tables are made on a second connection, in short transactions of their
// own under an advisory lock, so that loaders running at once neither
// collide on a new table nor wait for each other's documents.
#include "tl_pg_writer.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <libpq-fe.h>
#include <mutex>
#include <string>
#include <vector>

#include "tl_dynlib.h"
#include "tl_globals.h"
#include "tl_row_pipe.h"
#include "tl_table_model.h"
#include "tl_worker.h"

namespace {

// The libpq functions this writer calls, from the library opened at run
// time (tl_dynlib.h).
#define TL_PQ_FUNCTIONS(X) X(PQ, clear) X(PQ, connectdb) X(PQ, errorMessage) X(PQ, escapeLiteral) X(PQ, exec) X(PQ, execParams) X(PQ, finish) X(PQ, freemem) X(PQ, getResult) X(PQ, getvalue) X(PQ, ntuples) X(PQ, putCopyData) X(PQ, putCopyEnd) X(PQ, resultErrorField) X(PQ, resultStatus) X(PQ, setClientEncoding) X(PQ, setNoticeProcessor) X(PQ, status)
TL_DYNLIB_TABLE(pq_api, pq, load_pq, "libpq.so.5", TL_PQ_FUNCTIONS)

// A table's rows are sent once this many bytes of them are gathered, and
// the fullest tables' once all of them hold this many, until half of it is
// left: memory stays bounded.
constexpr size_t kTableBatch = 128 * 1024;
constexpr size_t kAllBatches = 8 * 1024 * 1024;
// Batches handed to the sending thread and not sent yet: at most this many
// bytes.
constexpr size_t kInFlight = 4 * 1024 * 1024;
// Tables made in one transaction by the table thread, at most: the first
// ones are there soon.
constexpr size_t kTableGroup = 16;
// The advisory lock that table making runs under ("tlload").
const char kDdlLock[] = "SELECT pg_advisory_xact_lock(127978248167780)";

// The PostgreSQL names of the metadata tables' types.
const char* meta_type(tl_meta_column::type_t t) {
  switch (t) {
    case tl_meta_column::file_key:
      return "bigserial";
    case tl_meta_column::int64:
      return "bigint";
    case tl_meta_column::int32:
      return "integer";
    case tl_meta_column::time:
      return "timestamptz";
    case tl_meta_column::bytes:
      return "bytea";
    case tl_meta_column::text:
      break;
  }
  return "text";
}

std::string column_type(const tl_column& c) {
  if (c.field == nullptr) return "bigint";
  if (c.decimals < 0) return "text";
  return "numeric(" + std::to_string(c.length) + "," + std::to_string(c.decimals) + ")";
}

// A message of libpq or the server, without its line end.
std::string pq_text(const char* s) {
  std::string m = s != nullptr ? s : "";
  while (!m.empty() && (m.back() == '\n' || m.back() == ' ')) m.pop_back();
  return m;
}

// The message of a failed call, without its line end.
std::string pq_message(PGconn* conn) { return pq_text(pq.errorMessage(conn)); }

// Appends a text value in COPY text form.
void put_copy_text(std::string& out, const char* p, size_t n) {
  for (size_t i = 0; i < n; i++) {
    const char c = p[i];
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
}

void put_number(std::string& out, long long v) {
  char d[24];
  out.append(d, static_cast<size_t>(snprintf(d, sizeof d, "%lld", v)));
}

class pg_writer : public tl_row_sink {
 public:
  pg_writer(PGconn* conn, PGconn* ddl) : conn_(conn), ddl_(ddl) {
    buffers_.resize(static_cast<size_t>(bdtr_count) + 1);
    met_.resize(static_cast<size_t>(bdtr_count));
    made_.resize(static_cast<size_t>(bdtr_count));
    // Without both threads the batches are sent as they fill, after the
    // tables they need.
    if (tl_pipeline_opts.jobs > 1) {
      threaded_ = sender_.start([this] { send_loop(); }) && maker_.start([this] { make_loop(); });
      if (!threaded_) stop_threads();
    }
  }
  ~pg_writer() override {
    stop_writer();
    stop_threads();
    close();
  }

  bool wants_digest() const override { return true; }

  bool open_doc(const tl_document& doc) override {
    doc_ = doc.name();
    records_ = rejects_ = 0;
    settle();
    {
      // Tables a failed document did not make are made with the next batch.
      std::lock_guard<std::mutex> lock(sm_);
      failed_ = false;
      std::vector<int>& to = threaded() ? to_make_ : pending_;
      to.insert(to.end(), unmade_.begin(), unmade_.end());
      unmade_.clear();
    }
    table_cv_.notify_one();
    if (!command(conn_, "BEGIN")) return false;
    in_txn_ = true;
    const char* params[] = {doc_, TL_VERSION};
    PGresult* r = pq.execParams(conn_, "INSERT INTO tapelens_files(name, version) VALUES($1, $2) RETURNING file_id",
                               2, nullptr, params, nullptr, nullptr, 0);
    if (pq.resultStatus(r) != PGRES_TUPLES_OK || pq.ntuples(r) != 1) {
      pq.clear(r);
      report("cannot record the file");
      return fail_doc();
    }
    file_id_ = pq.getvalue(r, 0, 0);
    pq.clear(r);
    return true;
  }

  bool put_row(const tl_row& row) override {
    records_++;
    if (row.table != nullptr) {
      const size_t at = static_cast<size_t>(row.table->rindex);
      if (!met_[at]) {
        // Made with the next batch, together with the others met by then.
        met_[at] = true;
        if (threaded()) {
          {
            std::lock_guard<std::mutex> lock(sm_);
            to_make_.push_back(row.table->rindex);
          }
          table_cv_.notify_one();
        } else {
          pending_.push_back(row.table->rindex);
        }
      }
      std::string& b = buffers_[at];
      const size_t before = b.size();
      put_keys(b, row);
      for (size_t k = 0; k < row.ncells; k++) {
        b += '\t';
        const tl_cell& c = row.cells[k];
        if (c.kind == tl_cell::text) {
          put_copy_text(b, c.p, c.n);
        } else if (c.kind == tl_cell::amount) {
          char d[64];
          b.append(d, tl_put_decimal(c.units, c.decimals, d));
        } else {
          b += "\\N";
        }
      }
      b += '\n';
      total_ += b.size() - before;
      if (b.size() >= kTableBatch && !send(at)) return false;
    }
    if (row.reject != nullptr) {
      rejects_++;
      std::string& b = buffers_.back();
      const size_t before = b.size();
      b += file_id_;
      b += '\t';
      put_number(b, static_cast<long long>(row.line));
      b += '\t';
      put_copy_text(b, row.reject, std::strlen(row.reject));
      b += "\t\\\\x";
      tl_append_hex(b, row.raw, row.raw_len);
      b += '\n';
      total_ += b.size() - before;
      if (b.size() >= kTableBatch && !send(buffers_.size() - 1)) return false;
    }
    if (total_ >= kAllBatches) return send_largest();
    return true;
  }

  bool close_doc(const tl_doc_end& e) override {
    const bool complete = e.complete;
    const tl_digest& digest = e.digest;
    if (!in_txn_) return false;
    if (!complete) {
      drop_batches();
      abandon();
      rollback();
      fprintf(stderr, "ERROR: PostgreSQL: loading %s stopped; nothing of it was kept\n", doc_);
      // Rolled back: the run goes on with the next input, as every mode does
      // after a failed read (a signal stops it in the driver).
      return true;
    }
    if (!send_all() || !settle()) return fail_doc();
    char hex[33];
    tl_digest_hex(digest, hex);
    // The size is of the bytes read, the ones the digest covers (an
    // archive's member, a compressed file's content).
    std::string records = std::to_string(records_), rejects = std::to_string(rejects_), size = std::to_string(e.bytes);
    const char* params[] = {hex, records.c_str(), rejects.c_str(), file_id_.c_str(), size.c_str()};
    PGresult* r = pq.execParams(conn_,
                               "UPDATE tapelens_files SET digest = $1, records = $2, rejects = $3, loaded_at = now(),"
                               " size = $5 WHERE file_id = $4",
                               5, nullptr, params, nullptr, nullptr, 0);
    const bool ok = pq.resultStatus(r) == PGRES_COMMAND_OK;
    const char* state = pq.resultErrorField(r, PG_DIAG_SQLSTATE);
    const bool seen = !ok && state != nullptr && std::strcmp(state, "23505") == 0;
    pq.clear(r);
    if (seen) {
      rollback();
      fprintf(stderr, "NOTICE: PostgreSQL: %s was loaded before (digest %s); skipped\n", doc_, hex);
      return true;
    }
    if (!ok) {
      report("cannot record the file");
      return fail_doc();
    }
    if (!command(conn_, "COMMIT")) {
      in_txn_ = false;
      return false;
    }
    in_txn_ = false;
    return true;
  }

  bool close_run() override {
    abandon();
    if (in_txn_) rollback();
    close();
    return true;
  }

 private:
  void close() {
    if (conn_ != nullptr) pq.finish(conn_);
    if (ddl_ != nullptr) pq.finish(ddl_);
    conn_ = ddl_ = nullptr;
  }

  void report(const char* what, PGconn* c = nullptr) {
    fprintf(stderr, "ERROR: PostgreSQL: %s: %s\n", what, pq_message(c != nullptr ? c : conn_).c_str());
  }

  bool command(PGconn* c, const char* sql) {
    PGresult* r = pq.exec(c, sql);
    const bool ok = pq.resultStatus(r) == PGRES_COMMAND_OK || pq.resultStatus(r) == PGRES_TUPLES_OK;
    pq.clear(r);
    if (!ok) report("command failed", c);
    return ok;
  }

  void rollback() {
    PGresult* r = pq.exec(conn_, "ROLLBACK");
    pq.clear(r);
    in_txn_ = false;
  }

  bool fail_doc() {
    drop_batches();
    abandon();
    if (in_txn_) rollback();
    return false;
  }

  void drop_batches() {
    for (std::string& b : buffers_) b.clear();
    total_ = 0;
  }

  void put_keys(std::string& b, const tl_row& row) {
    b += file_id_;
    b += '\t';
    put_number(b, static_cast<long long>(row.line));
    b += '\t';
    put_number(b, row.idx);
  }

  // Hands the rows gathered for buffer at (a layout, or the rejects last)
  // to the sending thread, with the tables to make before them; sends them
  // here without one. Returns false when a batch of the document failed.
  bool send(size_t at) {
    std::string& b = buffers_[at];
    if (b.empty()) return true;
    total_ -= b.size();
    if (!threaded()) {
      // The tables met since the last batch first; kept for the next
      // document when they cannot be made.
      bool ok = make_tables(pending_);
      if (ok) pending_.clear();
      ok = ok && deliver(at, b);
      b.clear();
      return ok;
    }
    std::unique_lock<std::mutex> lock(sm_);
    sent_cv_.wait(lock, [this] { return failed_ || outbox_bytes_ < kInFlight; });
    if (failed_) {
      b.clear();
      return false;
    }
    outbox_.push_back(batch{at, std::string()});
    outbox_.back().rows.swap(b);
    outbox_bytes_ += outbox_.back().rows.size();
    if (!spare_.empty()) {
      b.swap(spare_.back());
      spare_.pop_back();
    }
    lock.unlock();
    work_cv_.notify_one();
    return true;
  }

  // Returns the place in the outbox of the oldest batch whose table is
  // made, or the outbox's size when none is (under sm_). While the table
  // thread makes the tables met, the rows of those made go in; a table's
  // batches keep their order, as none is ready before its table is.
  size_t ready_batch() const {
    for (size_t i = 0; i < outbox_.size(); i++) {
      // A failed document's batches are only dropped.
      const size_t at = outbox_[i].at;
      if (failed_ || at + 1 == buffers_.size() || made_[at]) return i;
    }
    return outbox_.size();
  }

  // The sending thread: each table's batches in order, once it is made.
  void send_loop() {
    std::unique_lock<std::mutex> lock(sm_);
    for (;;) {
      size_t i = 0;
      work_cv_.wait(lock, [this, &i] {
        i = ready_batch();
        return stop_ || i < outbox_.size();
      });
      if (i == outbox_.size()) return;
      batch b = std::move(outbox_[i]);
      outbox_.erase(outbox_.begin() + static_cast<long>(i));
      busy_ = true;
      const bool skip = failed_;
      lock.unlock();
      const bool ok = skip || deliver(b.at, b.rows);
      lock.lock();
      busy_ = false;
      if (!ok) failed_ = true;
      outbox_bytes_ -= b.rows.size();
      b.rows.clear();
      spare_.push_back(std::move(b.rows));
      sent_cv_.notify_all();
    }
  }

  // The table thread: the tables met, a group at a time.
  void make_loop() {
    std::unique_lock<std::mutex> lock(sm_);
    for (;;) {
      table_cv_.wait(lock, [this] { return stop_ || !to_make_.empty(); });
      if (to_make_.empty()) return;
      const size_t n = std::min(to_make_.size(), kTableGroup);
      std::vector<int> group(to_make_.begin(), to_make_.begin() + static_cast<long>(n));
      to_make_.erase(to_make_.begin(), to_make_.begin() + static_cast<long>(n));
      making_ = true;
      lock.unlock();
      const bool ok = make_tables(group);
      lock.lock();
      making_ = false;
      for (int rindex : group) made_[static_cast<size_t>(rindex)] = ok;
      if (!ok) {
        // The document fails; its next one tries them again.
        failed_ = true;
        unmade_.insert(unmade_.end(), group.begin(), group.end());
      }
      sent_cv_.notify_all();
      work_cv_.notify_one();
    }
  }

  bool threaded() const { return threaded_; }

  void stop_threads() {
    {
      std::lock_guard<std::mutex> lock(sm_);
      stop_ = true;
    }
    work_cv_.notify_one();
    table_cv_.notify_one();
    sender_.stop();
    maker_.stop();
  }

  // Waits until every batch handed over is sent and every table met is
  // made. Returns false when one failed.
  bool settle() {
    std::unique_lock<std::mutex> lock(sm_);
    sent_cv_.wait(lock, [this] { return outbox_.empty() && !busy_ && to_make_.empty() && !making_; });
    return !failed_;
  }

  // Drops the batches not sent yet of a document that is given up, and
  // waits for the one being sent.
  void abandon() {
    {
      std::lock_guard<std::mutex> lock(sm_);
      failed_ = true;
    }
    sent_cv_.notify_all();
    work_cv_.notify_one();
    settle();
  }

  // Sends rows into buffer at's table, made by then. Returns false
  // (reported) on a failure.
  bool deliver(size_t at, const std::string& rows) {
    const std::string table = at + 1 == buffers_.size() ? std::string("tapelens_rejects")
                                                       : tl_sql_quoted(model().table(static_cast<int>(at))->name);
    const std::string sql = "COPY " + table + " FROM STDIN";
    PGresult* r = pq.exec(conn_, sql.c_str());
    const bool copying = pq.resultStatus(r) == PGRES_COPY_IN;
    pq.clear(r);
    if (!copying) {
      report("cannot start COPY");
      return false;
    }
    bool ok = pq.putCopyData(conn_, rows.data(), static_cast<int>(rows.size())) == 1;
    ok = pq.putCopyEnd(conn_, ok ? nullptr : "send failed") == 1 && ok;
    while ((r = pq.getResult(conn_)) != nullptr) {
      if (pq.resultStatus(r) != PGRES_COMMAND_OK) ok = false;
      pq.clear(r);
    }
    if (!ok) report("COPY failed");
    return ok;
  }

  // Sends the fullest tables' rows until half the bound is left gathered:
  // a table with few rows waits for more, and a COPY carries many.
  bool send_largest() {
    order_.resize(buffers_.size());
    for (size_t i = 0; i < order_.size(); i++) order_[i] = i;
    std::sort(order_.begin(), order_.end(),
              [this](size_t a, size_t b) { return buffers_[a].size() > buffers_[b].size(); });
    for (size_t i : order_) {
      if (total_ <= kAllBatches / 2) break;
      if (!send(i)) return false;
    }
    return true;
  }

  bool send_all() {
    for (size_t i = 0; i < buffers_.size(); i++) {
      if (!send(i)) return false;
    }
    return true;
  }

  // Makes the tables of layouts make that are missing, and checks that
  // those there have the columns this build writes: on the table
  // connection, in one transaction under the advisory lock, committed at
  // once. Returns false (message printed) when one has other columns.
  bool make_tables(const std::vector<int>& make) {
    if (make.empty()) return true;
    if (!command(ddl_, "BEGIN") || !command(ddl_, kDdlLock)) return ddl_failed();
    std::string names = "{";
    for (size_t i = 0; i < make.size(); i++) {
      if (i > 0) names += ",";
      names += model().table(make[i])->name;
    }
    names += "}";
    const char* params[] = {names.c_str()};
    PGresult* r = pq.execParams(ddl_,
                               "SELECT c.relname, a.attname, format_type(a.atttypid, a.atttypmod)"
                               " FROM pg_class c JOIN pg_attribute a ON a.attrelid = c.oid"
                               " WHERE c.relnamespace = (SELECT oid FROM pg_namespace WHERE nspname = current_schema())"
                               " AND c.relname = ANY($1)"
                               " AND a.attnum > 0 AND NOT a.attisdropped ORDER BY c.relname, a.attnum",
                               1, nullptr, params, nullptr, nullptr, 0);
    if (pq.resultStatus(r) != PGRES_TUPLES_OK) {
      pq.clear(r);
      report("cannot read the table list", ddl_);
      return ddl_failed();
    }
    std::string sql;
    bool ok = true;
    for (int rindex : make) {
      const tl_table& t = *model().table(rindex);
      // The rows of this table, in column order.
      size_t k = 0;
      bool same = true;
      for (int i = 0; i < pq.ntuples(r); i++) {
        if (t.name != pq.getvalue(r, i, 0)) continue;
        same = same && k < t.columns.size() && t.columns[k].name == pq.getvalue(r, i, 1) &&
               column_type(t.columns[k]) == pq.getvalue(r, i, 2);
        k++;
      }
      if (k == 0) {
        add_create(t, sql);
      } else if (!same || k != t.columns.size()) {
        fprintf(stderr,
                "ERROR: PostgreSQL: table %s has other columns than this tapelens makes for layout %s; nothing of %s "
                "loaded\n",
                t.name.c_str(), t.record_key.c_str(), doc_);
        ok = false;
        break;
      }
    }
    pq.clear(r);
    if (!ok) return ddl_failed();
    sql += "COMMIT";
    r = pq.exec(ddl_, sql.c_str());
    ok = pq.resultStatus(r) == PGRES_COMMAND_OK;
    pq.clear(r);
    if (!ok) {
      report("cannot make the tables", ddl_);
      return ddl_failed();
    }
    return true;
  }

  // Appends the statements that make table t, its columns and its layout.
  void add_create(const tl_table& t, std::string& sql) {
    sql += "CREATE TABLE " + tl_sql_quoted(t.name) + "(";
    for (size_t i = 0; i < t.columns.size(); i++) {
      const tl_column& c = t.columns[i];
      if (i > 0) sql += ", ";
      sql += tl_sql_quoted(c.name) + " " + column_type(c);
      if (i < kTlKeyColumns) sql += " NOT NULL";
    }
    sql += "); INSERT INTO tapelens_columns VALUES ";
    for (size_t i = 0; i < t.columns.size(); i++) {
      const tl_column& c = t.columns[i];
      sql += i > 0 ? ", (" : "(";
      sql += literal(t.name) + ", " + literal(c.name) + ", " + std::to_string(i + 1) + ", ";
      if (c.field != nullptr) {
        sql += literal(c.display) + ", " + std::to_string(c.start) + ", " + std::to_string(c.length) + ", ";
      } else {
        sql += "NULL, NULL, NULL, ";
      }
      sql += c.decimals >= 0 ? std::to_string(c.decimals) : std::string("NULL");
      sql += ")";
    }
    sql +=
        " ON CONFLICT (table_name, column_name) DO UPDATE SET ordinal = EXCLUDED.ordinal,"
        " display_name = EXCLUDED.display_name, start = EXCLUDED.start, length = EXCLUDED.length,"
        " decimals = EXCLUDED.decimals; INSERT INTO tapelens_layouts VALUES (" +
        literal(t.name) + ", " + literal(t.record_key) + ", " + literal(t.record_class) + ", " +
        literal(t.layout_name) +
        ") ON CONFLICT (table_name) DO UPDATE SET record_key = EXCLUDED.record_key, class = EXCLUDED.class,"
        " name = EXCLUDED.name; ";
  }

  std::string literal(const std::string& v) {
    char* e = pq.escapeLiteral(ddl_, v.data(), v.size());
    if (e == nullptr) return "NULL";
    std::string out = e;
    pq.freemem(e);
    return out;
  }

  bool ddl_failed() {
    PGresult* r = pq.exec(ddl_, "ROLLBACK");
    pq.clear(r);
    return false;
  }

  PGconn* conn_;
  PGconn* ddl_;
  std::vector<std::string> buffers_;  // one per layout, then the rejects
  std::vector<bool> met_;             // per layout: its table met (made or to be made)
  std::vector<int> pending_;          // on one thread: layouts whose tables the next batch makes
  std::vector<size_t> order_;         // the buffers, fullest first
  // The sending thread and what it shares with the writer, under sm_.
  struct batch {
    size_t at;
    std::string rows;
  };
  // Their threads, with every signal blocked (signals are the driver's).
  tl_worker sender_, maker_;
  bool threaded_ = false;
  std::mutex sm_;
  std::condition_variable work_cv_, sent_cv_, table_cv_;
  std::deque<batch> outbox_;
  size_t outbox_bytes_ = 0;
  std::vector<std::string> spare_;  // sent batches' strings, for their room
  std::vector<int> unmade_;         // tables the table thread failed to make
  std::vector<int> to_make_;        // tables met, for the table thread
  std::vector<bool> made_;          // per layout: its table made by the table thread
  bool busy_ = false, stop_ = false, making_ = false;
  bool failed_ = false;             // a batch of the document failed, or it is given up
  size_t total_ = 0;
  std::string file_id_;
  const char* doc_ = "";
  unsigned long long records_ = 0;
  unsigned long long rejects_ = 0;
  bool in_txn_ = false;
};

// What the server says outside a command's result (a warning, or why it
// is about to end the connection), in tapelens's form rather than libpq's
// bare one. libpq calls it on the thread that uses the connection.
void pq_notice(void*, const char* message) {
  fprintf(stderr, "NOTICE: PostgreSQL: the server says: %s\n", pq_text(message).c_str());
}

PGconn* connect(const char* conninfo) {
  PGconn* c = pq.connectdb(conninfo);
  if (c == nullptr || pq.status(c) != CONNECTION_OK) {
    fprintf(stderr, "ERROR: PostgreSQL: cannot connect: %s\n", c != nullptr ? pq_message(c).c_str() : "out of memory");
    pq.finish(c);
    return nullptr;
  }
  pq.setNoticeProcessor(c, pq_notice, nullptr);
  if (pq.setClientEncoding(c, "UTF8") != 0) {
    fprintf(stderr, "ERROR: PostgreSQL: cannot use UTF8: %s\n", pq_message(c).c_str());
    pq.finish(c);
    return nullptr;
  }
  PGresult* r = pq.exec(c, "SET client_min_messages = warning");
  pq.clear(r);
  return c;
}

}  // namespace

std::unique_ptr<tl_sink> tl_open_pg_writer(const char* conninfo) {
  if (!load_pq()) return nullptr;
  PGconn* conn = connect(conninfo);
  if (conn == nullptr) return nullptr;
  PGconn* ddl = connect(conninfo);
  if (ddl == nullptr) {
    pq.finish(conn);
    return nullptr;
  }
  const std::string sql = std::string("BEGIN;") + kDdlLock + ";" + tl_meta_ddl(meta_type) + "COMMIT;";
  PGresult* r = pq.exec(ddl, sql.c_str());
  const bool ok = pq.resultStatus(r) == PGRES_COMMAND_OK;
  pq.clear(r);
  if (!ok) {
    fprintf(stderr, "ERROR: PostgreSQL: cannot make the tapelens tables: %s\n", pq_message(ddl).c_str());
    pq.finish(ddl);
    pq.finish(conn);
    return nullptr;
  }
  return std::unique_ptr<tl_sink>(new pg_writer(conn, ddl));
}

// The SQLite writer: prepared INSERTs per table, kept for the run; amounts as
// INTEGER of their smallest unit, with a view per table showing decimals.
#include "tl_sqlite_writer.h"

#include <cstdio>
#include <cstring>
#include <sqlite3.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "tl_dynlib.h"
#include "tl_globals.h"
#include "tl_row_pipe.h"
#include "tl_table_model.h"

namespace {

// The SQLite functions this writer calls, from the library opened at run
// time (tl_dynlib.h).
#define TL_SQLITE_FUNCTIONS(X) X(sqlite3_, bind_blob) X(sqlite3_, bind_int) X(sqlite3_, bind_int64) X(sqlite3_, bind_null) X(sqlite3_, bind_text) X(sqlite3_, busy_handler) X(sqlite3_, close) X(sqlite3_, column_text) X(sqlite3_, db_readonly) X(sqlite3_, errmsg) X(sqlite3_, exec) X(sqlite3_, finalize) X(sqlite3_, free) X(sqlite3_, last_insert_rowid) X(sqlite3_, open_v2) X(sqlite3_, prepare_v2) X(sqlite3_, reset) X(sqlite3_, step)
TL_DYNLIB_TABLE(sqlite_api, sq, load_sqlite, "libsqlite3.so.0", TL_SQLITE_FUNCTIONS)

// Waiting this long for another loader's lock before giving up (ms).
constexpr int kBusyTimeoutMs = 10 * 60 * 1000;
constexpr int kBusyPollMs = 10;

// Waits for another loader's lock, but not past a Ctrl-C or SIGTERM: the
// run then stops at once. Returns 1 to try again, 0 to give up.
int busy_wait(void* /*unused*/, int count) {
  if (tl_shutdown != 0 || count >= kBusyTimeoutMs / kBusyPollMs) return 0;
  usleep(kBusyPollMs * 1000);
  return 1;
}

// The SQLite names of the metadata tables' types.
const char* meta_type(tl_meta_column::type_t t) {
  switch (t) {
    case tl_meta_column::text:
    case tl_meta_column::time:
      return "TEXT";
    case tl_meta_column::bytes:
      return "BLOB";
    case tl_meta_column::file_key:
    case tl_meta_column::int64:
    case tl_meta_column::int32:
      break;
  }
  return "INTEGER";
}

const char* column_type(const tl_column& c) { return c.field != nullptr && c.decimals < 0 ? "TEXT" : "INTEGER"; }

class sqlite_writer : public tl_row_sink {
 public:
  sqlite_writer(sqlite3* db, const char* path) : db_(db), path_(path) {
    tables_.resize(static_cast<size_t>(bdtr_count));
  }
  ~sqlite_writer() override {
    stop_writer();
    close();
  }

  bool wants_digest() const override { return true; }

  bool open_doc(const tl_document& doc) override {
    doc_ = doc.name();
    records_ = rejects_ = 0;
    if (sq.exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
      if (tl_shutdown != 0) fprintf(stderr, "ERROR: %s: stopped while waiting for another loader's lock\n", path_.c_str());
      else report("cannot start a transaction");
      return false;
    }
    in_txn_ = true;
    sqlite3_stmt* s = prepare("INSERT INTO tapelens_files(name, version) VALUES(?, ?)");
    if (s == nullptr) return fail_doc();
    sq.bind_text(s, 1, doc_, -1, SQLITE_TRANSIENT);
    sq.bind_text(s, 2, TL_VERSION, -1, SQLITE_STATIC);
    const bool ok = step_done(s);
    sq.finalize(s);
    if (!ok) return fail_doc();
    file_id_ = sq.last_insert_rowid(db_);
    if (reject_ == nullptr) {
      reject_ = prepare("INSERT INTO tapelens_rejects(file_id, line, reason, raw) VALUES(?, ?, ?, ?)");
      if (reject_ == nullptr) return fail_doc();
    }
    return true;
  }

  bool put_row(const tl_row& row) override {
    records_++;
    if (row.table != nullptr) {
      sqlite3_stmt* s = insert_for(*row.table);
      if (s == nullptr) return false;
      sq.bind_int64(s, 1, file_id_);
      sq.bind_int64(s, 2, static_cast<sqlite3_int64>(row.line));
      sq.bind_int64(s, 3, row.idx);
      for (size_t k = 0; k < row.ncells; k++) {
        const tl_cell& c = row.cells[k];
        const int at = static_cast<int>(k + kTlKeyColumns + 1);
        if (c.kind == tl_cell::text) sq.bind_text(s, at, c.p, static_cast<int>(c.n), SQLITE_STATIC);
        else if (c.kind == tl_cell::amount) sq.bind_int64(s, at, c.units);
        else sq.bind_null(s, at);
      }
      if (!step_done(s)) return false;
    }
    if (row.reject != nullptr) {
      rejects_++;
      sq.bind_int64(reject_, 1, file_id_);
      sq.bind_int64(reject_, 2, static_cast<sqlite3_int64>(row.line));
      sq.bind_text(reject_, 3, row.reject, -1, SQLITE_STATIC);
      sq.bind_blob(reject_, 4, row.raw, static_cast<int>(row.raw_len), SQLITE_STATIC);
      if (!step_done(reject_)) return false;
    }
    return true;
  }

  bool close_doc(const tl_doc_end& e) override {
    const bool complete = e.complete;
    const tl_digest& digest = e.digest;
    if (!in_txn_) return false;
    if (!complete) {
      rollback();
      fprintf(stderr, "ERROR: %s: loading %s stopped; nothing of it was kept\n", path_.c_str(), doc_);
      // Rolled back: the run goes on with the next input, as every mode does
      // after a failed read (a signal stops it in the driver).
      return true;
    }
    char hex[33];
    tl_digest_hex(digest, hex);
    sqlite3_stmt* s = prepare(
        "UPDATE tapelens_files SET size = ?, digest = ?, records = ?, rejects = ?,"
        " loaded_at = strftime('%Y-%m-%dT%H:%M:%SZ', 'now') WHERE file_id = ?");
    if (s == nullptr) return fail_doc();
    // The size is of the bytes read, the ones the digest covers (an
    // archive's member, a compressed file's content).
    sq.bind_int64(s, 1, static_cast<sqlite3_int64>(e.bytes));
    sq.bind_text(s, 2, hex, 32, SQLITE_STATIC);
    sq.bind_int64(s, 3, static_cast<sqlite3_int64>(records_));
    sq.bind_int64(s, 4, static_cast<sqlite3_int64>(rejects_));
    sq.bind_int64(s, 5, file_id_);
    const int rc = sq.step(s);
    sq.finalize(s);
    if ((rc & 0xff) == SQLITE_CONSTRAINT) {
      rollback();
      fprintf(stderr, "NOTICE: %s: %s was loaded before (digest %s); skipped\n", path_.c_str(), doc_, hex);
      return true;
    }
    if (rc != SQLITE_DONE) {
      report("cannot record the file");
      return fail_doc();
    }
    if (!exec("COMMIT")) return fail_doc();
    in_txn_ = false;
    return true;
  }

  bool close_run() override {
    if (in_txn_) rollback();
    return close();
  }

 private:
  bool close() {
    if (db_ == nullptr) return true;
    drop_statements();
    const bool ok = sq.close(db_) == SQLITE_OK;
    if (!ok) report("cannot close the database");
    db_ = nullptr;
    return ok;
  }

  void drop_statements() {
    for (sqlite3_stmt*& s : tables_) {
      sq.finalize(s);
      s = nullptr;
    }
    sq.finalize(reject_);
    reject_ = nullptr;
  }

  void report(const char* what) { fprintf(stderr, "ERROR: %s: %s: %s\n", path_.c_str(), what, sq.errmsg(db_)); }

  bool exec(const char* sql) {
    char* err = nullptr;
    if (sq.exec(db_, sql, nullptr, nullptr, &err) == SQLITE_OK) return true;
    fprintf(stderr, "ERROR: %s: %s\n", path_.c_str(), err != nullptr ? err : sq.errmsg(db_));
    sq.free(err);
    return false;
  }

  sqlite3_stmt* prepare(const std::string& sql) {
    sqlite3_stmt* s = nullptr;
    if (sq.prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &s, nullptr) != SQLITE_OK) {
      report("cannot prepare a statement");
      return nullptr;
    }
    return s;
  }

  bool step_done(sqlite3_stmt* s) {
    const int rc = sq.step(s);
    sq.reset(s);
    if (rc == SQLITE_DONE) return true;
    report("cannot write");
    return false;
  }

  void rollback() {
    // Tables made in the rolled-back transaction are gone: prepare again.
    drop_statements();
    sq.exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    in_txn_ = false;
  }

  bool fail_doc() {
    if (in_txn_) rollback();
    return false;
  }

  // The prepared INSERT of the table, made (with the table when missing)
  // on its first record of the run.
  sqlite3_stmt* insert_for(const tl_table& t) {
    sqlite3_stmt*& s = tables_[static_cast<size_t>(t.rindex)];
    if (s != nullptr) return s;
    if (!ensure_table(t)) return nullptr;
    std::string sql = "INSERT INTO " + tl_sql_quoted(t.name) + " VALUES(";
    for (size_t k = 0; k < t.columns.size(); k++) sql += k == 0 ? "?" : ",?";
    sql += ")";
    s = prepare(sql);
    return s;
  }

  bool ensure_table(const tl_table& t) {
    sqlite3_stmt* info = prepare("SELECT name, type FROM pragma_table_info(?) ORDER BY cid");
    if (info == nullptr) return false;
    sq.bind_text(info, 1, t.name.c_str(), -1, SQLITE_STATIC);
    size_t k = 0;
    bool same = true;
    int rc;
    while ((rc = sq.step(info)) == SQLITE_ROW) {
      const char* name = reinterpret_cast<const char*>(sq.column_text(info, 0));
      const char* type = reinterpret_cast<const char*>(sq.column_text(info, 1));
      if (k >= t.columns.size() || name == nullptr || type == nullptr || t.columns[k].name != name ||
          std::strcmp(column_type(t.columns[k]), type) != 0) {
        same = false;
      }
      k++;
    }
    sq.finalize(info);
    if (rc != SQLITE_DONE) {
      report("cannot read the table list");
      return false;
    }
    if (k > 0) {
      if (same && k == t.columns.size()) return true;
      fprintf(stderr,
              "ERROR: %s: table %s has other columns than this tapelens makes for layout %s; nothing of %s loaded\n",
              path_.c_str(), t.name.c_str(), t.record_key.c_str(), doc_);
      return false;
    }
    std::string sql = "CREATE TABLE " + tl_sql_quoted(t.name) + "(";
    std::string view = "CREATE VIEW IF NOT EXISTS " + tl_sql_quoted(t.name + "_v") + " AS SELECT ";
    for (size_t i = 0; i < t.columns.size(); i++) {
      const tl_column& c = t.columns[i];
      if (i > 0) sql += ", ", view += ", ";
      sql += tl_sql_quoted(c.name) + " " + column_type(c);
      if (i < kTlKeyColumns) sql += " NOT NULL";
      const std::string name = tl_sql_quoted(c.name);
      view += c.decimals > 0 ? tl_sqlite_decimal_expr(name, c.decimals) + " AS " + name : name;
    }
    sql += ");";
    view += " FROM " + tl_sql_quoted(t.name) + ";";
    if (!exec(sql.c_str()) || !exec(view.c_str())) return false;
    sqlite3_stmt* col = prepare(
        "INSERT OR REPLACE INTO tapelens_columns(table_name, column_name, ordinal, display_name, start, length,"
        " decimals) VALUES(?, ?, ?, ?, ?, ?, ?)");
    if (col == nullptr) return false;
    for (size_t i = 0; i < t.columns.size(); i++) {
      const tl_column& c = t.columns[i];
      sq.bind_text(col, 1, t.name.c_str(), -1, SQLITE_STATIC);
      sq.bind_text(col, 2, c.name.c_str(), -1, SQLITE_STATIC);
      sq.bind_int64(col, 3, static_cast<sqlite3_int64>(i + 1));
      if (c.field != nullptr) {
        sq.bind_text(col, 4, c.display.c_str(), -1, SQLITE_STATIC);
        sq.bind_int(col, 5, c.start);
        sq.bind_int(col, 6, c.length);
      } else {
        sq.bind_null(col, 4);
        sq.bind_null(col, 5);
        sq.bind_null(col, 6);
      }
      if (c.decimals >= 0) sq.bind_int(col, 7, c.decimals);
      else sq.bind_null(col, 7);
      if (!step_done(col)) {
        sq.finalize(col);
        return false;
      }
    }
    sq.finalize(col);
    sqlite3_stmt* lay =
        prepare("INSERT OR REPLACE INTO tapelens_layouts(table_name, record_key, class, name) VALUES(?, ?, ?, ?)");
    if (lay == nullptr) return false;
    sq.bind_text(lay, 1, t.name.c_str(), -1, SQLITE_STATIC);
    sq.bind_text(lay, 2, t.record_key.c_str(), -1, SQLITE_STATIC);
    sq.bind_text(lay, 3, t.record_class.c_str(), -1, SQLITE_STATIC);
    sq.bind_text(lay, 4, t.layout_name.c_str(), -1, SQLITE_STATIC);
    const bool ok = step_done(lay);
    sq.finalize(lay);
    return ok;
  }

  sqlite3* db_;
  std::string path_;
  std::vector<sqlite3_stmt*> tables_;
  sqlite3_stmt* reject_ = nullptr;
  const char* doc_ = "";
  sqlite3_int64 file_id_ = 0;
  unsigned long long records_ = 0;
  unsigned long long rejects_ = 0;
  bool in_txn_ = false;
};

}  // namespace

std::string tl_sqlite_decimal_expr(const std::string& col, int decimals) {
  std::string scale = "1";
  for (int i = 0; i < decimals; i++) scale += '0';
  const std::string zeros(static_cast<size_t>(decimals), '0');
  return "CASE WHEN " + col + " IS NULL THEN NULL ELSE (CASE WHEN " + col + " < 0 THEN '-' ELSE '' END) || (abs(" +
         col + ") / " + scale + ") || '.' || substr('" + zeros + "' || (abs(" + col + ") % " + scale + "), -" +
         std::to_string(decimals) + ") END";
}

std::unique_ptr<tl_sink> tl_open_sqlite_writer(const char* path) {
  // SQLite would take an empty name for a temporary database, gone at the end.
  if (path[0] == '\0') {
    fprintf(stderr, "ERROR: --sqlite needs the name of a database file\n");
    return nullptr;
  }
  if (!load_sqlite()) return nullptr;
  sqlite3* db = nullptr;
  if (sq.open_v2(path, &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
    fprintf(stderr, "ERROR: %s: cannot open the SQLite database: %s\n", path,
            db != nullptr ? sq.errmsg(db) : "out of memory");
    sq.close(db);
    return nullptr;
  }
  sq.busy_handler(db, busy_wait, nullptr);
  // Reading the schema is the first look at the file: a file that is no
  // database fails here, before anything is written to it.
  char* err = nullptr;
  int rc = sq.exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, &err);
  if (rc != SQLITE_OK) {
    if (rc == SQLITE_NOTADB) fprintf(stderr, "ERROR: %s is not an SQLite database\n", path);
    else fprintf(stderr, "ERROR: %s: cannot read the SQLite database: %s\n", path, err != nullptr ? err : "");
    sq.free(err);
    sq.close(db);
    return nullptr;
  }
  if (sq.db_readonly(db, "main") == 1) {
    fprintf(stderr, "ERROR: %s: the SQLite database cannot be written\n", path);
    sq.close(db);
    return nullptr;
  }
  std::string sql = std::string("BEGIN IMMEDIATE;") + tl_meta_ddl(meta_type) + "COMMIT;";
  if (sq.exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    if (tl_shutdown != 0) fprintf(stderr, "ERROR: %s: stopped while waiting for another loader's lock\n", path);
    else fprintf(stderr, "ERROR: %s: the SQLite database cannot be written: %s\n", path, err != nullptr ? err : "");
    sq.free(err);
    sq.exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sq.close(db);
    return nullptr;
  }
  return std::unique_ptr<tl_sink>(new sqlite_writer(db, path));
}

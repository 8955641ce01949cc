// The split writer: each layout's rows in DIR/<table>.csv under a header row
// of its column names, with the rejects and the files beside them. A
// document that does not end whole is cut off the files again.
#include "tl_split_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "tl_globals.h"
#include "tl_row_pipe.h"
#include "tl_table_model.h"

namespace {

struct csv_file {
  FILE* f = nullptr;
  off_t keep = 0;  // the size to cut back to when the document in hand fails
};

class split_writer : public tl_row_sink {
 public:
  explicit split_writer(const char* dir) : dir_(dir) {
    files_.resize(static_cast<size_t>(bdtr_count) + 2);
  }
  ~split_writer() override {
    stop_writer();
    close_all();
  }

  bool wants_digest() const override { return true; }

  bool open_doc(const tl_document& doc) override {
    doc_ = doc.name();
    file_id_++;
    records_ = rejects_ = 0;
    for (csv_file& c : files_) {
      if (c.f != nullptr) c.keep = ftello(c.f);
    }
    return true;
  }

  bool put_row(const tl_row& row) override {
    records_++;
    if (row.table != nullptr) {
      csv_file* c = open_table(*row.table);
      if (c == nullptr) return false;
      line_.clear();
      put_keys(row);
      for (size_t k = 0; k < row.ncells; k++) {
        line_ += ',';
        const tl_cell& cell = row.cells[k];
        if (cell.kind == tl_cell::text) {
          if (cell.n == 0) line_ += "\"\"";
          else tl_append_csv_field(line_, cell.p, cell.n);
        } else if (cell.kind == tl_cell::amount) {
          char d[64];
          line_.append(d, tl_put_decimal(cell.units, cell.decimals, d));
        }
      }
      line_ += "\r\n";
      if (!put(*c)) return false;
    }
    if (row.reject != nullptr) {
      rejects_++;
      csv_file* c = open_meta(kRejects);
      if (c == nullptr) return false;
      line_.clear();
      put_number(file_id_);
      line_ += ',';
      put_number(static_cast<long long>(row.line));
      line_ += ',';
      tl_append_csv_field(line_, row.reject, std::strlen(row.reject));
      // The raw bytes in the hex form that PostgreSQL reads into a bytea.
      line_ += ",\\x";
      tl_append_hex(line_, row.raw, row.raw_len);
      line_ += "\r\n";
      if (!put(*c)) return false;
    }
    return true;
  }

  bool close_doc(const tl_doc_end& e) override {
    const bool complete = e.complete;
    const tl_digest& digest = e.digest;
    if (!complete) {
      cut_back();
      fprintf(stderr, "ERROR: %s: writing %s stopped; nothing of it was kept\n", dir_.c_str(), doc_);
      // Rolled back: the run goes on with the next input, as every mode does
      // after a failed read (a signal stops it in the driver).
      return true;
    }
    csv_file* c = open_meta(kFiles);
    if (c == nullptr) return false;
    char hex[33];
    tl_digest_hex(digest, hex);
    char when[32];
    time_t now = time(nullptr);
    struct tm tm;
    gmtime_r(&now, &tm);
    strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &tm);
    line_.clear();
    put_number(file_id_);
    line_ += ',';
    tl_append_csv_field(line_, doc_, std::strlen(doc_));
    line_ += ',';
    // The bytes read, the ones the digest covers.
    put_number(static_cast<long long>(e.bytes));
    line_ += std::string(",") + hex + ",";
    put_number(static_cast<long long>(records_));
    line_ += ',';
    put_number(static_cast<long long>(rejects_));
    line_ += std::string(",") + when + "," + TL_VERSION + "\r\n";
    if (!put(*c)) return false;
    // A document counts as written once all of it is out of the buffers.
    for (csv_file& f : files_) {
      if (f.f != nullptr && fflush(f.f) != 0) return failed_write();
    }
    return true;
  }

  bool close_run() override {
    bool ok = write_model();
    return close_all() && ok;
  }

  static constexpr size_t kRejects = 0;
  static constexpr size_t kFiles = 1;

 private:
  bool failed_write() {
    fprintf(stderr, "ERROR: %s: cannot write: %s\n", dir_.c_str(), strerror(errno));
    return false;
  }

  bool put(csv_file& c) {
    if (fwrite(line_.data(), 1, line_.size(), c.f) == line_.size()) return true;
    return failed_write();
  }

  void put_number(long long v) {
    char d[24];
    line_.append(d, static_cast<size_t>(snprintf(d, sizeof d, "%lld", v)));
  }

  void put_keys(const tl_row& row) {
    put_number(file_id_);
    line_ += ',';
    put_number(static_cast<long long>(row.line));
    line_ += ',';
    put_number(row.idx);
  }

  csv_file* open_file(csv_file& c, const std::string& name, const std::string& header) {
    if (c.f != nullptr) return &c;
    std::string path = dir_ + "/" + name + ".csv";
    c.f = fopen(path.c_str(), "w");
    if (c.f == nullptr) {
      fprintf(stderr, "ERROR: %s: cannot create %s: %s\n", dir_.c_str(), path.c_str(), strerror(errno));
      return nullptr;
    }
    setvbuf(c.f, nullptr, _IOFBF, 1 << 16);
    line_ = header + "\r\n";
    if (!put(c)) return nullptr;
    c.keep = ftello(c.f);
    return &c;
  }

  csv_file* open_meta(size_t which) {
    const tl_meta_table& t = kTlMetaTables[which == kRejects ? kTlMetaRejects : kTlMetaFiles];
    return open_file(files_[which], t.name, tl_meta_header(t));
  }

  csv_file* open_table(const tl_table& t) {
    csv_file& c = files_[static_cast<size_t>(t.rindex) + 2];
    if (c.f != nullptr) return &c;
    std::string header;
    for (const tl_column& col : t.columns) {
      if (!header.empty()) header += ',';
      tl_append_csv_field(header, col.name.data(), col.name.size());
    }
    return open_file(c, t.name, header);
  }

  void cut_back() {
    for (csv_file& c : files_) {
      if (c.f == nullptr) continue;
      fflush(c.f);
      if (ftruncate(fileno(c.f), c.keep) == 0) fseeko(c.f, c.keep, SEEK_SET);
    }
  }

  // The columns and layouts of the tables written, as the databases hold them.
  bool write_model() {
    std::string cols = tl_meta_header(kTlMetaTables[kTlMetaColumns]) + "\r\n";
    std::string lays = tl_meta_header(kTlMetaTables[kTlMetaLayouts]) + "\r\n";
    bool any = false;
    for (int i = 0; i < bdtr_count; i++) {
      if (files_[static_cast<size_t>(i) + 2].f == nullptr) continue;
      const tl_table& t = *model().table(i);
      any = true;
      for (size_t k = 0; k < t.columns.size(); k++) {
        const tl_column& c = t.columns[k];
        cols += t.name + "," + c.name + "," + std::to_string(k + 1) + ",";
        if (c.field != nullptr) {
          tl_append_csv_field(cols, c.display.data(), c.display.size());
          cols += "," + std::to_string(c.start) + "," + std::to_string(c.length);
        } else {
          cols += ",,";
        }
        cols += ",";
        if (c.decimals >= 0) cols += std::to_string(c.decimals);
        cols += "\r\n";
      }
      lays += t.name + "," + t.record_key + "," + t.record_class + ",";
      tl_append_csv_field(lays, t.layout_name.data(), t.layout_name.size());
      lays += "\r\n";
    }
    if (!any) return true;
    for (const auto& [name, text] : {std::pair<const char*, std::string*>{kTlMetaTables[kTlMetaColumns].name, &cols},
                                     std::pair<const char*, std::string*>{kTlMetaTables[kTlMetaLayouts].name, &lays}}) {
      std::string path = dir_ + "/" + name + ".csv";
      FILE* f = fopen(path.c_str(), "w");
      if (f == nullptr || fwrite(text->data(), 1, text->size(), f) != text->size()) {
        if (f != nullptr) fclose(f);
        return failed_write();
      }
      if (fclose(f) != 0) return failed_write();
    }
    return true;
  }

  bool close_all() {
    bool ok = true;
    for (csv_file& c : files_) {
      if (c.f == nullptr) continue;
      if (fclose(c.f) != 0 && ok) ok = failed_write();
      c.f = nullptr;
    }
    return ok;
  }

  std::string dir_;
  std::vector<csv_file> files_;  // rejects, files, then one per layout
  std::string line_;
  const char* doc_ = "";
  long long file_id_ = 0;
  unsigned long long records_ = 0;
  unsigned long long rejects_ = 0;
};

}  // namespace

std::unique_ptr<tl_sink> tl_open_split_writer(const char* dir) {
  struct stat st;
  if (stat(dir, &st) != 0) {
    if (mkdir(dir, 0777) != 0) {
      fprintf(stderr, "ERROR: cannot create the folder %s: %s\n", dir, strerror(errno));
      return nullptr;
    }
  } else if (!S_ISDIR(st.st_mode)) {
    fprintf(stderr, "ERROR: %s is not a folder\n", dir);
    return nullptr;
  }
  return std::unique_ptr<tl_sink>(new split_writer(dir));
}

// The load's tables from the catalogue, and records converted to rows.
#include "tl_table_model.h"

#include <cstdio>
#include <cstring>
#include <set>

#include "tl_util.h"

namespace {

// Adds a column whose name is made unique within its table by a number.
void add_column(tl_table& t, std::set<std::string>& used, tl_column c) {
  std::string base = c.name;
  for (int k = 2; used.count(c.name) != 0; k++) {
    std::string tail = "_" + std::to_string(k);
    c.name = base.substr(0, 63 - tail.size()) + tail;
  }
  used.insert(c.name);
  t.columns.push_back(std::move(c));
}

tl_column field_column(const bdt_fields_tag& f, bool amount) {
  tl_column c;
  c.display = f.field_name != nullptr ? f.field_name : "";
  c.name = tl_column_name(c.display.c_str());
  c.start = f.field_offset + 1;
  c.length = f.field_length;
  c.decimals = amount ? f.amount_ind : -1;
  c.field = &f;
  return c;
}

// True when the record's identifier is one of the index records of -D.
bool is_index_record(const char* rec) {
  for (int i = 0; std::memcmp(indexRecords[i], "999999", 7) != 0; i++) {
    if (std::memcmp(rec, indexRecords[i], 6) == 0) return true;
  }
  return false;
}

}  // namespace

std::string tl_column_name(const char* display) {
  std::string out;
  bool gap = false;
  for (const char* p = display; *p != '\0'; p++) {
    char c = *p;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
      if (gap && !out.empty()) out += '_';
      gap = false;
      out += c;
    } else {
      gap = true;
    }
  }
  if (out.empty()) out = "field";
  if (out[0] >= '0' && out[0] <= '9') out = "f_" + out;
  if (out.size() > 63) out.resize(63);
  while (out.back() == '_') out.pop_back();
  return out;
}

tl_table_model::tl_table_model() : tables_(static_cast<size_t>(bdtr_count)), present_(static_cast<size_t>(bdtr_count)) {
  for (int i = 0; i < bdtr_count; i++) {
    const bdt_record_tag& r = bdtr_list[i];
    if (r.fields == nullptr) continue;
    tl_table& t = tables_[static_cast<size_t>(i)];
    present_[static_cast<size_t>(i)] = true;
    t.rindex = i;
    t.name = std::string("r") + r.record_id + "_" + r.record_suffix;
    char key[16];
    t.record_key.assign(key, bdt_record_key(r, key));
    t.record_class.assign(r.record_id, 2);
    t.layout_name = r.record_name != nullptr ? r.record_name : "";
    std::set<std::string> used;
    for (const char* k : {"file_id", "line", "idx"}) {
      tl_column c;
      c.name = k;
      add_column(t, used, c);
    }
    // The common block is text, as -D writes it.
    for (const bdt_fields_tag* f = bdtf_common; !bdt_is_end(*f); f++) add_column(t, used, field_column(*f, false));
    for (const bdt_fields_tag* f = r.fields; !bdt_is_end(*f); f++) {
      if (f->display_csv == 1) add_column(t, used, field_column(*f, f->amount_ind >= 0));
    }
    if (t.columns.size() > max_columns_) max_columns_ = t.columns.size();
  }
}

const tl_table* tl_table_model::table(int rindex) const {
  if (rindex < 0 || rindex >= bdtr_count || !present_[static_cast<size_t>(rindex)]) return nullptr;
  return &tables_[static_cast<size_t>(rindex)];
}

tl_row_maker::tl_row_maker(const tl_table_model& model)
    : model_(model), cells_(model.max_columns()), text_(2 * 256 * (model.max_columns() + 1)) {}

void tl_row_maker::add_reason(const char* what, const char* column) {
  int n = std::snprintf(reason_ + reason_len_, sizeof reason_ - reason_len_, "%s%s%s%s", reason_len_ > 0 ? "; " : "",
                        what, column != nullptr ? " " : "", column != nullptr ? column : "");
  if (n > 0) reason_len_ += static_cast<size_t>(n);
  if (reason_len_ >= sizeof reason_) reason_len_ = sizeof reason_ - 1;
}

const tl_row& tl_row_maker::make(const char* rec, size_t len, unsigned long long line) {
  reason_len_ = 0;
  reason_[0] = '\0';
  row_.line = line;
  row_.raw = rec;
  row_.raw_len = len;
  row_.cells = cells_.data();
  row_.ncells = 0;
  const int rindex = iFindBDTrecord(rec);
  const tl_table* t = model_.table(rindex);
  row_.table = t;
  if (t == nullptr) {
    add_reason(rindex < 0 ? "unknown layout" : "layout without fields", nullptr);
    row_.idx = idx_;
    row_.reject = reason_;
    return row_;
  }
  // Counted as -D counts it: an index record carries the new value itself.
  if (is_index_record(rec)) idx_++;
  row_.idx = idx_;
  const size_t content = tl_record_content(rec, len);
  if (content < kTlRecordLength) {
    char what[64];
    std::snprintf(what, sizeof what, "short record (%zu of %zu characters)", content, kTlRecordLength);
    add_reason(what, nullptr);
  } else if (content > kTlRecordLength) {
    char what[64];
    std::snprintf(what, sizeof what, "long record (%zu of %zu characters)", content, kTlRecordLength);
    add_reason(what, nullptr);
  }
  char* out = text_.data();
  const size_t ncols = t->columns.size() - kTlKeyColumns;
  for (size_t k = 0; k < ncols; k++) {
    const tl_column& col = t->columns[k + kTlKeyColumns];
    tl_cell& cell = cells_[k];
    const bdt_fields_tag& f = *col.field;
    const size_t off = static_cast<size_t>(f.field_offset < 0 ? 0 : f.field_offset);
    const size_t flen = static_cast<size_t>(f.field_length < 0 ? 0 : f.field_length);
    if (off >= content && flen > 0) {
      cell.kind = tl_cell::null_value;  // beyond the end of a short record
      continue;
    }
    const size_t n = off + flen <= content ? flen : content - off;
    const char* v = rec + off;
    if (col.decimals >= 0) {
      if (n == flen && tl_parse_amount(v, n, &cell.units)) {
        cell.kind = tl_cell::amount;
        cell.decimals = col.decimals;
      } else {
        cell.kind = tl_cell::null_value;
        add_reason(n == flen ? "amount not a number in" : "amount cut short in", col.name.c_str());
      }
      continue;
    }
    if (std::memchr(v, '\0', n) != nullptr) {
      // No database text holds a NUL: the value stays out, the raw record keeps it.
      cell.kind = tl_cell::null_value;
      add_reason("NUL byte in", col.name.c_str());
      continue;
    }
    cell.kind = tl_cell::text;
    bool ascii = true;
    for (size_t i = 0; i < n; i++) ascii &= static_cast<unsigned char>(v[i]) < 0x80;
    if (ascii) {
      cell.p = v;
      cell.n = n;
    } else {
      cell.p = out;
      cell.n = tl_latin1_to_utf8(v, n, out);
      out += cell.n;
    }
  }
  row_.ncells = ncols;
  row_.reject = reason_len_ > 0 ? reason_ : nullptr;
  return row_;
}

namespace {

using mc = tl_meta_column;
const mc kFilesColumns[] = {
    {"file_id", mc::file_key, false, false, true}, {"name", mc::text, true, false, false},
    {"size", mc::int64, false, false, false},      {"digest", mc::text, false, true, false},
    {"records", mc::int64, false, false, false},   {"rejects", mc::int64, false, false, false},
    {"loaded_at", mc::time, false, false, false},  {"version", mc::text, false, false, false},
};
const mc kRejectsColumns[] = {
    {"file_id", mc::int64, true, false, false},
    {"line", mc::int64, true, false, false},
    {"reason", mc::text, true, false, false},
    {"raw", mc::bytes, true, false, false},
};
const mc kColumnsColumns[] = {
    {"table_name", mc::text, true, false, true},    {"column_name", mc::text, true, false, true},
    {"ordinal", mc::int32, true, false, false},     {"display_name", mc::text, false, false, false},
    {"start", mc::int32, false, false, false},      {"length", mc::int32, false, false, false},
    {"decimals", mc::int32, false, false, false},
};
const mc kLayoutsColumns[] = {
    {"table_name", mc::text, false, false, true},
    {"record_key", mc::text, true, false, false},
    {"class", mc::text, true, false, false},
    {"name", mc::text, false, false, false},
};

template <size_t N>
constexpr tl_meta_table meta(const char* name, const mc (&cols)[N]) {
  return {name, cols, N};
}

}  // namespace

const tl_meta_table kTlMetaTables[4] = {
    meta("tapelens_files", kFilesColumns),
    meta("tapelens_rejects", kRejectsColumns),
    meta("tapelens_columns", kColumnsColumns),
    meta("tapelens_layouts", kLayoutsColumns),
};

std::string tl_meta_ddl(const char* (*type_name)(tl_meta_column::type_t)) {
  std::string sql;
  for (const tl_meta_table& t : kTlMetaTables) {
    size_t keys = 0;
    for (size_t i = 0; i < t.ncolumns; i++) keys += t.columns[i].key ? 1 : 0;
    sql += std::string("CREATE TABLE IF NOT EXISTS ") + t.name + "(";
    std::string key;
    for (size_t i = 0; i < t.ncolumns; i++) {
      const tl_meta_column& c = t.columns[i];
      if (i > 0) sql += ", ";
      sql += std::string(c.name) + " " + type_name(c.type);
      if (c.key && keys == 1) sql += " PRIMARY KEY";
      if (c.not_null) sql += " NOT NULL";
      if (c.unique) sql += " UNIQUE";
      if (c.key) key += (key.empty() ? "" : ", ") + std::string(c.name);
    }
    if (keys > 1) sql += ", PRIMARY KEY(" + key + ")";
    sql += ");";
  }
  return sql;
}

std::string tl_meta_header(const tl_meta_table& t) {
  std::string h;
  for (size_t i = 0; i < t.ncolumns; i++) h += (i > 0 ? "," : "") + std::string(t.columns[i].name);
  return h;
}

size_t tl_latin1_to_utf8(const char* p, size_t n, char* out) {
  size_t o = 0;
  for (size_t i = 0; i < n; i++) {
    const unsigned char c = static_cast<unsigned char>(p[i]);
    if (c < 0x80) out[o++] = static_cast<char>(c);
    else o = static_cast<size_t>(tl_put_latin1_high(c, out + o) - out);
  }
  return o;
}

std::string tl_sql_quoted(const std::string& id) {
  std::string q = "\"";
  for (char c : id) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

void tl_append_hex(std::string& out, const char* p, size_t n) {
  static const char kHex[] = "0123456789abcdef";
  for (size_t i = 0; i < n; i++) {
    const unsigned char c = static_cast<unsigned char>(p[i]);
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
}

void tl_append_csv_field(std::string& out, const char* p, size_t n) {
  if (tl_csv_plain(p, n)) {
    out.append(p, n);
    return;
  }
  out += '"';
  tl_csv_doubled(p, n, [&out](const char* s, size_t k) { out.append(s, k); });
  out += '"';
}

size_t tl_record_content(const char* rec, size_t len) {
  if (len > 0 && rec[len - 1] == '\n') len--;
  if (len > 0 && rec[len - 1] == '\r') len--;
  return len;
}

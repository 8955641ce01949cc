// The tables a load writes, made once from the catalogue at the start of
// the load (after the display names are in place, so that names loaded at
// run time name the columns too), and the conversion of one record into the
// values of its table's columns. Shared by every database and CSV writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tl_bdt.h"
#include "tl_value.h"
#include "tl_util.h"

// One column of a layout table.
struct tl_column {
  std::string name;          // SQL name: lower case, [a-z0-9_], unique in its table
  std::string display;       // the display name it was made from ("" for the first three)
  int start = 0;             // 1-based first byte in the record; 0 for file_id, line, idx
  int length = 0;            // width in bytes; 0 for file_id, line, idx
  int decimals = -1;         // implied decimals of an amount; -1 for text and the first three
  const bdt_fields_tag* field = nullptr;  // catalogue field; null for the first three
};

// One layout table.
struct tl_table {
  int rindex = -1;           // index of the layout in bdtr_list
  std::string name;          // "r" + identifier + "_" + suffix
  std::string record_key;    // the record key as -D writes it (100101.01)
  std::string record_class;  // first two digits of the identifier (10 bill, 30 detail, 40 CSR)
  std::string layout_name;   // the layout's display name
  std::vector<tl_column> columns;  // file_id, line, idx, the common block, the shown fields
};

// Number of columns that every layout table starts with (file_id, line, idx).
constexpr size_t kTlKeyColumns = 3;

// Returns the SQL column name made from a display name: lower case, every
// run of characters other than a-z and 0-9 as one '_', none at either end,
// "field" when nothing is left, "f_" before a leading digit, at most 63 bytes.
std::string tl_column_name(const char* display);

// The tables of every layout of the catalogue. Building never fails.
class tl_table_model {
 public:
  // Builds the tables from the catalogue and the display names now in place.
  tl_table_model();
  // Returns the table of layout rindex (0 <= rindex < bdtr_count), or null
  // for a layout without a field list.
  const tl_table* table(int rindex) const;
  // Returns the largest number of columns of any table.
  size_t max_columns() const { return max_columns_; }

 private:
  std::vector<tl_table> tables_;
  std::vector<bool> present_;
  size_t max_columns_ = 0;
};

// One column value of a converted record.
struct tl_cell {
  enum kind_t : unsigned char { null_value, text, amount };
  kind_t kind = null_value;
  const char* p = nullptr;  // text: UTF-8 bytes (valid until the next conversion)
  size_t n = 0;             // text: their number
  int64_t units = 0;        // amount: the value times 10^decimals, sign applied
  int decimals = 0;         // amount: implied decimals
};

// A record converted to the values of its table, file_id, line and idx
// aside (the writers know them).
struct tl_row {
  const tl_table* table = nullptr;  // null for an unknown layout
  unsigned long long line = 0;      // 1-based number of the record in its document
  long long idx = 0;                // running index of index records in the document
  const tl_cell* cells = nullptr;   // one per column after the first three
  size_t ncells = 0;
  const char* reject = nullptr;     // why the record is not stored whole; null when it is
  const char* raw = nullptr;        // the record as read, line end included
  size_t raw_len = 0;
};

// Converts records to rows without allocating once made: the cells and
// texts live in buffers made here and reused for every record.
class tl_row_maker {
 public:
  explicit tl_row_maker(const tl_table_model& model);
  // Starts a document: the running index back to 0.
  void reset() { idx_ = 0; }
  // Converts the record rec (len bytes, line end included) numbered line.
  // Returns the row, valid until the next call.
  const tl_row& make(const char* rec, size_t len, unsigned long long line);

 private:
  void add_reason(const char* what, const char* column);
  const tl_table_model& model_;
  std::vector<tl_cell> cells_;
  std::vector<char> text_;
  char reason_[512];
  size_t reason_len_ = 0;
  long long idx_ = 0;
  tl_row row_;
};

// The metadata tables every load writes beside the layout tables, described
// once: each writer renders them in its dialect (SQL DDL, CSV headers).
struct tl_meta_column {
  // The kind of value, which each dialect names its own way.
  enum type_t : unsigned char {
    file_key,  // the file's number, made by the database (the table's key)
    int64,     // a count, size or number of up to 64 bits
    int32,     // a small number
    text,
    time,      // a UTC time
    bytes,
  };
  const char* name;
  type_t type;
  bool not_null;
  bool unique;
  bool key;  // part of the table's primary key
};

struct tl_meta_table {
  const char* name;
  const tl_meta_column* columns;
  size_t ncolumns;
};

// tapelens_files, tapelens_rejects, tapelens_columns, tapelens_layouts.
extern const tl_meta_table kTlMetaTables[4];
enum : size_t { kTlMetaFiles, kTlMetaRejects, kTlMetaColumns, kTlMetaLayouts };

// Returns the CREATE TABLE IF NOT EXISTS statements of the metadata tables,
// each column's type named by type_name; a key of one column is written
// after its type, a key of several after the columns.
std::string tl_meta_ddl(const char* (*type_name)(tl_meta_column::type_t));

// Returns the CSV header of a metadata table: its column names, no line end.
std::string tl_meta_header(const tl_meta_table& t);

// Writes the text of a byte string as UTF-8, each byte as the Latin-1
// character of its code, into out (at least 2 * n bytes). Returns the
// length written.
size_t tl_latin1_to_utf8(const char* p, size_t n, char* out);

// Appends the RFC 4180 form of a CSV field to out: as it is, or quoted with
// doubled quotes when it holds a comma, quote, CR or LF.
void tl_append_csv_field(std::string& out, const char* p, size_t n);

// Returns the SQL form of identifier id: in double quotes, each one in it
// doubled. Never fails.
std::string tl_sql_quoted(const std::string& id);

// Appends the bytes p[0..n) to out as two lowercase hex digits each.
void tl_append_hex(std::string& out, const char* p, size_t n);

// The length of a record without its line end (CR LF, LF or CR).
size_t tl_record_content(const char* rec, size_t len);

// The length of a record that is stored whole.
constexpr size_t kTlRecordLength = 225;

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

// Writes the text of a byte string as UTF-8, each byte as the Latin-1
// character of its code, into out (at least 2 * n bytes). Returns the
// length written.
size_t tl_latin1_to_utf8(const char* p, size_t n, char* out);

// Eight characters (first byte lowest) that must all be digits, as the
// number they write. Returns false when one is not a digit.
inline bool tl_eight_digits(uint64_t w, uint64_t* value) {
  // Every byte '0'..'9': its high nibble 3, and adding 6 leaves it so.
  if (((w & 0xF0F0F0F0F0F0F0F0ULL) | (((w + 0x0606060606060606ULL) & 0xF0F0F0F0F0F0F0F0ULL) >> 4)) !=
      0x3333333333333333ULL)
    return false;
  // In three multiplies instead of eight.
  w -= 0x3030303030303030ULL;
  w = (w * 10) + (w >> 8);
  *value = (((w & 0x000000FF000000FFULL) * 0x000F424000000064ULL) +
            (((w >> 16) & 0x000000FF000000FFULL) * 0x0000271000000001ULL)) >> 32;
  return true;
}

// The last character of an amount: its digit and sign applied to the
// digits before it. Returns false when it carries no overpunch sign.
inline bool tl_amount_sign(uint64_t v, unsigned char last, int64_t* units) {
  const signed char positive = kTlOverpunch.positive[last];
  if (positive < 0) return false;
  v = v * 10 + static_cast<unsigned>(kTlOverpunch.digit[last] - '0');
  // The sign without a branch: signs come in no order a predictor learns.
  const uint64_t minus = 0 - static_cast<uint64_t>(positive == 0);
  *units = static_cast<int64_t>((v ^ minus) - minus);
  return true;
}

// Parses a whole zoned-decimal amount field: digits, the last one possibly
// an overpunch sign. Returns false (units untouched) for anything else: a
// blank, another character, an empty or too long field. Inline, eight
// digits at a time: the audit modes read every amount of every record.
inline bool tl_parse_amount(const char* p, size_t n, int64_t* units) {
  // 18 digits always fit in a signed 64-bit integer.
  if (n == 0 || n > 18) return false;
  uint64_t v = 0;
  size_t i = 0;
  for (; i + 8 < n; i += 8) {
    uint64_t w, d;
    std::memcpy(&w, p + i, 8);
    if (!tl_eight_digits(w, &d)) return false;
    v = v * 100000000ULL + d;
  }
  for (; i + 1 < n; i++) {
    const unsigned d = static_cast<unsigned char>(p[i]) - static_cast<unsigned>('0');
    if (d > 9) return false;
    v = v * 10 + d;
  }
  return tl_amount_sign(v, static_cast<unsigned char>(p[n - 1]), units);
}

// The same reading for a field with at least eight readable bytes before
// it, as every field of a layout has (the common block comes first): the
// digits short of a group of eight are read with the bytes before them,
// those made zeros, so no digit is read one at a time.
inline bool tl_parse_amount_in_record(const char* p, size_t n, int64_t* units) {
  if (n == 0 || n > 18) return false;
  const size_t k = n - 1;  // the digits before the sign
  uint64_t v = 0, d;
  size_t i = 0;
  for (; i + 8 <= k; i += 8) {
    uint64_t w;
    std::memcpy(&w, p + i, 8);
    if (!tl_eight_digits(w, &d)) return false;
    v = v * 100000000ULL + d;
  }
  const size_t r = k - i;  // 0 to 7 digits left, the last r of the eight before p + k
  if (r > 0) {
    static constexpr uint64_t kPow10[8] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};
    uint64_t w;
    std::memcpy(&w, p + k - 8, 8);
    const uint64_t keep = ~0ULL << (8 * (8 - r));
    w = (w & keep) | (0x3030303030303030ULL & ~keep);
    if (!tl_eight_digits(w, &d)) return false;
    v = v * kPow10[r] + d;
  }
  return tl_amount_sign(v, static_cast<unsigned char>(p[k]), units);
}

// Writes units / 10^decimals as a decimal number ("-12.34", "0.05", "7")
// into out (at least 64 bytes; decimals beyond 40 count as 40). Returns the
// length written. Takes 128 bits so that exact sums of amounts print too.
size_t tl_put_decimal(__int128 units, int decimals, char* out);

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

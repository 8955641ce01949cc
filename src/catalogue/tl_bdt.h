// Record catalogue types: one record layout and one field of a layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

struct bdt_fields_tag {
  int32_t field_index;     // ordinal in its list (+10 for a filler); 99 ends the list
  int32_t field_offset;    // 0-based position of the first byte in the record
  int32_t field_length;    // width in bytes
  int32_t display;         // text formatter and XML field writer
  int32_t display_csv;     // CSV, anon CSV, HTML and database writers
  int32_t display_xml;     // XML common-block writer
  int32_t display_html;    // consulted by no writer
  int32_t amount_ind;      // -1 text; >= 0 signed amount with this many implied decimals
  int32_t special_format;  // 1: CSV writes the value in its quoted form
  char* field_name;        // readable name, set at start-up by iDemrotStrings
  const char* field_name2; // stored (scrambled) name
  char** record_value;     // unused; null throughout
};

struct bdt_record_tag {
  char record_id[7];          // six-digit identifier
  int32_t required_suffix;    // 1: suffix takes part in identification; 99: end marker
  char record_suffix[3];      // two-digit suffix
  int32_t display;            // type lines may be written
  int32_t display_fields;     // common block and fields are written
  int32_t display_csv_inline; // inline (header line + value line per record) form
  char* record_name;          // readable name, set at start-up by iDemrotStrings
  const char* record_name2;   // stored (scrambled) name
  bdt_fields_tag* fields;     // field list ending with a terminator; null in the end marker
};

// The generated catalogue (sr1872i16_version_1.cpp, built from the data file).
extern bdt_record_tag bdtr_list[];    // 212 layouts in key order, then the end marker
extern bdt_fields_tag bdtf_common[];  // the 10 common-block fields and a terminator
extern const char indexRecords[][7];  // "103005", "103010", "999999" (end mark)
extern const int bdtr_count;          // number of layouts before the end marker

// Returns the index in bdtr_list of the record's layout, or -1 when unknown.
int iFindBDTrecord(const char* pucData);

// The same search over any layout list ending with an end marker (linear,
// first match wins); iFindBDTrecord gives the same answer for bdtr_list.
int iFindBDTrecordIn(const bdt_record_tag* list, const char* pucData);

// A field's value as cut from a record: at most field_length bytes from
// field_offset, stopping at the end of the record text (empty beyond it).
struct bdt_value {
  const char* p;
  size_t n;
};

// Returns the value of field f in the record text rec of length len.
inline bdt_value bdt_cut(const char* rec, size_t len, const bdt_fields_tag& f) {
  size_t off = f.field_offset < 0 ? 0 : static_cast<size_t>(f.field_offset);
  size_t flen = f.field_length < 0 ? 0 : static_cast<size_t>(f.field_length);
  if (flen > 255) flen = 255;  // the value buffer holds 255 characters
  if (off >= len) return {rec + len, 0};
  size_t avail = len - off;
  return {rec + off, flen < avail ? flen : avail};
}

// Writes the record key of layout r into key (at least 10 bytes): the
// identifier, and a full stop and the suffix when the suffix identifies too.
// Returns its length.
inline size_t bdt_record_key(const bdt_record_tag& r, char* key) {
  size_t n = 0;
  while (n < 6 && r.record_id[n] != '\0') key[n] = r.record_id[n], n++;
  if (r.required_suffix == 1) {
    key[n++] = '.';
    for (size_t i = 0; i < 2 && r.record_suffix[i] != '\0'; i++) key[n++] = r.record_suffix[i];
  }
  key[n] = '\0';
  return n;
}

// A layout's record key text, NUL-padded to 16 bytes so that it may be
// copied whole.
struct bdt_key {
  char text[16];
  size_t n;
};

// Returns the record key of layout rindex (0 <= rindex < bdtr_count) as
// bdt_record_key writes it, from a table made on first use: formatters copy
// it from there instead of assembling it byte by byte for every record.
const bdt_key& bdt_key_of(int rindex);

// Copies layout rindex's key into key (at least 16 bytes: the text, then
// NULs) and returns the length of the text.
inline size_t bdt_put_key(int rindex, char* key) {
  const bdt_key& k = bdt_key_of(rindex);
  std::memcpy(key, k.text, sizeof k.text);
  // A key has at most nine characters: the mask only tells the compiler so.
  return k.n & 15u;
}

// True when the entry ends its list.
inline bool bdt_is_end(const bdt_fields_tag& f) { return f.field_index == 99; }

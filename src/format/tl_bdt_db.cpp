// The database load formatter: one data line per record (key, running index,
// values), under a header line of column names whenever the layout changes.
// Its state lasts the whole run, so the index numbers on across input files.
#include <cstring>

#include "tl_bdt.h"
#include "tl_csv_common.h"
#include "tl_formatters.h"
#include "tl_globals.h"
#include "tl_names.h"
#include "tl_util.h"

namespace {

// "name," for a common-block column in a header line.
tl_name_texts column_name([](const bdt_fields_tag& f, std::string& out) {
  if (f.field_name != nullptr) out += f.field_name;
  out += ',';
});

int index_matches(const char* pucData);

// The state of the per-record entries below, for callers that keep none;
// it lasts the whole run.
tl_db_state db_state;

// The index in decimal, made again only when it changes (which only index
// records do), so that most records copy it from where it has long been.
tl_span index_text(tl_db_state& st) {
  if (st.digits_len == 0 || st.made_for != st.iIndexRecord) {
    const int v = st.iIndexRecord;
    size_t n = sizeof st.digits;
    unsigned int u = v < 0 ? 0u - static_cast<unsigned int>(v) : static_cast<unsigned int>(v);
    do {
      st.digits[--n] = static_cast<char>('0' + u % 10);
      u /= 10;
    } while (u != 0);
    if (v < 0) st.digits[--n] = '-';
    st.digits_len = static_cast<unsigned char>(sizeof st.digits - n);
    st.made_for = v;
  }
  // At most 11 characters: the mask only tells the compiler so.
  const size_t n = st.digits_len & 15u;
  return {st.digits + sizeof st.digits - n, n};
}

// Adds the record's index matches to the index, without signed overflow:
// a run long enough wraps the counter.
inline void count_index(tl_db_state& st, const char* pucData) {
  st.iIndexRecord = static_cast<int>(static_cast<unsigned int>(st.iIndexRecord) +
                                     static_cast<unsigned int>(index_matches(pucData)));
}

// Counts the entries of indexRecords that name the identifier of an
// identified record (which has its six characters).
int index_matches(const char* pucData) {
  int n = 0;
  for (int i = 0; std::memcmp(indexRecords[i], "999999", 7) != 0; i++) {
    if (std::memcmp(pucData, indexRecords[i], 6) == 0) n++;
  }
  return n;
}

void common_header(tl_out& o) {
  const tl_span* names = column_name.list(-1);
  for (size_t k = 0; !bdt_is_end(bdtf_common[k]); k++) {
    if (bdtf_common[k].display_csv == 1) o.put_all(names[k]);
  }
}

// The layout's column names are those of the CSV inline header line.
void fields_header(int rindex, tl_out& o) { tl_csv_header(rindex, o); }

void common_values(const char* rec, size_t len, tl_out& o) {
  for (const bdt_fields_tag* f = bdtf_common; !bdt_is_end(*f); f++) {
    if (f->display_csv != 1) continue;
    bdt_value v = bdt_cut(rec, len, *f);
    tl_put_csv(o, v.p, v.n, false);
    o.put(',');
  }
}

// The values are those of the CSV inline value line, without the special form.
void fields_values(const char* rec, size_t len, int rindex, tl_out& o) { tl_csv_inline(rec, len, rindex, o, false); }

}  // namespace

void reset_bdt_db() { db_state = tl_db_state(); }

int psParseBDTcommonFields_db_header(const char* /*pucData*/, tl_out& psTarget) {
  common_header(psTarget);
  return 0;
}

int psParseBDTfields_db_header(const char* /*pucData*/, int rindex, tl_out& psTarget) {
  fields_header(rindex, psTarget);
  return 0;
}

int psParseBDTcommonFields_db(const char* pucData, tl_out& psTarget) {
  common_values(pucData, std::strlen(pucData), psTarget);
  return 0;
}

int psParseBDTfields_db_inline(const char* pucData, int rindex, tl_out& psTarget) {
  fields_values(pucData, std::strlen(pucData), rindex, psTarget);
  return 0;
}

int psParseBDTrecord_db(const char* pucData, tl_out& psTarget) {
  return tl_db_record(db_state, pucData, std::strlen(pucData), psTarget);
}

void tl_db_skim(tl_db_state& st, const char* pucData, size_t /*len*/) {
  int rindex = iFindBDTrecord(pucData);
  if (rindex < 0 || bdtr_list[rindex].fields == nullptr) return;
  st.sRecordLen = bdt_put_key(rindex, st.sRecord);
  count_index(st, pucData);
  std::memcpy(st.sCurrentRecord, st.sRecord, st.sRecordLen + 1);
  st.sCurrentRecordLen = st.sRecordLen;
}

int tl_db_record(tl_db_state& st, const char* pucData, size_t len, tl_out& psTarget) {
  int rindex = iFindBDTrecord(pucData);
  if (rindex < 0) {
    tl_put_unknown(psTarget, pucData, len, tl_escape::none, tl_lit("\n"));
    return 0;
  }
  const bdt_record_tag& r = bdtr_list[rindex];
  st.sRecordLen = bdt_put_key(rindex, st.sRecord);
  if (r.display == 1 && print_raw == 1) {
    tl_put_name(psTarget, r.record_name);
    psTarget.lit(": record = [");
    psTarget.put(pucData, len);
    psTarget.lit("]\r\n");
  }
  if (r.fields == nullptr) return 0;
  if (st.sRecordLen != st.sCurrentRecordLen || std::memcmp(st.sRecord, st.sCurrentRecord, st.sRecordLen) != 0) {
    psTarget.put_all(tl_span{st.sRecord, st.sRecordLen}, tl_lit(", Index, "));
    if (print_common == 1) common_header(psTarget);
    fields_header(rindex, psTarget);
  }
  count_index(st, pucData);
  psTarget.put_all(tl_span{st.sRecord, st.sRecordLen}, tl_lit(","), index_text(st), tl_lit(","));
  if (print_common == 1) common_values(pucData, len, psTarget);
  fields_values(pucData, len, rindex, psTarget);
  std::memcpy(st.sCurrentRecord, st.sRecord, st.sRecordLen + 1);
  st.sCurrentRecordLen = st.sRecordLen;
  return 0;
}

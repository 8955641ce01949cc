// The HTML formatter: a rule, a heading and one line per field for most
// records; records of inline layouts are gathered into a table, one row per
// record, with a header row at the start of each run. Values and record texts
// are escaped so that nothing in a record can act as markup.
#include <climits>
#include <cstdint>
#include <cstring>

#include "tl_bdt.h"
#include "tl_formatters.h"
#include "tl_globals.h"
#include "tl_util.h"

namespace {

// Record key text of the last identified record: "100101.01: ".
char sRecord[256];
size_t sRecordLen = 0;
// Record key text of the inline layout whose table was opened last; emptied
// when a record's field lines are written.
char sCurrentRecord[256];
size_t sCurrentRecordLen = 0;
// Rows written into the open table; 0 while no table is open.
int intable = 0;

inline bool key_is_table_key() {
  return sRecordLen == sCurrentRecordLen && std::memcmp(sRecord, sCurrentRecord, sRecordLen) == 0;
}

// A name that stayed null (no memory at start-up) is written as nothing.
inline void put_name(tl_out& o, const char* name) {
  if (name != nullptr) o.put(name);
}

// The start of every field line, "name:&nbsp;<b>", made once per input
// instead of once per field: for every layout the prefixes of its field
// entries, and those of the common block. Storage is static; a line whose
// prefix did not fit is written piece by piece instead.
struct html_prefix {
  const char* p;
  size_t n;
};

constexpr size_t kMaxLayouts = 512;
constexpr size_t kMaxSlots = 6144;
constexpr size_t kPoolBytes = 1 << 18;
constexpr size_t kCommonSlots = 64;
constexpr char kNameEnd[] = ":&nbsp;<b>";

struct prefix_table {
  bool built;
  size_t layouts;               // layouts whose prefixes are in the table
  uint32_t first[kMaxLayouts];  // slot of each layout's first field entry
  uint32_t count[kMaxLayouts];  // field entries of the layout
  html_prefix slot[kMaxSlots];
  size_t slots;
  html_prefix common[kCommonSlots];
  size_t commons;
  char pool[kPoolBytes];
  size_t used;
};
prefix_table prefixes;

// Adds the prefix for display name s to the pool; false when it does not fit.
bool pool_add(const char* s, html_prefix& out) {
  size_t n = s == nullptr ? 0 : std::strlen(s);
  size_t total = n + sizeof kNameEnd - 1;
  if (total > kPoolBytes - prefixes.used) return false;
  char* d = prefixes.pool + prefixes.used;
  if (n > 0) std::memcpy(d, s, n);
  std::memcpy(d + n, kNameEnd, sizeof kNameEnd - 1);
  prefixes.used += total;
  out = {d, total};
  return true;
}

void build_prefixes() {
  prefixes.built = true;
  prefixes.layouts = 0;
  prefixes.slots = 0;
  prefixes.commons = 0;
  prefixes.used = 0;
  for (const bdt_fields_tag* f = bdtf_common; !bdt_is_end(*f) && prefixes.commons < kCommonSlots; f++) {
    if (!pool_add(f->field_name, prefixes.common[prefixes.commons])) return;
    prefixes.commons++;
  }
  for (size_t r = 0; r < kMaxLayouts && bdtr_list[r].required_suffix != 99; r++) {
    const bdt_fields_tag* list = bdtr_list[r].fields;
    size_t need = 0;
    if (list != nullptr) {
      while (!bdt_is_end(list[need])) need++;
    }
    if (need > kMaxSlots - prefixes.slots) return;
    size_t k = prefixes.slots;
    for (size_t i = 0; i < need; i++, k++) {
      if (!pool_add(list[i].field_name, prefixes.slot[k])) return;
    }
    prefixes.first[r] = static_cast<uint32_t>(prefixes.slots);
    prefixes.count[r] = static_cast<uint32_t>(need);
    prefixes.slots = k;
    prefixes.layouts = r + 1;
  }
}

inline void ensure_prefixes() {
  if (!prefixes.built) build_prefixes();
}

// The rest of a field line after its prefix: "value</b><BR>\n".
inline void put_line_value(tl_out& o, const char* p, size_t n, bool negative) {
  if (negative) o.put('-');
  tl_put_html(o, p, n);
  o.lit("</b><BR>\n");
}

void common_fields(const char* rec, size_t len, tl_out& o) {
  size_t i = 0;
  for (const bdt_fields_tag* f = bdtf_common; !bdt_is_end(*f); f++, i++) {
    if (f->display_csv != 1) continue;
    if (i < prefixes.commons) {
      o.put(prefixes.common[i].p, prefixes.common[i].n);
    } else {
      put_name(o, f->field_name);
      o.lit(kNameEnd);
    }
    // Common fields are written as cut, never as amounts.
    bdt_value v = bdt_cut(rec, len, *f);
    put_line_value(o, v.p, v.n, false);
  }
}

void layout_fields(const char* rec, size_t len, int rindex, tl_out& o) {
  // A later inline record starts a new table, header row and all.
  sCurrentRecord[0] = '\0';
  sCurrentRecordLen = 0;
  const bdt_fields_tag* list = bdtr_list[rindex].fields;
  if (list == nullptr) return;
  size_t r = static_cast<size_t>(rindex);
  const html_prefix* pre = nullptr;
  size_t npre = 0;
  if (r < prefixes.layouts) {
    pre = prefixes.slot + prefixes.first[r];
    npre = prefixes.count[r];
  }
  char scratch[258];
  for (size_t i = 0; !bdt_is_end(list[i]); i++) {
    const bdt_fields_tag& f = list[i];
    if (f.display_csv != 1) continue;
    if (i < npre) {
      o.put(pre[i].p, pre[i].n);
    } else {
      put_name(o, f.field_name);
      o.lit(kNameEnd);
    }
    tl_field_text t = tl_field_value(rec, len, f, scratch);
    put_line_value(o, t.p, t.n, t.negative);
  }
}

void table_row(const char* rec, size_t len, int rindex, tl_out& o) {
  o.lit("<tr>");
  const bdt_fields_tag* f = bdtr_list[rindex].fields;
  if (f != nullptr) {
    char scratch[258];
    for (; !bdt_is_end(*f); f++) {
      if (f->display_csv != 1) continue;
      tl_field_text t = tl_field_value(rec, len, *f, scratch);
      o.lit("<td>");
      if (t.negative) o.put('-');
      tl_put_html(o, t.p, t.n);
      o.lit("</td>");
    }
  }
  o.lit("</tr>\n");
}

}  // namespace

int init_bdt_html() {
  sRecord[0] = '\0';
  sRecordLen = 0;
  sCurrentRecord[0] = '\0';
  sCurrentRecordLen = 0;
  intable = 0;
  // Prefixes are remade for every input: cheap, and always from the names in force.
  prefixes.built = false;
  return 0;
}

int iHTMLtableOpen() { return intable > 0 ? 1 : 0; }

int psHTML_tl_header(tl_out& outfile, const char* customer, int print_header) {
  if (bodyonly_flag != 1) {
    outfile.lit(
        "<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\" "
        "\"http://www.w3.org/TR/html4/loose.dtd\">"
        "<html><head><title>Tapelens Report for ");
    outfile.put(customer);
    outfile.lit("</title></head><body><a name=\"top\"></a>\n");
  }
  if (print_header == 1) {
    outfile.lit(
        "<h1><img src=\"tapelens.gif\" alt=\"Icon\" align=\"middle\" height=\"96\" width=\"96\">"
        "&nbsp;&nbsp;Tapelens Report for ");
    outfile.put(customer);
    outfile.lit("</h1>\nCustom Header Information for ");
    outfile.put(customer);
    outfile.lit("<br><br>\n");
  }
  return 0;
}

int psParseBDTcommonFields_html(const char* pucData, tl_out& psTarget) {
  ensure_prefixes();
  common_fields(pucData, std::strlen(pucData), psTarget);
  return 0;
}

int psParseBDTfields_html(const char* pucData, int rindex, tl_out& psTarget) {
  ensure_prefixes();
  layout_fields(pucData, std::strlen(pucData), rindex, psTarget);
  return 0;
}

int psParseBDTfields_html_header(const char* /*pucData*/, int rindex, tl_out& psTarget) {
  psTarget.lit("<table><tr>");
  const bdt_fields_tag* f = bdtr_list[rindex].fields;
  if (f != nullptr) {
    for (; !bdt_is_end(*f); f++) {
      if (f->display_csv != 1) continue;
      psTarget.lit("<td>");
      put_name(psTarget, f->field_name);
      psTarget.lit("</td>");
    }
  }
  psTarget.lit("</tr>");
  return 0;
}

int psParseBDTfields_html_inline(const char* pucData, int rindex, tl_out& psTarget) {
  table_row(pucData, std::strlen(pucData), rindex, psTarget);
  return 0;
}

int psParseBDTrecord_html(const char* pucData, tl_out& psTarget) {
  size_t len = std::strlen(pucData);
  psTarget.set(" ", 1);
  int rindex = iFindBDTrecord(pucData);
  if (rindex < 0) {
    // The record text is padded to six characters, then escaped; the table
    // state is left as it is.
    psTarget.lit("Unknown record type found: line = [");
    for (size_t i = len; i < 6; i++) psTarget.put(' ');
    tl_put_html(psTarget, pucData, len);
    psTarget.lit("]<BR>");
    return 0;
  }
  const bdt_record_tag& r = bdtr_list[rindex];

  std::memcpy(sRecord, r.record_id, 6);
  sRecordLen = 6;
  if (r.required_suffix == 1) {
    sRecord[6] = '.';
    sRecord[7] = r.record_suffix[0];
    sRecord[8] = r.record_suffix[1];
    sRecordLen = 9;
  }
  sRecord[sRecordLen++] = ':';
  sRecord[sRecordLen++] = ' ';
  sRecord[sRecordLen] = '\0';

  bool same_run = key_is_table_key();
  if (!same_run && intable > 0) {
    psTarget.lit("</table><BR>");
    intable = 0;
  }

  if (r.display_fields == 1 && intable == 0) {
    psTarget.lit("<hr>");
    if (print_raw == 1) {
      psTarget.lit("<p>");
      tl_put_html(psTarget, pucData, len);
      psTarget.lit("</p>");
    }
    if (print_recno == 1 || print_types == 1) {
      psTarget.lit("<h2>");
      if (print_recno == 1) psTarget.put(sRecord, sRecordLen);
      if (print_types == 1) put_name(psTarget, r.record_name);
      psTarget.lit("</h2>\n");
    }
  }

  if (r.display_csv_inline == 1 && r.fields != nullptr) {
    if (!same_run) psParseBDTfields_html_header(pucData, rindex, psTarget);
    table_row(pucData, len, rindex, psTarget);
    // Only whether the count is 0 matters; it must not wrap on a very long run.
    if (intable < INT_MAX) intable++;
    std::memcpy(sCurrentRecord, sRecord, sRecordLen + 1);
    sCurrentRecordLen = sRecordLen;
    return 0;
  }

  if (r.display_fields != 1 || r.fields == nullptr) return 0;
  ensure_prefixes();
  if (print_common == 1) common_fields(pucData, len, psTarget);
  layout_fields(pucData, len, rindex, psTarget);
  psTarget.lit("<BR>");
  return 0;
}

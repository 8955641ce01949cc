// The HTML formatter: a rule, a heading and one line per field for most
// records; records of inline layouts are gathered into a table, one row per
// record, with a header row at the start of each run. Values and record texts
// are escaped so that nothing in a record can act as markup.
#include <climits>
#include <cstring>

#include "tl_bdt.h"
#include "tl_formatters.h"
#include "tl_globals.h"
#include "tl_names.h"
#include "tl_plan.h"
#include "tl_util.h"

namespace {

// The state of the per-record entries below, for callers that keep none:
// sRecord the key text of the last identified record ("100101.01: "),
// sCurrentRecord that of the inline layout whose table was opened last
// (emptied when a record's field lines are written).
tl_html_state html_state;

inline bool key_is_table_key(const tl_html_state& st) {
  return st.sRecordLen == st.sCurrentRecordLen && std::memcmp(st.sRecord, st.sCurrentRecord, st.sRecordLen) == 0;
}

inline void set_key(tl_html_state& st, int rindex) {
  st.sRecordLen = bdt_put_key(rindex, st.sRecord);
  st.sRecord[st.sRecordLen++] = ':';
  st.sRecord[st.sRecordLen++] = ' ';
  st.sRecord[st.sRecordLen] = '\0';
}

inline void clear_table_key(tl_html_state& st) {
  st.sCurrentRecord[0] = '\0';
  st.sCurrentRecordLen = 0;
}

inline void set_table_key(tl_html_state& st) {
  // Only whether the count is 0 matters; it must not wrap on a very long run.
  if (st.intable < INT_MAX) st.intable++;
  std::memcpy(st.sCurrentRecord, st.sRecord, st.sRecordLen + 1);
  st.sCurrentRecordLen = st.sRecordLen;
}

// "name:&nbsp;<b>" that starts a field line, and "<td>name</td>" for a
// header row, made once from the display names.
void add_line_lead(const bdt_fields_tag& f, std::string& out) {
  if (f.field_name != nullptr) out += f.field_name;
  out += ":&nbsp;<b>";
}
tl_name_texts line_lead(add_line_lead);
tl_name_texts header_cell([](const bdt_fields_tag& f, std::string& out) {
  out += "<td>";
  if (f.field_name != nullptr) out += f.field_name;
  out += "</td>";
});

// Field lines and table rows as plans for whole records that need no escaping.
tl_field_plan line_plan(&bdt_fields_tag::display_csv, add_line_lead,
                        [](const bdt_fields_tag&, std::string& out) { out += "</b><BR>\n"; });
tl_field_plan row_plan(&bdt_fields_tag::display_csv, [](const bdt_fields_tag&, std::string& out) { out += "<td>"; },
                       [](const bdt_fields_tag&, std::string& out) { out += "</td>"; });

// The rest of a field line after its prefix: "value</b><BR>\n".
// `plain` says the value is known to need no escaping.
inline void put_line_value(tl_out& o, const char* p, size_t n, bool negative, bool plain) {
  if (plain || tl_html_plain(p, n)) {
    o.put_all(tl_minus(negative), tl_span{p, n}, tl_lit("</b><BR>\n"));
    return;
  }
  if (negative) o.put('-');
  tl_put_html(o, p, n);
  o.lit("</b><BR>\n");
}

void common_fields(const char* rec, size_t len, tl_out& o) {
  const tl_span* leads = line_lead.list(-1);
  for (size_t k = 0; !bdt_is_end(bdtf_common[k]); k++) {
    const bdt_fields_tag& f = bdtf_common[k];
    if (f.display_csv != 1) continue;
    // Common fields are written as cut, never as amounts.
    bdt_value v = bdt_cut(rec, len, f);
    o.put_all(leads[k]);
    put_line_value(o, v.p, v.n, false, false);
  }
}

void layout_fields(tl_html_state& st, const char* rec, size_t len, int rindex, tl_out& o) {
  // A later inline record starts a new table, header row and all.
  clear_table_key(st);
  const bdt_fields_tag* list = bdtr_list[rindex].fields;
  if (list == nullptr) return;
  // One look at the whole record usually spares a look at every value.
  const bool clean = tl_html_plain(rec, tl_value_region(len));
  if (clean && line_plan.put(rindex, rec, len, o)) return;
  const tl_span* leads = line_lead.list(rindex);
  char scratch[258];
  for (size_t k = 0; !bdt_is_end(list[k]); k++) {
    const bdt_fields_tag& f = list[k];
    if (f.display_csv != 1) continue;
    tl_field_text t = tl_field_value(rec, len, f, scratch);
    o.put_all(leads[k]);
    put_line_value(o, t.p, t.n, t.negative, clean);
  }
}

void table_row(const char* rec, size_t len, int rindex, tl_out& o) {
  o.lit("<tr>");
  const bdt_fields_tag* f = bdtr_list[rindex].fields;
  if (f != nullptr && !(tl_html_plain(rec, tl_value_region(len)) && row_plan.put(rindex, rec, len, o))) {
    char scratch[258];
    for (; !bdt_is_end(*f); f++) {
      if (f->display_csv != 1) continue;
      tl_field_text t = tl_field_value(rec, len, *f, scratch);
      o.put_all(tl_lit("<td>"), tl_minus(t.negative));
      tl_put_html(o, t.p, t.n);
      o.lit("</td>");
    }
  }
  o.lit("</tr>\n");
}

}  // namespace

int init_bdt_html() {
  html_state = tl_html_state();
  return 0;
}

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
  common_fields(pucData, std::strlen(pucData), psTarget);
  return 0;
}

int psParseBDTfields_html(const char* pucData, int rindex, tl_out& psTarget) {
  layout_fields(html_state, pucData, std::strlen(pucData), rindex, psTarget);
  return 0;
}

int psParseBDTfields_html_header(const char* /*pucData*/, int rindex, tl_out& psTarget) {
  psTarget.lit("<table><tr>");
  const bdt_fields_tag* list = bdtr_list[rindex].fields;
  const tl_span* cells = header_cell.list(rindex);
  for (size_t k = 0; list != nullptr && !bdt_is_end(list[k]); k++) {
    if (list[k].display_csv == 1) psTarget.put_all(cells[k]);
  }
  psTarget.lit("</tr>");
  return 0;
}

int psParseBDTfields_html_inline(const char* pucData, int rindex, tl_out& psTarget) {
  table_row(pucData, std::strlen(pucData), rindex, psTarget);
  return 0;
}

int psParseBDTrecord_html(const char* pucData, tl_out& psTarget) {
  return tl_html_record(html_state, pucData, std::strlen(pucData), psTarget);
}

void tl_html_skim(tl_html_state& st, const char* pucData, size_t /*len*/) {
  int rindex = iFindBDTrecord(pucData);
  if (rindex < 0) return;
  const bdt_record_tag& r = bdtr_list[rindex];
  set_key(st, rindex);
  const bool same_run = key_is_table_key(st);
  if (!same_run && st.intable > 0) st.intable = 0;
  if (r.display_csv_inline == 1 && r.fields != nullptr) {
    set_table_key(st);
  } else if (r.display_fields == 1 && r.fields != nullptr) {
    clear_table_key(st);
  }
}

int tl_html_record(tl_html_state& st, const char* pucData, size_t len, tl_out& psTarget) {
  psTarget.set(" ", 1);
  int rindex = iFindBDTrecord(pucData);
  if (rindex < 0) {
    // The table state is left as it is.
    tl_put_unknown(psTarget, pucData, len, tl_escape::html, tl_lit("<BR>"));
    return 0;
  }
  const bdt_record_tag& r = bdtr_list[rindex];
  set_key(st, rindex);

  bool same_run = key_is_table_key(st);
  if (!same_run && st.intable > 0) {
    psTarget.lit("</table><BR>");
    st.intable = 0;
  }

  if (r.display_fields == 1 && st.intable == 0) {
    psTarget.lit("<hr>");
    if (print_raw == 1) {
      psTarget.lit("<p>");
      tl_put_html(psTarget, pucData, len);
      psTarget.lit("</p>");
    }
    if (print_recno == 1 || print_types == 1) {
      psTarget.lit("<h2>");
      if (print_recno == 1) psTarget.put(st.sRecord, st.sRecordLen);
      if (print_types == 1) tl_put_name(psTarget, r.record_name);
      psTarget.lit("</h2>\n");
    }
  }

  if (r.display_csv_inline == 1 && r.fields != nullptr) {
    if (!same_run) psParseBDTfields_html_header(pucData, rindex, psTarget);
    table_row(pucData, len, rindex, psTarget);
    set_table_key(st);
    return 0;
  }

  if (r.display_fields != 1 || r.fields == nullptr) return 0;
  if (print_common == 1) common_fields(pucData, len, psTarget);
  layout_fields(st, pucData, len, rindex, psTarget);
  psTarget.lit("<BR>");
  return 0;
}

// The CSV formatter: one line per field (name and value in the second and
// third columns), or for inline layouts one value line per record under a
// header line of field names.
#include <cstring>

#include "tl_bdt.h"
#include "tl_csv_common.h"
#include "tl_formatters.h"
#include "tl_globals.h"
#include "tl_names.h"
#include "tl_plan.h"
#include "tl_util.h"

namespace {

// ",name," before a field's value; with the opening of the special form
// too for a value that needs no quoting.
void add_line_lead(const bdt_fields_tag& f, std::string& out) {
  out += ',';
  if (f.field_name != nullptr) out += f.field_name;
  out += ',';
}
void add_plain_line_lead(const bdt_fields_tag& f, std::string& out) {
  add_line_lead(f, out);
  if (f.special_format == 1) out += "=\"";
}
tl_name_texts line_lead(add_line_lead);
tl_name_texts plain_line_lead(add_plain_line_lead);
// The same lines, and the value lines of inline layouts with and without
// the special form, as plans for whole records that need no quoting.
tl_field_plan line_plan(&bdt_fields_tag::display_csv, add_plain_line_lead,
                        [](const bdt_fields_tag& f, std::string& out) {
                          out += f.special_format == 1 ? "\"\r\n" : "\r\n";
                        });
tl_field_plan inline_plan(&bdt_fields_tag::display_csv,
                          [](const bdt_fields_tag& f, std::string& out) {
                            if (f.special_format == 1) out += "=\"";
                          },
                          [](const bdt_fields_tag& f, std::string& out) {
                            out += f.special_format == 1 ? "\"," : ",";
                          });
tl_field_plan inline_plain_plan(&bdt_fields_tag::display_csv, [](const bdt_fields_tag&, std::string&) {},
                                [](const bdt_fields_tag&, std::string& out) { out += ','; });
// The header line of an inline layout: "name," for each shown field.
tl_name_texts header_line([](const bdt_fields_tag&, std::string&) {},
                          [](const bdt_record_tag& r, std::string& out) {
                            for (const bdt_fields_tag* f = r.fields; f != nullptr && !bdt_is_end(*f); f++) {
                              if (f->display_csv != 1) continue;
                              if (f->field_name != nullptr) out += f->field_name;
                              out += ',';
                            }
                            out += "\r\n";
                          });

// One value under the special form (when `special` allows it and the field
// asks for it) or as a plain item, quoted when it holds a comma, a quote or a
// line end so the columns stay in place. `plain` says it is known to hold
// none, the record being free of them.
inline void put_value(tl_out& o, const bdt_fields_tag& f, const tl_field_text& t, bool plain, bool special = true) {
  if (plain) {
    const bool sp = special && f.special_format == 1;
    o.put_all(sp ? tl_lit("=\"") : tl_lit(""), tl_minus(t.negative), tl_span{t.p, t.n},
              sp ? tl_lit("\"") : tl_lit(""));
  } else if (special && f.special_format == 1) {
    tl_put_csv_special(o, t.p, t.n, t.negative);
  } else {
    tl_put_csv(o, t.p, t.n, t.negative);
  }
}

// The state of the per-record entries below, for callers that keep none.
tl_csv_state csv_state;

// Writes the record key with its colon into st.sRecord.
inline void set_key(tl_csv_state& st, int rindex) {
  size_t n = bdt_put_key(rindex, st.sRecord);
  st.sRecord[n] = ':';
  st.sRecord[n + 1] = '\0';
}

}  // namespace

void tl_csv_common_fields(const char* rec, size_t len, tl_out& psTarget) {
  const tl_span* leads = line_lead.list(-1);
  for (size_t k = 0; !bdt_is_end(bdtf_common[k]); k++) {
    const bdt_fields_tag* f = &bdtf_common[k];
    if (f->display_csv != 1) continue;
    bdt_value v = bdt_cut(rec, len, *f);
    psTarget.put_all(leads[k]);
    tl_put_csv(psTarget, v.p, v.n, false);
    psTarget.lit("\r\n");
  }
}

void tl_csv_fields(tl_csv_state& st, const char* rec, size_t len, int rindex, tl_out& psTarget) {
  // Whatever inline record comes next gets its header line again.
  st.sCurrentRecord[0] = '\0';
  const bdt_fields_tag* list = bdtr_list[rindex].fields;
  if (list == nullptr) return;
  // One look at the whole record usually spares a look at every value.
  const bool clean = tl_csv_plain(rec, tl_value_region(len));
  if (clean && line_plan.put(rindex, rec, len, psTarget)) return;
  char scratch[258];
  const tl_span* leads = line_lead.list(rindex);
  const tl_span* plain_leads = plain_line_lead.list(rindex);
  for (size_t k = 0; !bdt_is_end(list[k]); k++) {
    const bdt_fields_tag* f = &list[k];
    if (f->display_csv != 1) continue;
    tl_field_text t = tl_field_value(rec, len, *f, scratch);
    if (clean || tl_csv_plain(t.p, t.n)) {
      // The usual value: the whole line in one append.
      psTarget.put_all(plain_leads[k], tl_minus(t.negative), tl_span{t.p, t.n},
                       f->special_format == 1 ? tl_lit("\"\r\n") : tl_lit("\r\n"));
      continue;
    }
    psTarget.put_all(leads[k]);
    put_value(psTarget, *f, t, false);
    psTarget.lit("\r\n");
  }
}

void tl_csv_header(int rindex, tl_out& psTarget) { psTarget.put_all(header_line.record(rindex)); }

void tl_csv_inline(const char* rec, size_t len, int rindex, tl_out& psTarget, bool special_form) {
  const bdt_fields_tag* f = bdtr_list[rindex].fields;
  const bool clean = f != nullptr && tl_csv_plain(rec, tl_value_region(len));
  tl_field_plan& plan = special_form ? inline_plan : inline_plain_plan;
  if (f != nullptr && !(clean && plan.put(rindex, rec, len, psTarget))) {
    char scratch[258];
    for (; !bdt_is_end(*f); f++) {
      if (f->display_csv != 1) continue;
      tl_field_text t = tl_field_value(rec, len, *f, scratch);
      put_value(psTarget, *f, t, clean || tl_csv_plain(t.p, t.n), special_form);
      psTarget.put(',');
    }
  }
  psTarget.lit("\r\n");
}

int tl_csv_record(tl_csv_state& st, const char* pucData, size_t len, tl_out& psTarget) {
  int rindex = iFindBDTrecord(pucData);
  if (rindex < 0) {
    tl_put_unknown(psTarget, pucData, len, tl_escape::none, tl_lit("\n"));
    return 0;
  }
  const bdt_record_tag& r = bdtr_list[rindex];
  set_key(st, rindex);
  if (print_recno == 1) {
    psTarget.put(st.sRecord);
    psTarget.lit("\r\n");
  }
  if (r.display == 1 && print_types == 1) {
    if (print_raw == 1) {
      tl_put_name(psTarget, r.record_name);
      psTarget.lit(": record = [");
      psTarget.put(pucData, len);
      psTarget.lit("]\r\n");
    }
    if (print_raw == 0) {
      tl_put_name(psTarget, r.record_name);
      psTarget.lit(" \r\n");
    }
  }
  if (r.display_csv_inline == 1 && r.fields != nullptr) {
    if (std::strcmp(st.sCurrentRecord, st.sRecord) != 0) tl_csv_header(rindex, psTarget);
    tl_csv_inline(pucData, len, rindex, psTarget);
    std::strcpy(st.sCurrentRecord, st.sRecord);
    return 0;
  }
  if (r.display_fields != 1 || r.fields == nullptr) return 0;
  if (print_common == 1) tl_csv_common_fields(pucData, len, psTarget);
  tl_csv_fields(st, pucData, len, rindex, psTarget);
  psTarget.lit("\r\n");
  return 0;
}

void tl_csv_skim(tl_csv_state& st, const char* pucData, size_t /*len*/) {
  int rindex = iFindBDTrecord(pucData);
  if (rindex < 0) return;
  const bdt_record_tag& r = bdtr_list[rindex];
  set_key(st, rindex);
  if (r.display_csv_inline == 1 && r.fields != nullptr) {
    std::strcpy(st.sCurrentRecord, st.sRecord);
  } else if (r.display_fields == 1 && r.fields != nullptr) {
    st.sCurrentRecord[0] = '\0';  // as tl_csv_fields leaves it
  }
}

int init_bdt_csv() {
  csv_state = tl_csv_state();
  return 0;
}

int psParseBDTrecord_csv(const char* pucData, tl_out& psTarget) {
  return tl_csv_record(csv_state, pucData, std::strlen(pucData), psTarget);
}

int psParseBDTcommonFields_csv(const char* pucData, tl_out& psTarget) {
  tl_csv_common_fields(pucData, std::strlen(pucData), psTarget);
  return 0;
}

int psParseBDTfields_csv(const char* pucData, int rindex, tl_out& psTarget) {
  tl_csv_fields(csv_state, pucData, std::strlen(pucData), rindex, psTarget);
  return 0;
}

int psParseBDTfields_csv_header(const char* /*pucData*/, int rindex, tl_out& psTarget) {
  tl_csv_header(rindex, psTarget);
  return 0;
}

int psParseBDTfields_csv_inline(const char* pucData, int rindex, tl_out& psTarget) {
  tl_csv_inline(pucData, std::strlen(pucData), rindex, psTarget);
  return 0;
}

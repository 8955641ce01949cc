// The text formatter: the record key, type lines, then one line per field.
#include <cstring>

#include "tl_bdt.h"
#include "tl_formatters.h"
#include "tl_globals.h"
#include "tl_names.h"
#include "tl_plan.h"
#include "tl_util.h"

namespace {

// "\tname\t" before a field's value; "\tname:[" before a common value.
void add_field_lead(const bdt_fields_tag& f, std::string& out) {
  out += '\t';
  if (f.field_name != nullptr) out += f.field_name;
  out += '\t';
}
tl_name_texts field_lead(add_field_lead);
tl_name_texts common_lead([](const bdt_fields_tag& f, std::string& out) {
  out += '\t';
  if (f.field_name != nullptr) out += f.field_name;
  out += ":[";
});
// The field lines as a plan.
tl_field_plan field_plan(&bdt_fields_tag::display, add_field_lead,
                         [](const bdt_fields_tag&, std::string& out) { out += "\r\n"; });

void common_fields(const char* pucData, size_t len, tl_out& psTarget) {
  const tl_span* leads = common_lead.list(-1);
  for (size_t k = 0; !bdt_is_end(bdtf_common[k]); k++) {
    const bdt_fields_tag& f = bdtf_common[k];
    if (f.display != 1) continue;
    bdt_value v = bdt_cut(pucData, len, f);
    psTarget.put_all(leads[k], tl_span{v.p, v.n}, tl_lit("]\r\n"));
  }
}

void layout_fields(const char* pucData, size_t len, int rindex, tl_out& psTarget) {
  const bdt_fields_tag* list = bdtr_list[rindex].fields;
  if (list == nullptr) return;
  // Text values are written as they stand, so every record may take the plan.
  if (field_plan.put(rindex, pucData, len, psTarget)) return;
  char scratch[258];
  const tl_span* leads = field_lead.list(rindex);
  for (size_t k = 0; !bdt_is_end(list[k]); k++) {
    const bdt_fields_tag& f = list[k];
    if (f.display != 1) continue;
    tl_field_text t = tl_field_value(pucData, len, f, scratch);
    psTarget.put_all(leads[k], tl_minus(t.negative), tl_span{t.p, t.n},
                     tl_lit("\r\n"));
  }
}

}  // namespace

int init_bdt_text() { return 0; }

int psParseBDTcommonFields(const char* pucData, tl_out& psTarget) {
  common_fields(pucData, std::strlen(pucData), psTarget);
  return 0;
}

int psParseBDTfields(const char* pucData, int rindex, tl_out& psTarget) {
  layout_fields(pucData, std::strlen(pucData), rindex, psTarget);
  return 0;
}

int psParseBDTrecord(const char* pucData, int /*flag*/, tl_out& psTarget) {
  return tl_text_record(pucData, std::strlen(pucData), psTarget);
}

int tl_text_record(const char* pucData, size_t len, tl_out& psTarget) {
  int rindex = iFindBDTrecord(pucData);
  if (rindex < 0) {
    tl_put_unknown(psTarget, pucData, len, tl_escape::none, tl_lit("\r\n"));
    return 0;
  }
  const bdt_record_tag& r = bdtr_list[rindex];
  if (print_recno == 1) {
    const bdt_key& key = bdt_key_of(rindex);
    psTarget.put_all(tl_span{key.text, key.n}, tl_lit(":\r\n"));
  }
  if (r.display == 1 && print_types == 1) {
    tl_put_name(psTarget, r.record_name);
    if (print_raw == 1) {
      psTarget.lit(": record = [");
      psTarget.put(pucData, len);
      psTarget.lit("]\r\n");
    } else {
      psTarget.lit(" \r\n");
    }
  }
  if (r.display_fields != 1 || r.fields == nullptr) return 0;
  if (print_common == 1) common_fields(pucData, len, psTarget);
  layout_fields(pucData, len, rindex, psTarget);
  psTarget.lit(" ------ \r\n\r\n");
  return 0;
}

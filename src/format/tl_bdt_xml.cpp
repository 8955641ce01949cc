// The XML formatter: one element per record, named after the record type,
// with one child element per field. Everything written as character data is
// escaped, so the document stays well-formed whatever the records hold.
#include <cstring>
#include <string>

#include "tl_bdt.h"
#include "tl_formatters.h"
#include "tl_globals.h"
#include "tl_names.h"
#include "tl_plan.h"
#include "tl_util.h"

namespace {

// The element name of a display name (a null name gives an empty one).
std::string element_name(const char* display) {
  std::string name = display != nullptr ? display : "";
  iFixFieldNameForXML(&name[0], &name[0]);
  return name;
}

// Element tags, made once from the display names: "\t<name>" and
// "</name>\r\n" for a field, "<name recordID=\"" and "</name>\r\n\r\n" for
// a record type.
void add_open_tag(const bdt_fields_tag& f, std::string& out) { out += "\t<" + element_name(f.field_name) + ">"; }
void add_close_tag(const bdt_fields_tag& f, std::string& out) { out += "</" + element_name(f.field_name) + ">\r\n"; }
tl_name_texts open_tags(add_open_tag,
                        [](const bdt_record_tag& r, std::string& out) {
                          out += "<" + element_name(r.record_name) + " recordID=\"";
                        });
tl_name_texts close_tags(add_close_tag,
                         [](const bdt_record_tag& r, std::string& out) {
                           out += "</" + element_name(r.record_name) + ">\r\n\r\n";
                         });

// The same tags as a plan for whole records that need no escaping.
tl_field_plan field_plan(&bdt_fields_tag::display, add_open_tag, add_close_tag);

// One field element: open tag, the value, close tag.
// `plain` says the value is known to need no escaping.
inline void put_element(tl_out& o, tl_span open, tl_span close, const char* p, size_t n, bool negative, bool plain) {
  if (plain || tl_xml_plain(p, n)) {
    o.put_all(open, tl_minus(negative), tl_span{p, n}, close);
    return;
  }
  o.put_all(open, tl_minus(negative));
  tl_put_xml(o, p, n);
  o.put_all(close);
}

void common_fields(const char* rec, size_t len, tl_out& o) {
  const tl_span* open = open_tags.list(-1);
  const tl_span* close = close_tags.list(-1);
  for (size_t k = 0; !bdt_is_end(bdtf_common[k]); k++) {
    const bdt_fields_tag& f = bdtf_common[k];
    if (f.display_xml != 1) continue;
    // Common fields are written as cut, never as amounts.
    bdt_value v = bdt_cut(rec, len, f);
    put_element(o, open[k], close[k], v.p, v.n, false, false);
  }
}

void layout_fields(const char* rec, size_t len, int rindex, tl_out& o) {
  const bdt_fields_tag* list = bdtr_list[rindex].fields;
  if (list == nullptr) return;
  // One look at the whole record usually spares a look at every value.
  const bool clean = tl_xml_plain(rec, tl_value_region(len));
  if (clean && field_plan.put(rindex, rec, len, o)) return;
  const tl_span* open = open_tags.list(rindex);
  const tl_span* close = close_tags.list(rindex);
  char scratch[258];
  for (size_t k = 0; !bdt_is_end(list[k]); k++) {
    const bdt_fields_tag& f = list[k];
    if (f.display != 1) continue;
    tl_field_text v = tl_field_value(rec, len, f, scratch);
    put_element(o, open[k], close[k], v.p, v.n, v.negative, clean);
  }
}

}  // namespace

// The XML writer keeps nothing from one record to the next.
int init_bdt_xml() { return 0; }

int psParseBDTcommonFields_xml(const char* pucData, tl_out& psTarget) {
  common_fields(pucData, std::strlen(pucData), psTarget);
  return 0;
}

int psParseBDTfields_xml(const char* pucData, int rindex, tl_out& psTarget) {
  layout_fields(pucData, std::strlen(pucData), rindex, psTarget);
  return 0;
}

int psParseBDTrecord_xml(const char* pucData, tl_out& psTarget) {
  return tl_xml_record(pucData, std::strlen(pucData), psTarget);
}

int tl_xml_record(const char* pucData, size_t len, tl_out& psTarget) {
  int rindex = iFindBDTrecord(pucData);
  if (rindex < 0) {
    tl_put_unknown(psTarget, pucData, len, tl_escape::xml, tl_lit("\n"));
    return 0;
  }
  const bdt_record_tag& r = bdtr_list[rindex];
  // The record key: "100101.01", or the identifier alone for a layout
  // identified without its suffix.
  char sRecord[32];
  const size_t sRecordLen = bdt_put_key(rindex, sRecord);

  if (print_recno == 1) {
    tl_put_xml(psTarget, sRecord, sRecordLen);
    psTarget.lit(":\r\n");
  }
  if (r.display == 1) {
    if (print_raw == 1) {
      if (r.record_name != nullptr) psTarget.put(r.record_name);
      psTarget.lit(": record = [");
      tl_put_xml(psTarget, pucData, len);
      psTarget.lit("]\r\n");
    }
    if (print_types == 1) {
      if (r.record_name != nullptr) psTarget.put(r.record_name);
      psTarget.lit("\r\n");
    }
  }
  if (r.display_fields != 1 || r.fields == nullptr) return 0;

  psTarget.put_all(open_tags.record(rindex), tl_span{sRecord, sRecordLen}, tl_lit("\">\r\n"));
  if (print_common == 1) common_fields(pucData, len, psTarget);
  layout_fields(pucData, len, rindex, psTarget);
  psTarget.put_all(close_tags.record(rindex));
  return 0;
}

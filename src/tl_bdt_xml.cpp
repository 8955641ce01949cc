// The XML formatter: one element per record, named after the record type,
// with one child element per field. Everything written as character data is
// escaped, so the document stays well-formed whatever the records hold.
#include <cstdint>
#include <cstring>

#include "tl_bdt.h"
#include "tl_formatters.h"
#include "tl_globals.h"
#include "tl_util.h"

namespace {

// The record key of the last identified record: "100101.01", or the
// identifier alone for a layout identified without its suffix.
char sRecord[256];
size_t sRecordLen = 0;

// Element names, made from the display names once per input instead of once
// per field: the table holds, for every layout, the element name of the
// record type followed by those of its field entries, and those of the
// common block. Storage is static; should a catalogue ever outgrow it, the
// entries that did not fit are made on the fly instead.
struct xml_name {
  const char* p;
  size_t n;
};

constexpr size_t kMaxLayouts = 512;
constexpr size_t kMaxSlots = 6144;
constexpr size_t kPoolBytes = 1 << 17;
constexpr size_t kCommonSlots = 64;

struct name_table {
  bool built;
  size_t layouts;                  // layouts with a first slot
  uint32_t first[kMaxLayouts];     // slot of each layout's record name
  uint32_t count[kMaxLayouts];     // slots of the layout (record name and field entries)
  xml_name slot[kMaxSlots];
  size_t slots;
  xml_name common[kCommonSlots];
  size_t commons;
  char pool[kPoolBytes];
  size_t used;
};
name_table names;

// Writes the element name of display name s (null: empty) into d, which
// holds 256 bytes; like the element-name buffer, it keeps at most 255
// characters. Returns the name's length.
size_t fix_name(const char* s, char* d) {
  size_t n = s == nullptr ? 0 : strnlen(s, 255);
  std::memcpy(d, s == nullptr ? "" : s, n);
  d[n] = '\0';
  iFixFieldNameForXML(d, d);
  return n;
}

// Adds the element name of display name s to the pool; returns false when
// it does not fit.
bool pool_add(const char* s, xml_name& out) {
  if (kPoolBytes - names.used < 256) return false;
  char* d = names.pool + names.used;
  size_t n = fix_name(s, d);
  names.used += n + 1;
  out = {d, n};
  return true;
}

void build_names() {
  names.built = true;
  names.layouts = 0;
  names.slots = 0;
  names.commons = 0;
  names.used = 0;
  for (const bdt_fields_tag* f = bdtf_common; !bdt_is_end(*f) && names.commons < kCommonSlots; f++) {
    if (!pool_add(f->field_name, names.common[names.commons])) return;
    names.commons++;
  }
  for (size_t r = 0; r < kMaxLayouts && bdtr_list[r].required_suffix != 99; r++) {
    const bdt_record_tag& rec = bdtr_list[r];
    size_t need = 1;
    if (rec.fields != nullptr) {
      for (const bdt_fields_tag* f = rec.fields; !bdt_is_end(*f); f++) need++;
    }
    if (need > kMaxSlots - names.slots) return;
    size_t first = names.slots;
    if (!pool_add(rec.record_name, names.slot[first])) return;
    size_t k = first + 1;
    if (rec.fields != nullptr) {
      for (const bdt_fields_tag* f = rec.fields; !bdt_is_end(*f); f++, k++) {
        if (!pool_add(f->field_name, names.slot[k])) return;
      }
    }
    names.first[r] = static_cast<uint32_t>(first);
    names.count[r] = static_cast<uint32_t>(need);
    names.slots = k;
    names.layouts = r + 1;
  }
}

// A display name turned into an element name in the caller's buffer (256
// bytes), for names the table does not hold.
inline xml_name make_name(const char* s, char* tmp) {
  size_t n = fix_name(s, tmp);
  return {tmp, n};
}

// Element name of entry k of the layout's list (k = -1: the record type).
inline xml_name layout_name(int rindex, long k, const char* display, char* tmp) {
  size_t r = static_cast<size_t>(rindex);
  if (r < names.layouts && k + 1 < static_cast<long>(names.count[r])) {
    return names.slot[names.first[r] + static_cast<size_t>(k + 1)];
  }
  return make_name(display, tmp);
}

inline void ensure_names() {
  if (!names.built) build_names();
}

// "\t<name>", the value, "</name>\r\n".
inline void put_element(tl_out& o, const xml_name& name, const char* p, size_t n, bool negative) {
  o.lit("\t<");
  o.put(name.p, name.n);
  o.put('>');
  if (negative) o.put('-');
  tl_put_xml(o, p, n);
  o.lit("</");
  o.put(name.p, name.n);
  o.lit(">\r\n");
}

void common_fields(const char* rec, size_t len, tl_out& o) {
  size_t i = 0;
  for (const bdt_fields_tag* f = bdtf_common; !bdt_is_end(*f); f++, i++) {
    if (f->display_xml != 1) continue;
    char tmp[256];
    xml_name name = i < names.commons ? names.common[i] : make_name(f->field_name, tmp);
    // Common fields are written as cut, never as amounts.
    bdt_value v = bdt_cut(rec, len, *f);
    put_element(o, name, v.p, v.n, false);
  }
}

void layout_fields(const char* rec, size_t len, int rindex, tl_out& o) {
  const bdt_fields_tag* list = bdtr_list[rindex].fields;
  if (list == nullptr) return;
  char scratch[258];
  for (const bdt_fields_tag* f = list; !bdt_is_end(*f); f++) {
    if (f->display != 1) continue;
    char tmp[256];
    xml_name name = layout_name(rindex, f - list, f->field_name, tmp);
    tl_field_text t = tl_field_value(rec, len, *f, scratch);
    put_element(o, name, t.p, t.n, t.negative);
  }
}

}  // namespace

int init_bdt_xml() {
  sRecord[0] = '\0';
  sRecordLen = 0;
  // Names are remade for every input: cheap, and always from the names in force.
  names.built = false;
  return 0;
}

int psParseBDTcommonFields_xml(const char* pucData, tl_out& psTarget) {
  ensure_names();
  common_fields(pucData, std::strlen(pucData), psTarget);
  return 0;
}

int psParseBDTfields_xml(const char* pucData, int rindex, tl_out& psTarget) {
  ensure_names();
  layout_fields(pucData, std::strlen(pucData), rindex, psTarget);
  return 0;
}

int psParseBDTrecord_xml(const char* pucData, tl_out& psTarget) {
  size_t len = std::strlen(pucData);
  int rindex = iFindBDTrecord(pucData);
  if (rindex < 0) {
    // The record text is padded to six characters, then escaped.
    psTarget.lit("Unknown record type found: line = [");
    for (size_t i = len; i < 6; i++) psTarget.put(' ');
    tl_put_xml(psTarget, pucData, len);
    psTarget.lit("]\n");
    return 0;
  }
  ensure_names();
  const bdt_record_tag& r = bdtr_list[rindex];

  std::memcpy(sRecord, r.record_id, 6);
  sRecordLen = 6;
  if (r.required_suffix == 1) {
    sRecord[6] = '.';
    sRecord[7] = r.record_suffix[0];
    sRecord[8] = r.record_suffix[1];
    sRecordLen = 9;
  }
  sRecord[sRecordLen] = '\0';

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

  char tmp[256];
  xml_name name = layout_name(rindex, -1, r.record_name, tmp);
  psTarget.put('<');
  psTarget.put(name.p, name.n);
  psTarget.lit(" recordID=\"");
  tl_put_xml(psTarget, sRecord, sRecordLen);
  psTarget.lit("\">\r\n");
  if (print_common == 1) common_fields(pucData, len, psTarget);
  layout_fields(pucData, len, rindex, psTarget);
  psTarget.lit("</");
  psTarget.put(name.p, name.n);
  psTarget.lit(">\r\n\r\n");
  return 0;
}

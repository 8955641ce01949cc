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

// Element tags, made from the display names once per input instead of once
// per field: the table holds, for every layout, the tags of the record type
// followed by those of its field entries, and those of the common block.
// Storage is static; should a catalogue ever outgrow it, the tags that did
// not fit are made on the fly instead.
struct xml_tags {
  const char* open;  // "\t<name>", or "<name recordID=\"" for a record type
  size_t open_n;
  const char* close;  // "</name>\r\n", or "</name>\r\n\r\n" for a record type
  size_t close_n;
};

// Bytes that the tags of one name can take: the name is kept to 255
// characters, like the element-name buffer.
constexpr size_t kTagBytes = 2 * 255 + 32;
constexpr size_t kMaxLayouts = 512;
constexpr size_t kMaxSlots = 6144;
constexpr size_t kPoolBytes = 1 << 19;
constexpr size_t kCommonSlots = 64;

struct tag_table {
  bool built;
  size_t layouts;               // layouts whose tags are in the table
  uint32_t first[kMaxLayouts];  // slot of each layout's record type
  uint32_t count[kMaxLayouts];  // slots of the layout (record type and field entries)
  xml_tags slot[kMaxSlots];
  size_t slots;
  xml_tags common[kCommonSlots];
  size_t commons;
  char pool[kPoolBytes];
  size_t used;
};
tag_table tags;

// Writes the tags for display name s (null: empty name) into d, which holds
// kTagBytes; returns the bytes used.
size_t make_tags(const char* s, bool record, char* d, xml_tags& t) {
  size_t n = s == nullptr ? 0 : strnlen(s, 255);
  char* p = d;
  if (!record) *p++ = '\t';
  *p++ = '<';
  char* name = p;
  std::memcpy(name, s == nullptr ? "" : s, n);
  name[n] = '\0';
  iFixFieldNameForXML(name, name);
  p += n;
  if (record) {
    std::memcpy(p, " recordID=\"", 11);
    p += 11;
  } else {
    *p++ = '>';
  }
  t.open = d;
  t.open_n = static_cast<size_t>(p - d);
  char* c = p;
  *p++ = '<';
  *p++ = '/';
  std::memmove(p, name, n);
  p += n;
  std::memcpy(p, record ? ">\r\n\r\n" : ">\r\n", record ? 5 : 3);
  p += record ? 5 : 3;
  t.close = c;
  t.close_n = static_cast<size_t>(p - c);
  return static_cast<size_t>(p - d);
}

// Adds the tags for display name s to the pool; false when they may not fit.
bool pool_add(const char* s, bool record, xml_tags& out) {
  if (kPoolBytes - tags.used < kTagBytes) return false;
  tags.used += make_tags(s, record, tags.pool + tags.used, out);
  return true;
}

void build_tags() {
  tags.built = true;
  tags.layouts = 0;
  tags.slots = 0;
  tags.commons = 0;
  tags.used = 0;
  for (const bdt_fields_tag* f = bdtf_common; !bdt_is_end(*f) && tags.commons < kCommonSlots; f++) {
    if (!pool_add(f->field_name, false, tags.common[tags.commons])) return;
    tags.commons++;
  }
  for (size_t r = 0; r < kMaxLayouts && bdtr_list[r].required_suffix != 99; r++) {
    const bdt_record_tag& rec = bdtr_list[r];
    size_t need = 1;
    if (rec.fields != nullptr) {
      for (const bdt_fields_tag* f = rec.fields; !bdt_is_end(*f); f++) need++;
    }
    if (need > kMaxSlots - tags.slots) return;
    size_t first = tags.slots;
    if (!pool_add(rec.record_name, true, tags.slot[first])) return;
    size_t k = first + 1;
    if (rec.fields != nullptr) {
      for (const bdt_fields_tag* f = rec.fields; !bdt_is_end(*f); f++, k++) {
        if (!pool_add(f->field_name, false, tags.slot[k])) return;
      }
    }
    tags.first[r] = static_cast<uint32_t>(first);
    tags.count[r] = static_cast<uint32_t>(need);
    tags.slots = k;
    tags.layouts = r + 1;
  }
}

inline void ensure_tags() {
  if (!tags.built) build_tags();
}

// Tags of entry k of the layout's list (k = -1: the record type), from the
// table or made into tmp (kTagBytes).
inline xml_tags layout_tags(int rindex, long k, const char* display, char* tmp) {
  size_t r = static_cast<size_t>(rindex);
  if (r < tags.layouts && k + 1 < static_cast<long>(tags.count[r])) {
    return tags.slot[tags.first[r] + static_cast<size_t>(k + 1)];
  }
  xml_tags t;
  make_tags(display, k < 0, tmp, t);
  return t;
}

// One field element: open tag, the value, close tag.
inline void put_element(tl_out& o, const xml_tags& t, const char* p, size_t n, bool negative) {
  o.put(t.open, t.open_n);
  if (negative) o.put('-');
  tl_put_xml(o, p, n);
  o.put(t.close, t.close_n);
}

void common_fields(const char* rec, size_t len, tl_out& o) {
  size_t i = 0;
  for (const bdt_fields_tag* f = bdtf_common; !bdt_is_end(*f); f++, i++) {
    if (f->display_xml != 1) continue;
    char tmp[kTagBytes];
    xml_tags t;
    if (i < tags.commons) t = tags.common[i];
    else make_tags(f->field_name, false, tmp, t);
    // Common fields are written as cut, never as amounts.
    bdt_value v = bdt_cut(rec, len, *f);
    put_element(o, t, v.p, v.n, false);
  }
}

void layout_fields(const char* rec, size_t len, int rindex, tl_out& o) {
  const bdt_fields_tag* list = bdtr_list[rindex].fields;
  if (list == nullptr) return;
  char scratch[258];
  for (const bdt_fields_tag* f = list; !bdt_is_end(*f); f++) {
    if (f->display != 1) continue;
    char tmp[kTagBytes];
    xml_tags t = layout_tags(rindex, f - list, f->field_name, tmp);
    tl_field_text v = tl_field_value(rec, len, *f, scratch);
    put_element(o, t, v.p, v.n, v.negative);
  }
}

}  // namespace

int init_bdt_xml() {
  sRecord[0] = '\0';
  sRecordLen = 0;
  // Tags are remade for every input: cheap, and always from the names in force.
  tags.built = false;
  return 0;
}

int psParseBDTcommonFields_xml(const char* pucData, tl_out& psTarget) {
  ensure_tags();
  common_fields(pucData, std::strlen(pucData), psTarget);
  return 0;
}

int psParseBDTfields_xml(const char* pucData, int rindex, tl_out& psTarget) {
  ensure_tags();
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
  ensure_tags();
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

  char tmp[kTagBytes];
  xml_tags t = layout_tags(rindex, -1, r.record_name, tmp);
  psTarget.put(t.open, t.open_n);
  tl_put_xml(psTarget, sRecord, sRecordLen);
  psTarget.lit("\">\r\n");
  if (print_common == 1) common_fields(pucData, len, psTarget);
  layout_fields(pucData, len, rindex, psTarget);
  psTarget.put(t.close, t.close_n);
  return 0;
}

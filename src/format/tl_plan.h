// The shown fields of every layout, laid out once as a plan for writing a
// whole record in one pass: for each shown field, the constant text before
// its value (the previous field's tail joined to this field's lead) and where
// the value lies. A record then costs two copies per field, with no field
// that is not shown looked at, and one room check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tl_bdt.h"
#include "tl_names.h"
#include "tl_out.h"

class tl_field_plan {
 public:
  // Appends the text written before, or after, the value of field f.
  using text_maker = void (*)(const bdt_fields_tag& f, std::string& out);

  // shown selects the catalogue flag (display or display_csv) that a field
  // must have set to 1 to be written.
  tl_field_plan(int32_t bdt_fields_tag::*shown, text_maker lead, text_maker tail)
      : shown_(shown), lead_(lead), tail_(tail) {}

  // Appends every shown field of layout rindex as lead, value and tail: text
  // values as cut, amounts formatted (a minus sign first when negative), as
  // the field-by-field writers give them. The caller has made sure that no
  // value in the record needs escaping or quoting. Returns false, having
  // appended nothing, when the record is too short to hold every shown
  // field, when the layout has a field outside the usual bounds or when the
  // text might not fit; the caller then writes field by field.
  bool put(int rindex, const char* rec, size_t len, tl_out& o);

 private:
  struct step {
    uint32_t text;      // offset in pool_ of the text before the value
    uint32_t text_len;
    uint16_t off;       // the value's place in the record
    uint16_t len;
    int16_t point;      // -1 for text; for an amount, the place of the
                        // decimal point among its digits (len - 1 or more
                        // for none)
  };
  struct layout {
    uint32_t first;     // index in steps_ of its first step
    uint32_t count;
    uint32_t tail;      // offset in pool_ of the text after the last value
    uint32_t tail_len;
    size_t reach;       // record length that holds every shown value
    size_t room;        // most bytes a record can append (the NUL included)
    bool ok;            // every shown field is within the usual bounds
  };

  void build();

  int32_t bdt_fields_tag::*shown_;
  text_maker lead_;
  text_maker tail_;
  tl_made_for_names made_;
  std::string pool_;
  std::vector<step> steps_;
  std::vector<layout> layouts_;
};

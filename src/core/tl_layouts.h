// The record-key filter of --layouts=LIST: only records whose layout key
// matches one of the list's entries (a whole key or a prefix of one) pass.
#pragma once

#include <cstddef>
#include <string>

#include "tl_bdt.h"

// Sets the filter from the comma-separated list. Returns true when every
// entry matches some layout key of the catalogue; false, with the filter
// left as it was, naming in bad_entry the first entry that matches none.
bool tl_layouts_select(const char* list, std::string& bad_entry);

// Turns the filter off again (every record passes).
void tl_layouts_clear();

// True while a --layouts filter is set.
bool tl_layouts_active();

// Returns true when layout rindex (-1 for an unknown record) passes the
// filter; every layout passes while none is set.
bool tl_layout_selected(int rindex);

// Whether a filter is set; read through tl_layouts_active().
extern bool tl_layouts_on;

// Returns true when the record passes the filter (identifying it only while
// one is set). Inline: every record of every conversion asks.
inline bool tl_layouts_pass(const char* rec) { return !tl_layouts_on || tl_layout_selected(iFindBDTrecord(rec)); }

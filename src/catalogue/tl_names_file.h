// Display names given at run time: a names file (CSV, header row
// "record_key,start,name") replaces any of the catalogue's record and field
// names for the run, and the template writes the names in place in that
// same form, so that a template given back unchanged changes nothing.
#pragma once

#include <string>

#include "tl_bdt.h"

// Returns the start text of entry k of a field list as the names file gives
// it: the 1-based start position ("62"), and "/N" after it for the N-th
// field of the list that starts there ("131/2").
std::string tl_field_start_text(const bdt_fields_tag* list, size_t k);

// Checks the whole of text (the content of a names file shown as `path` in
// messages) and, when every row is good, gives the catalogue the names it
// sets; the display names must be ready (iDemrotStrings). Returns true when
// the names were applied; false with one "ERROR: PATH:LINE: ..." line per
// fault appended to errors, the catalogue left as it was.
bool tl_apply_names_text(const char* path, const std::string& text, std::string& errors);

// The same for the file at path, reading it whole first. Returns false, with
// the faults (or why the file cannot be read) appended to errors, when
// nothing was applied.
bool tl_apply_names_file(const char* path, std::string& errors);

// Appends the names template: the header row, then a row for every
// common-block field, and for every layout a row for its record type and
// one for each field that is not a filler, with the names in place now.
void tl_names_template(std::string& out);

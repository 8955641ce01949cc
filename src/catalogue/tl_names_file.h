// Display names given at run time: a names file (CSV, header row
// "record_key,start,name") replaces any of the catalogue's record and field
// names for the run, and the template writes the names in place in that
// same form, so that a template given back unchanged changes nothing.
#pragma once

#include <functional>
#include <string>
#include <vector>

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

// Pieces of the names file's reading that other CSV inputs of the same kind
// (the rules of --balance) share, so that they read and report alike.

// A fault of a line of a file the user gives (0: of the whole file).
struct tl_line_fault {
  int line;
  std::string text;
};

// Appends "ERROR: PATH:LINE: what\n" (no LINE for line 0) to errors.
void tl_put_fault(const char* path, const tl_line_fault& f, std::string& errors);

// Returns the index of the layout whose record key is key ("100101.00"),
// or -1 when none is.
int tl_layout_of_key(const std::string& key);

// Reads text as CSV rows of `columns` cells under the header row `header`
// (a byte order mark before it passed over): take(line, cells) for each
// row that is not empty; fault(line, what) for a header row missing or
// wrong (line 0 for an empty text; nothing after a wrong one is read), a
// NUL byte, a quote that does not open or close a cell, or another number
// of cells.
void tl_csv_rows(const std::string& text, const char* header, size_t columns,
                 const std::function<void(int, const std::string&)>& fault,
                 const std::function<void(int, const std::vector<std::string>&)>& take);

// Splits one CSV row into cells; a cell may be quoted ("" for a quote).
// Returns false for a quote that does not open or close a cell.
bool tl_csv_cells(const std::string& row, std::vector<std::string>& cells);

// Reads "N" or "N/M" (N a 1-based position, M >= 1 the occurrence).
bool tl_parse_field_start(const std::string& s, int& pos, int& nth);

// Returns s in double quotes, control bytes as \xHH, for messages.
std::string tl_quoted_text(const std::string& s);

// Returns the index in the field list of layout rindex (-1: the common
// block) of the nth field that is no filler starting at 1-based pos, only
// amounts counted when amount_only; or -1 with the reason in why.
long tl_field_at(int rindex, int pos, int nth, bool amount_only, std::string& why);

// Reads the whole file at path (a `what`, at most 16 MB) into text. Returns
// false with "ERROR: PATH: ..." appended to errors when it cannot.
bool tl_read_small_file(const char* path, const char* what, std::string& text, std::string& errors);

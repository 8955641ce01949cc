// The CSV record writer, shared by the CSV, anon CSV and database formats.
// CSV and anon CSV write the same lines, each with its own state.
#pragma once

#include <cstddef>

#include "tl_formatters.h"
#include "tl_out.h"

// The writers below take the record text with its length already measured.
void tl_csv_common_fields(const char* rec, size_t len, tl_out& psTarget);
void tl_csv_fields(tl_csv_state& st, const char* rec, size_t len, int rindex, tl_out& psTarget);
void tl_csv_header(int rindex, tl_out& psTarget);
// The value line of a layout: each shown value and a comma, then CR LF. The
// database layout passes special_form false: no value gets the ="..." form.
void tl_csv_inline(const char* rec, size_t len, int rindex, tl_out& psTarget, bool special_form = true);

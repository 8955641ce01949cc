// The CSV record writer, shared by the CSV and the anon CSV formats. Both
// write the same lines; each keeps its own per-file state and passes it in.
#pragma once

#include <cstddef>

#include "tl_out.h"

struct tl_csv_state {
  // Key of the record being written, with a trailing colon (256 bytes).
  char* sRecord;
  // Key of the inline type whose header line was written last; empty when
  // the next inline record needs a header line (256 bytes).
  char* sCurrentRecord;
};

// Empties both texts of the state.
void tl_csv_reset(tl_csv_state& st);

// One record; pucData is NUL-terminated, len its length.
int tl_csv_record(tl_csv_state& st, const char* pucData, size_t len, tl_out& psTarget);

// The writers below take the record text with its length already measured.
void tl_csv_common_fields(const char* rec, size_t len, tl_out& psTarget);
void tl_csv_fields(tl_csv_state& st, const char* rec, size_t len, int rindex, tl_out& psTarget);
void tl_csv_header(int rindex, tl_out& psTarget);
// The value line of a layout: each shown value and a comma, then CR LF. The
// database layout passes special_form false: no value gets the ="..." form.
void tl_csv_inline(const char* rec, size_t len, int rindex, tl_out& psTarget, bool special_form = true);

// The anon CSV formatter: the CSV record lines byte for byte (the driver
// writes neither document header nor trailer around them). The writing is
// the CSV formatter's; only the per-file state is this unit's own.
#include <cstring>

#include "tl_csv_common.h"
#include "tl_formatters.h"

namespace {

// The state of the per-record entries below, for callers that keep none.
tl_csv_state anon_state;

}  // namespace

int init_bdt_anon() {
  anon_state = tl_csv_state();
  return 0;
}

int psParseBDTrecord_anon(const char* pucData, tl_out& psTarget) {
  return tl_csv_record(anon_state, pucData, std::strlen(pucData), psTarget);
}

int psParseBDTcommonFields_anon(const char* pucData, tl_out& psTarget) {
  tl_csv_common_fields(pucData, std::strlen(pucData), psTarget);
  return 0;
}

int psParseBDTfields_anon(const char* pucData, int rindex, tl_out& psTarget) {
  tl_csv_fields(anon_state, pucData, std::strlen(pucData), rindex, psTarget);
  return 0;
}

int psParseBDTfields_anon_header(const char* /*pucData*/, int rindex, tl_out& psTarget) {
  tl_csv_header(rindex, psTarget);
  return 0;
}

int psParseBDTfields_anon_inline(const char* pucData, int rindex, tl_out& psTarget) {
  tl_csv_inline(pucData, std::strlen(pucData), rindex, psTarget);
  return 0;
}

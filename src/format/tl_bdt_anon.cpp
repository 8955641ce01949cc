// The anon CSV formatter: the CSV record lines byte for byte (the driver
// writes neither document header nor trailer around them). The writing is
// the CSV formatter's; only the per-file state is this unit's own.
#include <cstring>

#include "tl_csv_common.h"
#include "tl_formatters.h"

namespace {

char sRecord[256];
char sCurrentRecord[256];
tl_csv_state anon_state = {sRecord, sCurrentRecord};

}  // namespace

int init_bdt_anon() {
  tl_csv_reset(anon_state);
  return 0;
}

int psParseBDTrecord_anon(const char* pucData, tl_out& psTarget) {
  return tl_csv_record(anon_state, pucData, std::strlen(pucData), psTarget);
}

int tl_anon_record(const char* pucData, size_t len, tl_out& psTarget) {
  return tl_csv_record(anon_state, pucData, len, psTarget);
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

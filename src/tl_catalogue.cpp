// Record identification: finds the layout of a record by its identifier
// (positions 0-5) and suffix (positions 6-7).
#include <cstdint>

#include "tl_bdt.h"

// Emitted by the catalogue generator next to bdtr_list: the eight key bytes of
// every layout as a big-endian number, in bdtr_list order (strictly ascending),
// and whether a lookup in that table is equivalent to the linear search (it is
// when every layout needs its suffix).
extern const uint64_t tl_bdtr_keys[];
extern const int tl_bdtr_keys_usable;

namespace {

constexpr int kEndMarker = 99;

// strncmp(a, b, n) == 0 without reading past the end of either text.
bool bounded_equal(const char* a, const char* b, int n) {
  for (int i = 0; i < n; ++i) {
    if (a[i] != b[i]) return false;
    if (a[i] == '\0') return true;
  }
  return true;
}

// True when the text holds no NUL in its first n characters.
bool reaches(const char* text, int n) {
  for (int i = 0; i < n; ++i) {
    if (text[i] == '\0') return false;
  }
  return true;
}

}  // namespace

int iFindBDTrecordIn(const bdt_record_tag* list, const char* pucData) {
  if (list == nullptr || pucData == nullptr) return -1;
  for (int i = 0; list[i].required_suffix != kEndMarker; ++i) {
    const bdt_record_tag& r = list[i];
    if (!bounded_equal(pucData, r.record_id, 6)) continue;
    if (r.required_suffix != 1) return i;
    // A record that ended within its identifier has no suffix to compare
    // (this needs an identifier shorter than six characters).
    if (!reaches(pucData, 6)) continue;
    if (bounded_equal(pucData + 6, r.record_suffix, 2)) return i;
  }
  return -1;
}

int iFindBDTrecord(const char* pucData) {
  if (pucData == nullptr) return -1;
  if (!tl_bdtr_keys_usable) return iFindBDTrecordIn(bdtr_list, pucData);

  // Every built-in key is eight digits, so a record matches only when its
  // first eight characters are all there and equal the key.
  uint64_t key = 0;
  for (int i = 0; i < 8; ++i) {
    const unsigned char c = static_cast<unsigned char>(pucData[i]);
    if (c == 0) return -1;
    key = (key << 8) | c;
  }
  int lo = 0;
  int hi = bdtr_count;
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    if (tl_bdtr_keys[mid] < key) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo < bdtr_count && tl_bdtr_keys[lo] == key ? lo : -1;
}

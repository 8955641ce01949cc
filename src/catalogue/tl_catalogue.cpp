// Record identification: finds the layout of a record by its identifier
// (positions 0-5) and suffix (positions 6-7).
#include <cstdint>
#include <vector>

#include "tl_bdt.h"

// Emitted by the catalogue generator next to bdtr_list: the eight key bytes of
// every layout as a big-endian number, in bdtr_list order (strictly ascending),
// and whether a lookup in that table is equivalent to the linear search (it is
// when every layout needs its suffix).
extern const uint64_t tl_bdtr_keys[];
extern const int tl_bdtr_keys_usable;

namespace {

constexpr int kEndMarker = 99;

// Hash slots for the built-in keys: a power of two well above the layout count.
constexpr unsigned kSlots = 2048;

unsigned slot_of(uint64_t key) { return static_cast<unsigned>((key * 0x9E3779B97F4A7C15ULL) >> 53); }

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

// Open-addressing hash table over the keys: one or two probes per record
// instead of a search. Made before main from the generated key table (a
// constant), so that threads share it with no check per call.
struct slot_table {
  int16_t slots[kSlots];
  slot_table() {
    for (int16_t& s : slots) s = -1;
    for (int i = 0; i < bdtr_count && i < static_cast<int>(kSlots / 2); ++i) {
      unsigned h = slot_of(tl_bdtr_keys[i]);
      while (slots[h] >= 0) h = (h + 1) & (kSlots - 1);
      slots[h] = static_cast<int16_t>(i);
    }
  }
};
const slot_table kSlotTable;

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
  if (!tl_bdtr_keys_usable || bdtr_count > static_cast<int>(kSlots / 2)) return iFindBDTrecordIn(bdtr_list, pucData);

  // Every built-in key is eight digits, so a record matches only when its
  // first eight characters are all there and equal the key.
  uint64_t key = 0;
  for (int i = 0; i < 8; ++i) {
    const unsigned char c = static_cast<unsigned char>(pucData[i]);
    if (c == 0) return -1;
    key = (key << 8) | c;
  }
  const int16_t* slots = kSlotTable.slots;
  for (unsigned h = slot_of(key);; h = (h + 1) & (kSlots - 1)) {
    const int i = slots[h];
    if (i < 0) return -1;
    if (tl_bdtr_keys[i] == key) return i;
  }
}

const bdt_key& bdt_key_of(int rindex) {
  static const std::vector<bdt_key> keys = [] {
    std::vector<bdt_key> k(static_cast<size_t>(bdtr_count));
    for (int i = 0; i < bdtr_count; ++i) k[i].n = bdt_record_key(bdtr_list[i], k[i].text);
    return k;
  }();
  return keys[static_cast<size_t>(rindex)];
}

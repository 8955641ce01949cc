// Helpers shared by the unit tests: building records and preparing names.
#pragma once

#include <string>

#include "tl_bdt.h"
#include "tl_mrot.h"

// Makes the catalogue's readable names, once per test process.
inline void tl_test_names() {
  static bool done = false;
  if (!done) {
    iDemrotStrings();
    done = true;
  }
}

// Returns a 225-character record with the 8-character key (identifier and
// suffix) and every other position filled with fill.
inline std::string tl_test_record(const std::string& key8, char fill = '0') {
  std::string r(225, fill);
  r.replace(0, key8.size() < 8 ? key8.size() : 8, key8.substr(0, 8));
  return r;
}

// Writes text into the record at the 0-based position pos.
inline void tl_test_put(std::string& rec, size_t pos, const std::string& text) {
  if (rec.size() < pos + text.size()) rec.resize(pos + text.size(), ' ');
  rec.replace(pos, text.size(), text);
}

// Returns the index of the layout with the 8-character key, or -1.
inline int tl_test_layout(const std::string& key8) {
  for (int i = 0; bdtr_list[i].required_suffix != 99; i++) {
    if (key8.compare(0, 6, bdtr_list[i].record_id) == 0 && key8.compare(6, 2, bdtr_list[i].record_suffix) == 0)
      return i;
  }
  return -1;
}

#include "tl_layouts.h"

#include <cstring>
#include <vector>

#include "tl_bdt.h"

namespace {

// One flag per layout index, made once from the list; the per-record check
// is then the identification and one load.
std::vector<unsigned char> selected;

}  // namespace

bool tl_layouts_on = false;

bool tl_layouts_select(const char* list, std::string& bad_entry) {
  std::vector<unsigned char> chosen(static_cast<size_t>(bdtr_count), 0);
  const char* p = list;
  for (;;) {
    const char* comma = std::strchr(p, ',');
    const size_t n = comma != nullptr ? static_cast<size_t>(comma - p) : std::strlen(p);
    bool any = false;
    for (int r = 0; n > 0 && r < bdtr_count; r++) {
      const bdt_key& k = bdt_key_of(r);
      if (n <= k.n && std::memcmp(k.text, p, n) == 0) chosen[static_cast<size_t>(r)] = any = true;
    }
    if (!any) {
      bad_entry.assign(p, n);
      return false;
    }
    if (comma == nullptr) break;
    p = comma + 1;
  }
  selected.swap(chosen);
  tl_layouts_on = true;
  return true;
}

void tl_layouts_clear() {
  selected.clear();
  tl_layouts_on = false;
}

bool tl_layouts_active() { return tl_layouts_on; }

bool tl_layout_selected(int rindex) {
  if (!tl_layouts_on) return true;
  return rindex >= 0 && static_cast<size_t>(rindex) < selected.size() && selected[static_cast<size_t>(rindex)] != 0;
}


#include "tl_names.h"

void tl_name_texts::build() {
  pool_.clear();
  spans_.clear();
  first_.clear();
  records_.clear();
  // Offsets first: the pool may move while it grows.
  std::vector<size_t> off, rec_off;
  off.push_back(0);
  auto add_list = [&](const bdt_fields_tag* list) {
    first_.push_back(off.size() - 1);
    for (const bdt_fields_tag* f = list; f != nullptr && !bdt_is_end(*f); f++) {
      make_field_(*f, pool_);
      off.push_back(pool_.size());
    }
  };
  add_list(bdtf_common);
  for (int r = 0; bdtr_list[r].required_suffix != 99; r++) add_list(bdtr_list[r].fields);
  size_t field_end = pool_.size();
  rec_off.push_back(field_end);
  if (make_record_ != nullptr) {
    for (int r = 0; bdtr_list[r].required_suffix != 99; r++) {
      make_record_(bdtr_list[r], pool_);
      rec_off.push_back(pool_.size());
    }
  }
  for (size_t i = 0; i + 1 < off.size(); i++) spans_.push_back({pool_.data() + off[i], off[i + 1] - off[i]});
  for (size_t i = 0; i + 1 < rec_off.size(); i++) {
    records_.push_back({pool_.data() + rec_off[i], rec_off[i + 1] - rec_off[i]});
  }
}

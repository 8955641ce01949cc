#include "tl_plan.h"

#include <algorithm>

#include "tl_names.h"
#include "tl_util.h"

void tl_field_plan::build() {
  pool_.clear();
  steps_.clear();
  layouts_.clear();
  std::string text, carry;
  for (int r = 0; bdtr_list[r].required_suffix != 99; r++) {
    layout l{};
    l.first = static_cast<uint32_t>(steps_.size());
    l.ok = bdtr_list[r].fields != nullptr;
    carry.clear();
    for (const bdt_fields_tag* f = bdtr_list[r].fields; f != nullptr && !bdt_is_end(*f); f++) {
      if (f->*shown_ != 1) continue;
      // The fast way covers the usual whole fields of the 225 value bytes;
      // anything else is left to the field-by-field writers.
      if (f->field_offset < 0 || f->field_length < 1 || f->field_length > 255 ||
          static_cast<size_t>(f->field_offset) + static_cast<size_t>(f->field_length) > tl_value_region(225)) {
        l.ok = false;
      }
      text = carry;
      lead_(*f, text);
      carry.clear();
      tail_(*f, carry);
      step s{};
      s.text = static_cast<uint32_t>(pool_.size());
      s.text_len = static_cast<uint32_t>(text.size());
      s.off = static_cast<uint16_t>(std::clamp(f->field_offset, 0, 255));
      s.len = static_cast<uint16_t>(std::clamp(f->field_length, 0, 255));
      s.dpoint = static_cast<int16_t>(f->amount_ind < 0 ? -1 : std::min(f->amount_ind, 256));
      pool_ += text;
      steps_.push_back(s);
      l.reach = std::max(l.reach, static_cast<size_t>(s.off) + s.len);
      // An amount may grow by a minus sign and a decimal point, and its
      // formatting ends with a NUL.
      l.room += text.size() + s.len + 3;
    }
    l.count = static_cast<uint32_t>(steps_.size() - l.first);
    l.tail = static_cast<uint32_t>(pool_.size());
    l.tail_len = static_cast<uint32_t>(carry.size());
    pool_ += carry;
    l.room += carry.size() + 1;
    layouts_.push_back(l);
  }
  built_ = tl_name_texts::names_generation();
}

bool tl_field_plan::put(int rindex, const char* rec, size_t len, tl_out& o) {
  if (built_ != tl_name_texts::names_generation()) build();
  const layout& l = layouts_[static_cast<size_t>(rindex)];
  if (!l.ok || len < l.reach || o.cap - 1 - o.len < l.room) return false;
  const char* pool = pool_.data();
  char* d = o.buf + o.len;
  for (const step *s = steps_.data() + l.first, *end = s + l.count; s != end; ++s) {
    tl_copy(d, pool + s->text, s->text_len);
    d += s->text_len;
    const char* v = rec + s->off;
    if (s->dpoint < 0) {
      tl_copy(d, v, s->len);
      d += s->len;
      continue;
    }
    // The sign is in the last character; the minus goes before the value.
    if (kTlOverpunch.positive[static_cast<unsigned char>(v[s->len - 1])] == 0) *d++ = '-';
    int positive = 1;
    d += tl_format_whole_amount(v, s->len, s->dpoint, d, &positive);
  }
  tl_copy(d, pool + l.tail, l.tail_len);
  d += l.tail_len;
  *d = '\0';
  o.len = static_cast<size_t>(d - o.buf);
  return true;
}

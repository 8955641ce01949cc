// --totals: records per layout and the exact sums of its shown amount
// fields, per input or (--totals=bill) per bill.
#include <algorithm>
#include <cstring>

#include "tl_audit.h"
#include "tl_bdt.h"
#include "tl_table_model.h"
#include "tl_util.h"

namespace {

constexpr size_t kKeyWidth = 10;
constexpr size_t kStartWidth = 5;
constexpr size_t kCountWidth = 10;
constexpr size_t kSumWidth = 22;

class totals_sink : public tl_audit_sink {
 public:
  totals_sink(tl_audit_form form, bool per_bill)
      : form_(form),
        per_bill_(per_bill),
        records_(static_cast<size_t>(bdtr_count), 0),
        numbers_(plan_.fields().size(), 0),
        sums_(plan_.fields().size(), 0) {
    met_.reserve(static_cast<size_t>(bdtr_count));
    if (form_ == tl_audit_form::csv) o_.put("file,bill,record_key,start,field,records,numbers,sum\r\n");
  }

  bool begin(const tl_document& doc) override {
    name_ = doc.name();
    bill_line_ = 0;
    return true;
  }

  bool record(const char* rec, size_t len, unsigned long long line) override {
    if (per_bill_ && tl_is_bill_start(rec, len)) {
      emit();
      bill_line_ = line;
    }
    const int r = iFindBDTrecord(rec);
    if (r < 0) return true;  // --check reports unknown layouts
    if (records_[static_cast<size_t>(r)]++ == 0) met_.push_back(r);
    const size_t region = tl_value_region(tl_record_content(rec, len));
    const size_t first = plan_.first(r), n = plan_.count(r);
    const tl_amount_field* f = plan_.fields().data() + first;
    for (size_t i = 0; i < n; i++) {
      int64_t units;
      if (!tl_read_amount(rec, region, f[i], &units)) continue;
      numbers_[first + i]++;
      sums_[first + i] += units;
    }
    return o_.maybe_flush();
  }

  bool end(const tl_doc_end&) override {
    emit();
    return o_.maybe_flush();
  }

  bool finish() override { return o_.flush(); }

 private:
  // Writes the rows of the bill or input in hand and starts afresh.
  void emit() {
    if (met_.empty()) return;
    std::sort(met_.begin(), met_.end());
    if (form_ == tl_audit_form::text) heading();
    for (int r : met_) {
      const size_t ri = static_cast<size_t>(r);
      row(r, nullptr, records_[ri], 0, 0);
      const size_t first = plan_.first(r), n = plan_.count(r);
      for (size_t i = first; i < first + n; i++) {
        row(r, &plan_.fields()[i], records_[ri], numbers_[i], sums_[i]);
        numbers_[i] = 0;
        sums_[i] = 0;
      }
      records_[ri] = 0;
    }
    met_.clear();
  }

  void heading() {
    if (headed_) o_.put('\n');
    headed_ = true;
    o_.printable(name_.data(), name_.size());
    if (per_bill_) {
      if (bill_line_ == 0) {
        o_.put(", before the first bill");
      } else {
        o_.put(", bill at line ");
        o_.num(bill_line_);
      }
    }
    o_.put('\n');
    size_t at = o_.text().size();
    o_.put("record_key");
    o_.pad_to(at, kKeyWidth + 2);
    o_.right("start", 5, kStartWidth);
    o_.put("  ");
    at = o_.text().size();
    o_.put("field");
    o_.pad_to(at, plan_.name_width());
    o_.right("records", 7, kCountWidth + 2);
    o_.right("numbers", 7, kCountWidth + 2);
    o_.right("sum", 3, kSumWidth + 2);
    o_.put('\n');
  }

  void row(int r, const tl_amount_field* f, unsigned long long records, unsigned long long numbers, __int128 sum) {
    const bdt_key& key = bdt_key_of(r);
    char num[64];
    switch (form_) {
      case tl_audit_form::csv:
        o_.csv(name_.data(), name_.size());
        o_.put(',');
        o_.num(bill_line_);
        o_.put(',');
        o_.put(key.text, key.n);
        o_.put(',');
        if (f != nullptr) {
          o_.num(static_cast<unsigned>(f->start));
          o_.put(',');
          o_.csv(f->name, std::strlen(f->name));
        } else {
          o_.put(',');
        }
        o_.put(',');
        o_.num(records);
        o_.put(',');
        if (f != nullptr) {
          o_.num(numbers);
          o_.put(',');
          o_.decimal(sum, f->decimals);
        } else {
          o_.put(',');
        }
        o_.put("\r\n");
        break;
      case tl_audit_form::json:
        o_.put("{\"file\":\"");
        o_.json(name_.data(), name_.size());
        o_.put("\",\"bill\":");
        o_.num(bill_line_);
        o_.put(",\"record_key\":\"");
        o_.put(key.text, key.n);
        o_.put("\",\"start\":");
        if (f != nullptr) {
          o_.num(static_cast<unsigned>(f->start));
          o_.put(",\"field\":\"");
          o_.json(f->name, std::strlen(f->name));
          o_.put("\",\"records\":");
          o_.num(records);
          o_.put(",\"numbers\":");
          o_.num(numbers);
          o_.put(",\"sum\":");
          o_.decimal(sum, f->decimals);
          o_.put("}\n");
        } else {
          o_.put("null,\"field\":null,\"records\":");
          o_.num(records);
          o_.put(",\"numbers\":null,\"sum\":null}\n");
        }
        break;
      default: {
        size_t at = o_.text().size();
        o_.put(key.text, key.n);
        o_.pad_to(at, kKeyWidth + 2);
        at = o_.text().size();
        if (f != nullptr) {
          size_t n = tl_put_decimal(f->start, 0, num);
          o_.right(num, n, kStartWidth);
          o_.put("  ");
          o_.printable(f->name, std::strlen(f->name));
        }
        o_.pad_to(at, kStartWidth + 2 + plan_.name_width());
        size_t n = tl_put_decimal(static_cast<__int128>(records), 0, num);
        o_.right(num, n, kCountWidth + 2);
        if (f != nullptr) {
          n = tl_put_decimal(static_cast<__int128>(numbers), 0, num);
          o_.right(num, n, kCountWidth + 2);
          n = tl_put_decimal(sum, f->decimals, num);
          o_.right(num, n, kSumWidth + 2);
        }
        o_.put('\n');
      }
    }
  }

  const tl_audit_form form_;
  const bool per_bill_;
  const tl_amount_plan plan_;
  tl_audit_out o_;
  std::string name_;
  unsigned long long bill_line_ = 0;
  bool headed_ = false;
  std::vector<unsigned long long> records_;  // per layout
  std::vector<unsigned long long> numbers_;  // per field of the plan
  std::vector<__int128> sums_;
  std::vector<int> met_;  // layouts met in the bill or input in hand
};

}  // namespace

std::unique_ptr<tl_audit_sink> tl_totals_sink(tl_audit_form form, bool per_bill) {
  return std::make_unique<totals_sink>(form, per_bill);
}

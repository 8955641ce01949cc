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

// The counts and sums of a bill or input, or of a part of one.
struct tally {
  std::vector<unsigned long long> records;  // per layout
  std::vector<unsigned long long> numbers;  // per field of the plan
  std::vector<__int128> sums;
  std::vector<int> met;  // layouts met, in the order met

  explicit tally(const tl_amount_plan& plan)
      : records(static_cast<size_t>(bdtr_count), 0), numbers(plan.fields().size(), 0), sums(plan.fields().size(), 0) {
    met.reserve(static_cast<size_t>(bdtr_count));
  }

  // Adds o, and empties it.
  void take(tally& o, const tl_amount_plan& plan) {
    for (int r : o.met) {
      const size_t ri = static_cast<size_t>(r);
      if (records[ri] == 0) met.push_back(r);
      records[ri] += o.records[ri];
      o.records[ri] = 0;
      for (size_t i = plan.first(r); i < plan.first(r) + plan.count(r); i++) {
        numbers[i] += o.numbers[i];
        sums[i] += o.sums[i];
        o.numbers[i] = 0;
        o.sums[i] = 0;
      }
    }
    o.met.clear();
  }
};

class totals_sink final : public tl_audit_sink {
 public:
  // worker: a fork, which writes the bills that begin and end in its block
  // and keeps the rest for the join.
  totals_sink(tl_audit_form form, bool per_bill, bool worker)
      : form_(form), per_bill_(per_bill), worker_(worker), o_(worker), bill_(plan_), head_(plan_) {
    if (form_ == tl_audit_form::csv && !worker) o_.put("file,bill,record_key,start,field,records,numbers,sum\r\n");
  }

  std::unique_ptr<tl_sink> fork() override { return std::make_unique<totals_sink>(form_, per_bill_, true); }

  // A worker's block: the records before its first bill record end the bill
  // in hand; the bills it wrote follow; the bill it began last is in hand.
  bool join(tl_sink& worker) override {
    totals_sink& w = static_cast<totals_sink&>(worker);
    if (!w.split_) {
      bill_.take(w.bill_, plan_);
      return true;
    }
    bill_.take(w.head_, plan_);
    emit(bill_);
    if (!w.o_.text().empty() && headed_ && form_ == tl_audit_form::text) o_.put('\n');
    headed_ = headed_ || w.headed_;
    std::swap(bill_, w.bill_);  // the worker's is left empty by the emit above
    bill_line_ = w.bill_line_;
    w.split_ = false;
    w.headed_ = false;
    return o_.take(w.o_);
  }

  bool records(tl_document& doc, tl_filter filter, tl_hasher* hash, tl_doc_end& e) override {
    return tl_record_loop(*this, doc, filter, hash, e);
  }

  bool begin(const tl_document& doc) override {
    name_ = doc.name();
    bill_line_ = 0;
    return true;
  }

  bool record(const char* rec, size_t len, unsigned long long line) override {
    if (per_bill_ && tl_is_bill_start(rec, len)) {
      if (worker_ && !split_) {
        // The bill in hand began before the block: the join ends it.
        std::swap(head_, bill_);
        split_ = true;
      } else {
        emit(bill_);
      }
      bill_line_ = line;
    }
    const int r = iFindBDTrecord(rec);
    if (r < 0) return true;  // --check reports unknown layouts
    tally& t = bill_;
    if (t.records[static_cast<size_t>(r)]++ == 0) t.met.push_back(r);
    const size_t region = tl_value_region(tl_record_content(rec, len));
    const size_t first = plan_.first(r), n = plan_.count(r);
    const tl_amount_field* f = plan_.fields().data() + first;
    for (size_t i = 0; i < n; i++) {
      int64_t units;
      if (!tl_read_amount(rec, region, f[i], &units)) continue;
      t.numbers[first + i]++;
      t.sums[first + i] += units;
    }
    return o_.maybe_flush();
  }

  bool end(const tl_doc_end&) override {
    emit(bill_);
    return o_.maybe_flush();
  }

  bool finish() override { return o_.flush(); }

 private:
  // Writes the rows of the bill or input t and empties it.
  void emit(tally& t) {
    if (t.met.empty()) return;
    std::sort(t.met.begin(), t.met.end());
    if (form_ == tl_audit_form::text) heading();
    for (int r : t.met) {
      const size_t ri = static_cast<size_t>(r);
      row(r, nullptr, t.records[ri], 0, 0);
      const size_t first = plan_.first(r), n = plan_.count(r);
      for (size_t i = first; i < first + n; i++) {
        row(r, &plan_.fields()[i], t.records[ri], t.numbers[i], t.sums[i]);
        t.numbers[i] = 0;
        t.sums[i] = 0;
      }
      t.records[ri] = 0;
    }
    t.met.clear();
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
  const bool worker_;
  const tl_amount_plan plan_;
  tl_audit_out o_;
  std::string name_;
  unsigned long long bill_line_ = 0;  // the line of the bill in hand's first record; 0 for bill 0
  bool headed_ = false;               // a table was written (for a worker: since its last join)
  tally bill_;                        // the bill or input in hand
  tally head_;                        // a worker's: its records before its block's first bill record
  bool split_ = false;                // a worker met a bill record since its last join
};

}  // namespace

std::unique_ptr<tl_audit_sink> tl_totals_sink(tl_audit_form form, bool per_bill) {
  return std::make_unique<totals_sink>(form, per_bill, false);
}

// --balance=RULES: the totals of each rule compared with the sums of its
// details, per section, bill or input.
#include <cstdio>
#include <cstring>

#include "tl_audit.h"
#include "tl_bdt.h"
#include "tl_rules.h"
#include "tl_table_model.h"
#include "tl_util.h"

namespace {

enum kind { balanced, unbalanced, unclosed, no_total, not_a_number, kinds };
const char* const kKindName[kinds] = {"balanced", "unbalanced", "unclosed", "no-total", "not-a-number"};
const char* const kJsonCount[kinds] = {"balanced", "unbalanced", "unclosed", "no_total", "not_a_number"};

// One amount field of a rule on a layout: where it is and what it is.
struct touch {
  uint32_t rule;
  bool total;
  const tl_rule_field* field;
  int64_t scale;  // 10^(the rule's decimals - the field's)
};

// The sums of one rule in the scope in hand.
struct state {
  __int128 total = 0;
  __int128 details = 0;
  unsigned long long totals_with_number = 0;  // total records whose field held a number
  unsigned long long total_records = 0;
  unsigned long long detail_records = 0;  // records that hold a detail field
  unsigned long long numbered = 0;        // of them, those with a number in one
  unsigned long long first_detail = 0;    // line of the first of them
  unsigned long long last_counted = 0;    // line of the record counted last
  unsigned long long numbered_line = 0;   // line of the record counted last in numbered
  unsigned long long count[kinds] = {};   // findings in the input
};

// It runs on one thread (no fork): each section's sums, and the findings
// they give, depend on every record of the bill before them.
class balance_sink : public tl_audit_sink {
 public:
  balance_sink(tl_audit_form form, std::vector<tl_rule> rules)
      : json_(form == tl_audit_form::json), rules_(std::move(rules)), states_(rules_.size()) {
    // Per layout, the fields the rules read of it: details before totals, so
    // that a record that is both adds its details before it closes them.
    std::vector<std::vector<touch>> of(static_cast<size_t>(bdtr_count));
    for (uint32_t i = 0; i < rules_.size(); i++) {
      const tl_rule& r = rules_[i];
      for (const tl_rule_field& d : r.details) {
        of[static_cast<size_t>(d.rindex)].push_back({i, false, &d, static_cast<int64_t>(tl_pow10(r.decimals - d.decimals))});
      }
    }
    for (uint32_t i = 0; i < rules_.size(); i++) {
      const tl_rule& r = rules_[i];
      of[static_cast<size_t>(r.total.rindex)].push_back(
          {i, true, &r.total, static_cast<int64_t>(tl_pow10(r.decimals - r.total.decimals))});
    }
    for (const auto& list : of) {
      first_.push_back(touches_.size());
      touches_.insert(touches_.end(), list.begin(), list.end());
    }
    first_.push_back(touches_.size());
  }

  bool begin(const tl_document& doc) override {
    name_ = doc.name();
    bill_line_ = 0;
    for (state& s : states_) s = state();
    return true;
  }

  bool record(const char* rec, size_t len, unsigned long long line) override {
    if (tl_is_bill_start(rec, len)) {
      end_bill();
      bill_line_ = line;
    }
    if (bill_line_ == 0) bill_line_ = line;  // bill 0 starts at the input's first record
    const int r = iFindBDTrecord(rec);
    if (r < 0) return true;
    const size_t b = first_[static_cast<size_t>(r)], e = first_[static_cast<size_t>(r) + 1];
    if (b == e) return true;
    const size_t region = tl_value_region(tl_record_content(rec, len));
    for (size_t i = b; i < e; i++) {
      const touch& t = touches_[i];
      state& s = states_[t.rule];
      const tl_amount_field f = {static_cast<uint16_t>(t.field->off), static_cast<uint16_t>(t.field->len), 0, 0, ""};
      int64_t units = 0;
      const bool number = tl_read_amount(rec, region, f, &units);
      if (!number) nan(t, line);
      if (!t.total) {
        if (s.last_counted != line) {
          s.last_counted = line;
          if (s.detail_records++ == 0) s.first_detail = line;
        }
        if (number) {
          if (s.numbered_line != line) {
            s.numbered_line = line;
            s.numbered++;
          }
          s.details += static_cast<__int128>(units) * t.scale;
        }
        continue;
      }
      s.total_records++;
      if (number) {
        s.total += static_cast<__int128>(units) * t.scale;
        s.totals_with_number++;
      }
      // A total record closes its section, with a number or without.
      if (rules_[t.rule].scope == tl_scope::section) {
        if (number) compare(t.rule, line);
        reset(s);
      }
    }
    return o_.maybe_flush();
  }

  bool end(const tl_doc_end&) override {
    end_bill();
    for (uint32_t i = 0; i < rules_.size(); i++) {
      if (rules_[i].scope == tl_scope::file) close(i, 0);
    }
    for (uint32_t i = 0; i < rules_.size(); i++) {
      const state& s = states_[i];
      if (json_) {
        o_.put("{\"file\":\"");
        o_.json(name_.data(), name_.size());
        o_.put("\",\"rule\":\"");
        o_.json(rules_[i].name.data(), rules_[i].name.size());
        o_.put('"');
        for (int k = 0; k < kinds; k++) {
          o_.put(",\"");
          o_.put(kJsonCount[k]);
          o_.put("\":");
          o_.num(s.count[k]);
        }
        o_.put("}\n");
      } else {
        o_.printable(name_.data(), name_.size());
        o_.put(": ");
        o_.printable(rules_[i].name.data(), rules_[i].name.size());
        o_.put(": ");
        for (int k = 0; k < kinds; k++) {
          if (k > 0) o_.put(", ");
          o_.num(s.count[k]);
          o_.put(' ');
          o_.put(kKindName[k]);
        }
        o_.put('\n');
      }
      for (int k = unbalanced; k < kinds; k++) findings_ |= s.count[k] > 0;
    }
    return o_.maybe_flush();
  }

  bool finish() override { return o_.flush(); }
  bool findings() const override { return findings_; }

 private:
  // Ends the bill in hand: its sections' left-overs and its bill scopes.
  void end_bill() {
    for (uint32_t i = 0; i < rules_.size(); i++) {
      state& s = states_[i];
      if (rules_[i].scope == tl_scope::section) {
        if (s.detail_records > 0) {
          finding(unclosed, i, s.first_detail);
          details(s, rules_[i].decimals);
          if (!json_) o_.put(" after the last total");
          end_finding();
        }
        reset(s);
      } else if (rules_[i].scope == tl_scope::bill && bill_line_ != 0) {
        close(i, bill_line_);
      }
    }
  }

  // Ends a bill or file scope of rule i, reported at line.
  void close(uint32_t i, unsigned long long line) {
    state& s = states_[i];
    if (s.totals_with_number > 0) {
      compare(i, line);
    } else if (s.total_records == 0 && s.detail_records > 0) {
      finding(no_total, i, line);
      details(s, rules_[i].decimals);
      end_finding();
    }
    reset(s);
  }

  void compare(uint32_t i, unsigned long long line) {
    state& s = states_[i];
    if (s.total == s.details) {
      s.count[balanced]++;
      return;
    }
    const int dec = rules_[i].decimals;
    finding(unbalanced, i, line);
    if (json_) {
      o_.put(",\"total\":");
      o_.decimal(s.total, dec);
      details(s, dec);
      o_.put(",\"difference\":");
      o_.decimal(s.total - s.details, dec);
    } else {
      o_.put("total ");
      o_.decimal(s.total, dec);
      o_.put(", ");
      details(s, dec);
      o_.put(", difference ");
      o_.decimal(s.total - s.details, dec);
    }
    end_finding();
  }

  void details(const state& s, int dec) {
    if (json_) {
      o_.put(",\"details\":");
      o_.decimal(s.details, dec);
      o_.put(",\"records\":");
      o_.num(s.numbered);
    } else {
      o_.put("details ");
      o_.decimal(s.details, dec);
      o_.put(" (");
      o_.num(s.numbered);
      o_.put(" records)");
    }
  }

  void nan(const touch& t, unsigned long long line) {
    finding(not_a_number, t.rule, line);
    const char* name = t.field->name;
    if (json_) {
      o_.put(",\"field\":\"");
      o_.json(name, std::strlen(name));
      o_.put("\",\"start\":");
      o_.num(static_cast<unsigned>(t.field->start));
    } else {
      o_.printable(name, std::strlen(name));
      o_.put(" at ");
      o_.num(static_cast<unsigned>(t.field->start));
      o_.put(" holds no number");
    }
    end_finding();
  }

  void finding(kind k, uint32_t i, unsigned long long line) {
    states_[i].count[k]++;
    const std::string& rule = rules_[i].name;
    o_.where(json_, name_, line, kKindName[k]);
    if (json_) {
      o_.put(",\"rule\":\"");
      o_.json(rule.data(), rule.size());
      o_.put("\",\"kind\":\"");
      o_.put(kKindName[k]);
      o_.put('"');
    } else {
      o_.printable(rule.data(), rule.size());
      o_.put(": ");
    }
  }
  void end_finding() { o_.put(json_ ? "}\n" : "\n"); }

  static void reset(state& s) {
    s.total = 0;
    s.details = 0;
    s.totals_with_number = 0;
    s.total_records = 0;
    s.detail_records = 0;
    s.numbered = 0;
    s.first_detail = 0;
  }

  const bool json_;
  const std::vector<tl_rule> rules_;
  std::vector<state> states_;
  std::vector<touch> touches_;
  std::vector<size_t> first_;  // per layout, its first touch; then the end
  tl_audit_out o_;
  std::string name_;
  unsigned long long bill_line_ = 0;
  bool findings_ = false;
};

}  // namespace

std::unique_ptr<tl_audit_sink> tl_balance_sink(tl_audit_form form, const char* rules_path) {
  std::vector<tl_rule> rules;
  std::string errors;
  if (!tl_load_rules(rules_path, rules, errors)) {
    fputs(errors.c_str(), stderr);
    return nullptr;
  }
  return std::make_unique<balance_sink>(form, std::move(rules));
}

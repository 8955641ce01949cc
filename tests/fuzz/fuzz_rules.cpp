// The rules file of --balance over arbitrary texts.
//
// Input: the content of a rules file. A text that is refused must say why
// on "ERROR: fuzz.csv:" lines and give no rules; a text that is taken must
// give rules whose fields lie in a record, and that written back as a rules
// file are taken again unchanged. Taken rules then balance a few records of
// their own layouts, amounts drawn from the input, in one form or the
// other.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_common.h"
#include "tl_audit.h"
#include "tl_bdt.h"
#include "tl_rules.h"
#include "tl_table_model.h"

namespace {

// A document with no records of its own: the harness hands them to the sink.
class fz_doc : public tl_document {
 public:
  const char* name() const override { return "fuzz.bdt"; }
  long long size() const override { return -1; }
  long long consumed() const override { return 0; }
  int next_record(const char**, unsigned long*) override { return -1; }
  long next_bytes(char*, size_t) override { return 0; }
  bool failed() const override { return false; }
};

const char* scope_name(tl_scope s) { return s == tl_scope::section ? "section" : s == tl_scope::bill ? "bill" : "file"; }

std::string written_back(const std::vector<tl_rule>& rules) {
  std::string out = "rule,total_key,total_start,detail_key,detail_start,scope\n";
  for (const tl_rule& r : rules) {
    for (const tl_rule_field& d : r.details) {
      tl_append_csv_field(out, r.name.data(), r.name.size());
      out += std::string(",") + bdt_key_of(r.total.rindex).text + "," + r.total.start_text + "," +
             bdt_key_of(d.rindex).text + "," + d.start_text + "," + scope_name(r.scope) + "\n";
    }
  }
  return out;
}

bool same_field(const tl_rule_field& a, const tl_rule_field& b) {
  return a.rindex == b.rindex && a.off == b.off && a.len == b.len && a.decimals == b.decimals;
}

// A record of layout r, blank but for its key and the amount at f.
std::string record_of(const tl_rule_field& f, const uint8_t* data, size_t size, size_t& at) {
  std::string rec(225, ' ');
  const bdt_record_tag& L = bdtr_list[f.rindex];
  rec.replace(0, 6, L.record_id, 6);
  rec.replace(6, 2, L.record_suffix, 2);
  for (int i = 0; i < f.len; i++) rec[static_cast<size_t>(f.off + i)] = static_cast<char>('0' + (size > 0 ? data[at++ % size] % 10 : 0));
  // Now and then a sign, or no number at all.
  const uint8_t pick = size > 0 ? data[at++ % size] : 0;
  if (pick % 7 == 0) rec[static_cast<size_t>(f.off + f.len - 1)] = '}';
  if (pick % 11 == 0) rec[static_cast<size_t>(f.off)] = 'x';
  return rec + "\r\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fz_init();
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<tl_rule> rules;
  std::string errors;
  if (!tl_parse_rules("fuzz.csv", text, rules, errors)) {
    FZ_CHECK(!errors.empty(), "refused without a reason");
    FZ_CHECK(rules.empty(), "refused, yet rules given");
    for (size_t at = 0; at < errors.size();) {
      FZ_CHECK(errors.compare(at, 15, "ERROR: fuzz.csv") == 0, "message %s", errors.c_str() + at);
      size_t nl = errors.find('\n', at);
      FZ_CHECK(nl != std::string::npos, "message without a line end");
      at = nl + 1;
    }
    return 0;
  }
  FZ_CHECK(errors.empty(), "rules taken with errors: %s", errors.c_str());
  FZ_CHECK(!rules.empty(), "taken without a rule");
  for (const tl_rule& r : rules) {
    FZ_CHECK(!r.details.empty(), "rule %s without details", r.name.c_str());
    int most = r.total.decimals;
    for (const tl_rule_field& f : r.details) most = f.decimals > most ? f.decimals : most;
    FZ_CHECK(r.decimals == most, "rule %s in %d decimals, not %d", r.name.c_str(), r.decimals, most);
    FZ_CHECK(r.total.off >= 0 && r.total.len > 0 && r.total.off + r.total.len <= 225, "field out of the record");
    for (const tl_rule_field& f : r.details) FZ_CHECK(f.off >= 0 && f.len > 0 && f.off + f.len <= 225, "field out of the record");
  }
  const std::string back = written_back(rules);
  std::vector<tl_rule> again;
  FZ_CHECK(tl_parse_rules("back.csv", back, again, errors), "written back, refused: %s", errors.c_str());
  FZ_CHECK(again.size() == rules.size(), "written back, %zu rules instead of %zu", again.size(), rules.size());
  for (size_t i = 0; i < rules.size(); i++) {
    FZ_CHECK(again[i].name == rules[i].name && again[i].scope == rules[i].scope &&
                 same_field(again[i].total, rules[i].total) && again[i].details.size() == rules[i].details.size(),
             "rule %s changed by writing it back", rules[i].name.c_str());
    for (size_t k = 0; k < rules[i].details.size(); k++) {
      FZ_CHECK(same_field(again[i].details[k], rules[i].details[k]), "a detail of %s changed", rules[i].name.c_str());
    }
  }

  // Balancing: details, their total and a bill start for each rule.
  FILE* f = fopen("rules.csv", "wb");
  FZ_CHECK(f != nullptr, "cannot write rules.csv");
  fwrite(back.data(), 1, back.size(), f);
  fclose(f);
  outfile = stdout;
  {
    const tl_audit_form form = size % 2 == 0 ? tl_audit_form::text : tl_audit_form::json;
    std::unique_ptr<tl_audit_sink> sink = tl_balance_sink(form, "rules.csv");
    FZ_CHECK(sink != nullptr, "rules taken from text, refused from their file");
    fz_doc doc;
    FZ_CHECK(sink->begin(doc), "begin");
    unsigned long long line = 0;
    size_t at = 0;
    const std::string bill = std::string("10010100") + std::string(217, ' ') + "\r\n";
    for (const tl_rule& r : rules) {
      for (const tl_rule_field& d : r.details) {
        const std::string rec = record_of(d, data, size, at);
        sink->record(rec.data(), rec.size(), ++line);
      }
      const std::string total = record_of(r.total, data, size, at);
      sink->record(total.data(), total.size(), ++line);
      if (size > 0 && data[at++ % size] % 3 == 0) sink->record(bill.data(), bill.size(), ++line);
    }
    tl_doc_end e;
    e.records = line;
    sink->end(e);
    sink->finish();
  }
  return 0;
}

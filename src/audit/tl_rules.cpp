#include "tl_rules.h"

#include <algorithm>
#include <map>

#include "tl_bdt.h"
#include "tl_names_file.h"

namespace {

const char kHeader[] = "rule,total_key,total_start,detail_key,detail_start,scope";


// A rule name goes into every finding line: printable, no more than a line.
bool good_rule_name(const std::string& s) {
  if (s.empty() || s.size() > 64) return false;
  for (char c : s) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) return false;
  }
  return s.front() != ' ' && s.back() != ' ';
}

}  // namespace

bool tl_parse_rules(const char* path, const std::string& text, std::vector<tl_rule>& rules, std::string& errors) {
  std::vector<tl_line_fault> faults;
  std::vector<tl_rule> found;
  std::map<std::string, size_t> rule_of;  // name -> index in found
  auto fault_at = [&](int line, const std::string& what) { faults.push_back({line, what}); };
  tl_csv_rows(text, kHeader, 6, fault_at, [&](int line, const std::vector<std::string>& cells) {
    auto bad = [&](const std::string& what) { fault_at(line, what); };
    if (!good_rule_name(cells[0])) {
      bad("bad rule name " + tl_quoted_text(cells[0]) +
          " (1 to 64 characters, no control characters, no space at either end)");
      return;
    }
    // Reads one amount field of the row; false when it is not one (said).
    auto field = [&](const std::string& key, const std::string& start, const char* role, tl_rule_field& f) {
      const int rindex = tl_layout_of_key(key);
      if (rindex < 0) {
        bad("unknown " + std::string(role) + " record key " + tl_quoted_text(key));
        return false;
      }
      int pos = 0, nth = 0;
      if (!tl_parse_field_start(start, pos, nth)) {
        bad("bad " + std::string(role) + " start " + tl_quoted_text(start) +
            " (a 1-based position, or POSITION/N for the N-th field starting there)");
        return false;
      }
      std::string why;
      const long k = tl_field_at(rindex, pos, nth, true, why);
      if (k < 0) {
        bad(std::string(role) + ": " + why);
        return false;
      }
      const bdt_fields_tag& c = bdtr_list[rindex].fields[k];
      f.rindex = rindex;
      f.off = c.field_offset;
      f.len = c.field_length;
      f.decimals = c.amount_ind > 18 ? 18 : c.amount_ind;
      f.start = c.field_offset + 1;
      f.start_text = start;
      f.name = c.field_name != nullptr ? c.field_name : "";
      return true;
    };
    tl_rule_field total, detail;
    if (!field(cells[1], cells[2], "total", total) || !field(cells[3], cells[4], "detail", detail)) return;
    tl_scope scope;
    if (cells[5] == "section") scope = tl_scope::section;
    else if (cells[5] == "bill") scope = tl_scope::bill;
    else if (cells[5] == "file") scope = tl_scope::file;
    else {
      bad("bad scope " + tl_quoted_text(cells[5]) + " (section, bill or file)");
      return;
    }
    auto known = rule_of.find(cells[0]);
    if (known == rule_of.end()) {
      rule_of[cells[0]] = found.size();
      tl_rule r;
      r.name = cells[0];
      r.scope = scope;
      r.total = total;
      r.details.push_back(detail);
      r.line = line;
      found.push_back(r);
      return;
    }
    tl_rule& r = found[known->second];
    if (total.rindex != r.total.rindex || total.off != r.total.off || total.len != r.total.len) {
      bad("rule " + tl_quoted_text(r.name) + " has its total field on line " + std::to_string(r.line) +
          " already (" + bdt_key_of(r.total.rindex).text + " " + r.total.start_text + ")");
      return;
    }
    if (scope != r.scope) {
      bad("rule " + tl_quoted_text(r.name) + " has its scope on line " + std::to_string(r.line) + " already");
      return;
    }
    bool twice = false;
    for (const tl_rule_field& d : r.details) {
      twice |= d.rindex == detail.rindex && d.off == detail.off && d.len == detail.len;
    }
    if (twice) {
      bad("rule " + tl_quoted_text(r.name) + " adds " + cells[3] + " " + cells[4] + " already");
      return;
    }
    r.details.push_back(detail);
  });
  // A text whose header row is good but holds no rule.
  if (faults.empty() && found.empty()) faults.push_back({0, "no rules"});

  if (!faults.empty()) {
    for (const tl_line_fault& f : faults) tl_put_fault(path, f, errors);
    return false;
  }
  for (tl_rule& r : found) {
    r.decimals = r.total.decimals;
    for (const tl_rule_field& d : r.details) r.decimals = std::max(r.decimals, d.decimals);
  }
  rules = std::move(found);
  return true;
}

bool tl_load_rules(const char* path, std::vector<tl_rule>& rules, std::string& errors) {
  std::string text;
  return tl_read_small_file(path, "rules file", text, errors) && tl_parse_rules(path, text, rules, errors);
}

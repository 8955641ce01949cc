// The rules of --balance: which amount field totals which detail fields, in
// what scope. The user gives them as a CSV file with the header row
//   rule,total_key,total_start,detail_key,detail_start,scope
// one row per detail field; the rows of one rule share its total field and
// scope. Starts are 1-based, as the names template writes them ("62", or
// "131/2" for the second field starting at 131).
#pragma once

#include <string>
#include <vector>

enum class tl_scope { section, bill, file };

// One amount field a rule reads.
struct tl_rule_field {
  int rindex = -1;   // layout index in bdtr_list
  int off = 0;       // 0-based first byte
  int len = 0;       // width
  int decimals = 0;  // implied decimals
  int start = 0;     // 1-based first byte, as written in messages
  std::string start_text;  // as the rules file gave it
  const char* name = "";   // display name when the rules were read
};

struct tl_rule {
  std::string name;
  tl_scope scope = tl_scope::section;
  tl_rule_field total;
  std::vector<tl_rule_field> details;
  int decimals = 0;  // the most decimals of its fields: its sums are in these units
  int line = 0;      // the line of its first row
};

// Checks the whole of text (a rules file shown as path in messages). When
// every row is good, fills rules (in the order of their first rows) and
// returns true; else appends one "ERROR: PATH:LINE: ..." line per fault to
// errors and returns false. The display names must be in place.
bool tl_parse_rules(const char* path, const std::string& text, std::vector<tl_rule>& rules, std::string& errors);

// The same for the file at path, reading it whole first.
bool tl_load_rules(const char* path, std::vector<tl_rule>& rules, std::string& errors);

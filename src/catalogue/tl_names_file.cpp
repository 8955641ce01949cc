#include "tl_names_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <vector>

#include "tl_name_rules.h"
#include "tl_names.h"

namespace {

const char kHeader[] = "record_key,start,name";
// A names file for every field of the catalogue is about 200 kB; anything
// far bigger is not one.
constexpr long kMaxFileBytes = 16L << 20;

bool is_filler(const bdt_fields_tag& f) {
  return f.display == 0 && f.display_csv == 0 && f.display_xml == 0 && f.display_html == 0;
}

// One row that names something: the place of the name and the row's line.
struct naming {
  int rindex;     // layout index, or -1 for the common block
  long field;     // index in the field list, or -1 for the record type
  std::string name;
  int line;
};


bdt_fields_tag* list_of(int rindex) { return rindex < 0 ? bdtf_common : bdtr_list[rindex].fields; }

std::string list_label(int rindex) { return rindex < 0 ? std::string("the common block") : bdt_key_of(rindex).text; }

// Replaces a name the catalogue owns (made by iDemrotStrings or by an
// earlier names file) with a copy of name.
bool set_name(char*& slot, const std::string& name) {
  char* copy = static_cast<char*>(malloc(name.size() + 1));
  if (copy == nullptr) return false;
  std::memcpy(copy, name.c_str(), name.size() + 1);
  free(slot);
  slot = copy;
  return true;
}

}  // namespace

// Splits one CSV row into cells; a cell may be quoted ("" for a quote).
// Returns false for a quote that does not open or close a cell.
bool tl_csv_cells(const std::string& row, std::vector<std::string>& cells) {
  cells.clear();
  std::string cell;
  size_t i = 0;
  for (;;) {
    cell.clear();
    if (i < row.size() && row[i] == '"') {
      i++;
      for (;;) {
        if (i >= row.size()) return false;
        if (row[i] == '"') {
          if (i + 1 < row.size() && row[i + 1] == '"') {
            cell += '"';
            i += 2;
            continue;
          }
          i++;
          break;
        }
        cell += row[i++];
      }
      if (i < row.size() && row[i] != ',') return false;
    } else {
      while (i < row.size() && row[i] != ',') {
        if (row[i] == '"') return false;
        cell += row[i++];
      }
    }
    cells.push_back(cell);
    if (i >= row.size()) return true;
    i++;  // the comma
  }
}

// Reads "N" or "N/M" (N a 1-based position, M >= 1 the occurrence).
bool tl_parse_field_start(const std::string& s, int& pos, int& nth) {
  size_t slash = s.find('/');
  auto number = [](const std::string& t, int& v) {
    if (t.empty() || t.size() > 4) return false;
    v = 0;
    for (char c : t) {
      if (c < '0' || c > '9') return false;
      v = v * 10 + (c - '0');
    }
    return v >= 1;
  };
  nth = 1;
  if (slash == std::string::npos) return number(s, pos);
  return number(s.substr(0, slash), pos) && number(s.substr(slash + 1), nth);
}

std::string tl_quoted_text(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) {
      char buf[8];
      snprintf(buf, sizeof buf, "\\x%02x", u);
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

long tl_field_at(int rindex, int pos, int nth, bool amount_only, std::string& why) {
  const bdt_fields_tag* list = list_of(rindex);
  bool filler_there = false;
  int seen = 0;
  for (long k = 0; list != nullptr && !bdt_is_end(list[k]); k++) {
    if (list[k].field_offset + 1 != pos) continue;
    if (is_filler(list[k])) {
      filler_there = true;
      continue;
    }
    if (++seen < nth) continue;
    if (amount_only && list[k].amount_ind < 0) {
      why = "the field of " + list_label(rindex) + " at " + tl_field_start_text(list, static_cast<size_t>(k)) +
            " is text, not an amount";
      return -1;
    }
    return k;
  }
  if (seen > 0) {
    why = "only " + std::to_string(seen) + " field(s) of " + list_label(rindex) + " start at position " +
          std::to_string(pos) + ", not " + std::to_string(nth);
  } else if (filler_there) {
    why = "position " + std::to_string(pos) + " of " + list_label(rindex) + " is a filler, which has no name";
  } else {
    why = "no field of " + list_label(rindex) + " starts at position " + std::to_string(pos);
  }
  return -1;
}

std::string tl_field_start_text(const bdt_fields_tag* list, size_t k) {
  int nth = 1;
  for (size_t j = 0; j < k; j++) {
    if (!is_filler(list[j]) && list[j].field_offset == list[k].field_offset) nth++;
  }
  std::string s = std::to_string(list[k].field_offset + 1);
  if (nth > 1) s += "/" + std::to_string(nth);
  return s;
}

void tl_put_fault(const char* path, const tl_line_fault& f, std::string& errors) {
  errors += "ERROR: ";
  errors += path;
  if (f.line > 0) errors += ":" + std::to_string(f.line);
  errors += ": " + f.text + "\n";
}

int tl_layout_of_key(const std::string& key) {
  // The keys never change: their index is made once.
  static const std::map<std::string, int> layout_of = [] {
    std::map<std::string, int> m;
    for (int r = 0; r < bdtr_count; r++) m[bdt_key_of(r).text] = r;
    return m;
  }();
  auto it = layout_of.find(key);
  return it == layout_of.end() ? -1 : it->second;
}

void tl_csv_rows(const std::string& text, const char* header, size_t columns,
                 const std::function<void(int, const std::string&)>& fault,
                 const std::function<void(int, const std::vector<std::string>&)>& take) {
  std::vector<std::string> cells;
  bool header_seen = false;
  int line = 0;
  for (size_t at = 0; at < text.size();) {
    size_t nl = text.find('\n', at);
    std::string row = text.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
    at = nl == std::string::npos ? text.size() : nl + 1;
    line++;
    if (!row.empty() && row.back() == '\r') row.pop_back();
    if (!header_seen) {
      // A spreadsheet may put a byte order mark first.
      if (row.compare(0, 3, "\xEF\xBB\xBF") == 0) row.erase(0, 3);
      header_seen = true;
      if (row != header) {
        fault(line, std::string("expected the header row \"") + header + "\"");
        return;  // without it the rows cannot be read as meant
      }
      continue;
    }
    if (row.empty()) continue;
    if (row.find('\0') != std::string::npos) {
      fault(line, "malformed row: it holds a NUL byte");
    } else if (!tl_csv_cells(row, cells)) {
      fault(line, "malformed row: a quote that does not open or close a cell");
    } else if (cells.size() != columns) {
      fault(line, "malformed row: " + std::to_string(cells.size()) + " cells, expected " + std::to_string(columns) +
                      " (" + header + ")");
    } else {
      take(line, cells);
    }
  }
  if (!header_seen) fault(0, "empty file, expected the header row \"" + std::string(header) + "\"");
}

bool tl_apply_names_text(const char* path, const std::string& text, std::string& errors) {
  std::vector<tl_line_fault> faults;
  std::vector<naming> names;
  std::map<std::pair<int, long>, int> named_on;  // place -> line that named it
  auto fault_at = [&](int line, const std::string& what) { faults.push_back({line, what}); };
  tl_csv_rows(text, kHeader, 3, fault_at, [&](int line, const std::vector<std::string>& cells) {
    auto bad = [&](const std::string& what) { fault_at(line, what); };
    const std::string& key = cells[0];
    const std::string& start = cells[1];
    const std::string& name = cells[2];
    int rindex = -1;
    if (key != "common") {
      rindex = tl_layout_of_key(key);
      if (rindex < 0) {
        bad("unknown record key " + tl_quoted_text(key));
        return;
      }
    }
    long field = -1;
    if (start.empty()) {
      if (rindex < 0) {
        bad("the common block has no record name: give the start of one of its fields");
        return;
      }
    } else {
      int pos = 0, nth = 0;
      if (!tl_parse_field_start(start, pos, nth)) {
        bad("bad start " + tl_quoted_text(start) + " (a 1-based position, POSITION/N for the N-th field starting there, or empty for the record type)");
        return;
      }
      std::string why;
      field = tl_field_at(rindex, pos, nth, false, why);
      if (field < 0) {
        bad(why);
        return;
      }
    }
    if (const char* why = tl_name_fault(name.data(), name.size())) {
      bad("name " + tl_quoted_text(name) + " " + why);
      return;
    }
    auto place = std::make_pair(rindex, field);
    auto done = named_on.find(place);
    if (done != named_on.end()) {
      bad(key + (start.empty() ? " (the record type)" : " " + start) + " is named already on line " +
          std::to_string(done->second));
      return;
    }
    named_on[place] = line;
    names.push_back({rindex, field, name, line});
  });

  // The shown names of each list stay unique once every row is applied (so
  // rows may swap two names).
  std::map<int, std::vector<const naming*>> by_list;
  for (const naming& n : names) {
    if (n.field >= 0) by_list[n.rindex].push_back(&n);
  }
  for (const auto& entry : by_list) {
    const int rindex = entry.first;
    const bdt_fields_tag* list = list_of(rindex);
    std::vector<std::string> final_name;
    std::vector<int> set_on;
    for (long k = 0; !bdt_is_end(list[k]); k++) {
      final_name.push_back(list[k].field_name != nullptr ? list[k].field_name : "");
      set_on.push_back(0);
    }
    for (const naming* n : entry.second) {
      final_name[static_cast<size_t>(n->field)] = n->name;
      set_on[static_cast<size_t>(n->field)] = n->line;
    }
    std::map<std::string, size_t> first;
    for (size_t k = 0; k < final_name.size(); k++) {
      if (is_filler(list[k])) continue;
      auto ins = first.emplace(final_name[k], k);
      if (ins.second) continue;
      const size_t other = ins.first->second;
      const int at_line = std::max(set_on[k], set_on[other]);
      faults.push_back({at_line, "name " + tl_quoted_text(final_name[k]) + " is shown twice in " + list_label(rindex) +
                                     " (the fields starting at " + tl_field_start_text(list, other) + " and " +
                                     tl_field_start_text(list, k) + ")"});
    }
  }

  if (!faults.empty()) {
    std::stable_sort(faults.begin(), faults.end(), [](const tl_line_fault& a, const tl_line_fault& b) { return a.line < b.line; });
    for (const tl_line_fault& f : faults) tl_put_fault(path, f, errors);
    return false;
  }
  for (const naming& n : names) {
    char*& slot = n.field < 0 ? bdtr_list[n.rindex].record_name : list_of(n.rindex)[n.field].field_name;
    if (!set_name(slot, n.name)) {
      errors += "ERROR: out of memory while setting the names of " + std::string(path) + "\n";
      tl_name_texts::names_changed();
      return false;
    }
  }
  tl_name_texts::names_changed();
  return true;
}

bool tl_read_small_file(const char* path, const char* what, std::string& text, std::string& errors) {
  FILE* f = fopen(path, "rb");
  if (f == nullptr) {
    errors += "ERROR: " + std::string(path) + ": cannot open the " + what + ": " + strerror(errno) + "\n";
    return false;
  }
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) {
    text.append(buf, n);
    if (static_cast<long>(text.size()) > kMaxFileBytes) break;
  }
  const bool failed = ferror(f) != 0;
  const int err = errno;
  fclose(f);
  if (failed) {
    errors += "ERROR: " + std::string(path) + ": cannot read the " + what + ": " + strerror(err) + "\n";
    return false;
  }
  if (static_cast<long>(text.size()) > kMaxFileBytes) {
    errors += "ERROR: " + std::string(path) + ": larger than 16 MB, not a " + what + "\n";
    return false;
  }
  return true;
}

bool tl_apply_names_file(const char* path, std::string& errors) {
  std::string text;
  return tl_read_small_file(path, "names file", text, errors) && tl_apply_names_text(path, text, errors);
}

void tl_names_template(std::string& out) {
  out += kHeader;
  out += '\n';
  auto fields = [&](const char* key, const bdt_fields_tag* list) {
    for (size_t k = 0; list != nullptr && !bdt_is_end(list[k]); k++) {
      if (is_filler(list[k])) continue;
      out += key;
      out += ',';
      out += tl_field_start_text(list, k);
      out += ',';
      if (list[k].field_name != nullptr) out += list[k].field_name;
      out += '\n';
    }
  };
  fields("common", bdtf_common);
  for (int r = 0; r < bdtr_count; r++) {
    const char* key = bdt_key_of(r).text;
    out += key;
    out += ",,";
    if (bdtr_list[r].record_name != nullptr) out += bdtr_list[r].record_name;
    out += '\n';
    fields(key, bdtr_list[r].fields);
  }
}

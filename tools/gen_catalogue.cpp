// gen_catalogue: turns the record catalogue data file (CSV) into the C++
// catalogue unit.
//
//   gen_catalogue <data.csv> <out.cpp>
//
// The data file is checked strictly; any malformed row stops the build with a
// message naming the file and line. The output depends only on the data file
// and the name alphabets, so the same input always gives the same bytes.
//
// Names are stored scrambled. The scrambling is the inverse of de_mrot, which
// this tool gets by compiling tl_mrot.cpp without its catalogue walk: de_mrot
// stays the single definition of the mapping.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tl_mrot.h"
#include "tl_name_rules.h"

namespace {

const char* const kHeader =
    "kind,key,entry,offset,length,display,display_csv,display_xml,display_html,amount_ind,"
    "special_format,required_suffix,display_fields,display_csv_inline,name";

enum Column {
  kKind,
  kKey,
  kEntry,
  kOffset,
  kLength,
  kDisplay,
  kDisplayCsv,
  kDisplayXml,
  kDisplayHtml,
  kAmountInd,
  kSpecialFormat,
  kRequiredSuffix,
  kDisplayFields,
  kDisplayCsvInline,
  kName,
  kColumnCount
};

const char* const kColumnNames[kColumnCount] = {
    "kind",       "key",          "entry",          "offset",          "length",
    "display",    "display_csv",  "display_xml",    "display_html",    "amount_ind",
    "special_format", "required_suffix", "display_fields", "display_csv_inline", "name"};

constexpr int kRecordWidth = 225;  // significant characters of a BDT record
constexpr int kEndIndex = 99;      // field_index of a list terminator
constexpr int kMaxAmountInd = 18;  // an amount must still fit a 64-bit integer

struct Field {
  int index, offset, length, display, display_csv, display_xml, display_html, amount_ind,
      special_format;
  std::string name;
  bool filler() const {
    return display == 0 && display_csv == 0 && display_xml == 0 && display_html == 0;
  }
};

struct Layout {
  std::string id, suffix;  // "100101", "00"
  int required_suffix, display, display_fields, display_csv_inline;
  std::string name;
  std::vector<Field> fields;
  std::set<std::string> shown_names;
};

std::string g_path;
int g_line = 0;

[[noreturn]] void fail(const std::string& message) {
  if (g_line > 0) {
    fprintf(stderr, "gen_catalogue: %s:%d: %s\n", g_path.c_str(), g_line, message.c_str());
  } else {
    fprintf(stderr, "gen_catalogue: %s: %s\n", g_path.c_str(), message.c_str());
  }
  exit(1);
}

// readable character -> stored character, taken from de_mrot itself.
char g_scramble[256];

void build_scramble_table() {
  int count = 0;
  for (int c = 1; c < 256; ++c) {
    const char stored[1] = {static_cast<char>(c)};
    char plain[2] = {0, 0};
    de_mrot(stored, plain, 1);
    if (plain[0] == 0) continue;
    unsigned char p = static_cast<unsigned char>(plain[0]);
    if (g_scramble[p] != 0) {
      fprintf(stderr, "gen_catalogue: the name alphabets map two characters to '%c'\n", plain[0]);
      exit(1);
    }
    g_scramble[p] = static_cast<char>(c);
    ++count;
  }
  if (count != 70) {
    fprintf(stderr, "gen_catalogue: the name alphabets hold %d characters, not 70\n", count);
    exit(1);
  }
}

std::string scramble(const std::string& plain) {
  std::string out;
  for (char c : plain) out += g_scramble[static_cast<unsigned char>(c)];
  // Guard against an alphabet change that de_mrot would not undo.
  std::vector<char> back(out.size() + 1, 0);
  de_mrot(out.c_str(), back.data(), static_cast<int>(out.size()));
  if (plain != back.data()) fail("name \"" + plain + "\" does not survive scrambling");
  return out;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The name rules are shared with the run-time names file (tl_name_rules);
// the alphabet check is the generator's own, as only it scrambles names.
void check_name(const std::string& name, const char* what) {
  if (const char* fault = tl_name_fault(name.data(), name.size())) {
    fail(std::string(what) + " name \"" + name + "\" " + fault);
  }
  for (char c : name) {
    if (g_scramble[static_cast<unsigned char>(c)] == 0) {
      fail(std::string(what) + " name \"" + name + "\" holds a character outside the name alphabet");
    }
  }
}

// Canonical decimal integer: optional '-', no leading zeros, no blanks.
int parse_int(const std::vector<std::string>& cells, Column col, int lo, int hi) {
  const std::string& s = cells[col];
  const std::string label = std::string("column ") + kColumnNames[col];
  if (s.empty()) fail(label + " is empty");
  size_t i = s[0] == '-' ? 1 : 0;
  if (i == s.size()) fail(label + ": bad number \"" + s + "\"");
  if (s[i] == '0' && s.size() > i + 1) fail(label + ": bad number \"" + s + "\" (leading zero)");
  if (s.size() - i > 6) fail(label + ": number \"" + s + "\" out of range");
  long v = 0;
  for (size_t k = i; k < s.size(); ++k) {
    if (!is_digit(s[k])) fail(label + ": bad number \"" + s + "\"");
    v = v * 10 + (s[k] - '0');
  }
  if (i == 1) v = -v;
  if (s == "-0") fail(label + ": bad number \"" + s + "\"");
  if (v < lo || v > hi) {
    fail(label + ": " + s + " is outside " + std::to_string(lo) + ".." + std::to_string(hi));
  }
  return static_cast<int>(v);
}

int parse_flag(const std::vector<std::string>& cells, Column col) { return parse_int(cells, col, 0, 1); }

void require_empty(const std::vector<std::string>& cells, std::initializer_list<Column> cols,
                   const char* kind) {
  for (Column c : cols) {
    if (!cells[c].empty()) fail(std::string("column ") + kColumnNames[c] + " must be empty in a " + kind + " row");
  }
}

// "100101.00" -> id "100101", suffix "00".
bool split_key(const std::string& key, std::string* id, std::string* suffix) {
  if (key.size() != 9 || key[6] != '.') return false;
  for (int i = 0; i < 9; ++i) {
    if (i != 6 && !is_digit(key[i])) return false;
  }
  *id = key.substr(0, 6);
  *suffix = key.substr(7, 2);
  return true;
}

Field parse_field(const std::vector<std::string>& cells, size_t ordinal) {
  require_empty(cells, {kRequiredSuffix, kDisplayFields, kDisplayCsvInline}, "field");
  Field f;
  f.index = parse_int(cells, kEntry, 0, kEndIndex - 1);
  f.offset = parse_int(cells, kOffset, 0, kRecordWidth - 1);
  f.length = parse_int(cells, kLength, 1, kRecordWidth);
  if (f.offset + f.length > kRecordWidth) {
    fail("field reaches position " + std::to_string(f.offset + f.length - 1) +
         ", beyond the record's last position " + std::to_string(kRecordWidth - 1));
  }
  f.display = parse_flag(cells, kDisplay);
  f.display_csv = parse_flag(cells, kDisplayCsv);
  f.display_xml = parse_flag(cells, kDisplayXml);
  f.display_html = parse_flag(cells, kDisplayHtml);
  f.amount_ind = parse_int(cells, kAmountInd, -1, kMaxAmountInd);
  f.special_format = parse_flag(cells, kSpecialFormat);
  // A filler may carry its ordinal + 10; any other entry carries its ordinal.
  const int ord = static_cast<int>(ordinal);
  if (f.index != ord && !(f.filler() && f.index == ord + 10)) {
    fail("entry " + std::to_string(f.index) + " does not fit ordinal " + std::to_string(ord) +
         (f.filler() ? " (a filler carries its ordinal or its ordinal + 10)" : ""));
  }
  f.name = cells[kName];
  check_name(f.name, "field");
  return f;
}

void add_field(std::vector<Field>* list, std::set<std::string>* shown, const std::vector<std::string>& cells) {
  Field f = parse_field(cells, list->size());
  if (!f.filler() && !shown->insert(f.name).second) {
    fail("field name \"" + f.name + "\" is shown twice in the same list");
  }
  list->push_back(f);
}

std::vector<std::string> split_row(const std::string& line) {
  if (line.find('"') != std::string::npos) fail("quotes are not allowed");
  std::vector<std::string> cells;
  size_t start = 0;
  for (;;) {
    size_t comma = line.find(',', start);
    cells.push_back(line.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (cells.size() != kColumnCount) {
    fail("row has " + std::to_string(cells.size()) + " columns, expected " + std::to_string(kColumnCount));
  }
  return cells;
}

struct Catalogue {
  std::vector<Field> common;
  std::set<std::string> common_names;
  std::vector<Layout> layouts;
};

Catalogue read_catalogue(std::istream& in) {
  Catalogue cat;
  std::string line;
  bool header_seen = false;
  while (std::getline(in, line)) {
    ++g_line;
    for (char c : line) {
      unsigned char u = static_cast<unsigned char>(c);
      if (u < 0x20 || u >= 0x7f) fail("control or non-ASCII character in row (CR line ends are not accepted)");
    }
    if (!header_seen) {
      if (!line.empty() && line[0] == '#') continue;
      if (line != kHeader) fail(std::string("expected the header line \"") + kHeader + "\"");
      header_seen = true;
      continue;
    }
    if (line.empty()) fail("empty row");
    if (line[0] == '#') fail("comment lines are allowed only above the header");
    std::vector<std::string> cells = split_row(line);
    const std::string& kind = cells[kKind];
    const std::string& key = cells[kKey];
    if (kind == "field") {
      if (key == "common") {
        if (!cat.layouts.empty()) fail("common block rows must come before the first layout");
        add_field(&cat.common, &cat.common_names, cells);
        continue;
      }
      std::string id, suffix;
      if (!split_key(key, &id, &suffix)) fail("bad record key \"" + key + "\"");
      if (cat.layouts.empty() || cat.layouts.back().id != id || cat.layouts.back().suffix != suffix) {
        fail("field row for " + key + " is not in the block of its layout row" +
             (cat.layouts.empty() ? std::string()
                                  : " (current layout " + cat.layouts.back().id + "." +
                                        cat.layouts.back().suffix + ")"));
      }
      Layout& l = cat.layouts.back();
      add_field(&l.fields, &l.shown_names, cells);
    } else if (kind == "layout") {
      require_empty(cells, {kEntry, kOffset, kLength, kDisplayCsv, kDisplayXml, kDisplayHtml,
                            kAmountInd, kSpecialFormat},
                    "layout");
      Layout l;
      if (!split_key(key, &l.id, &l.suffix)) fail("bad record key \"" + key + "\"");
      if (!cat.layouts.empty()) {
        const Layout& prev = cat.layouts.back();
        if (prev.id + prev.suffix >= l.id + l.suffix) {
          fail("layout " + key + " is out of order (after " + prev.id + "." + prev.suffix + ")");
        }
      }
      l.display = parse_flag(cells, kDisplay);
      // 1: the suffix identifies the layout too; 0: the identifier alone.
      l.required_suffix = parse_flag(cells, kRequiredSuffix);
      l.display_fields = parse_flag(cells, kDisplayFields);
      l.display_csv_inline = parse_flag(cells, kDisplayCsvInline);
      l.name = cells[kName];
      check_name(l.name, "record");
      cat.layouts.push_back(l);
    } else {
      fail("unknown row kind \"" + kind + "\" (expected field or layout)");
    }
  }
  if (in.bad()) fail("read error");
  g_line = 0;
  if (!header_seen) fail("no header line");
  if (cat.common.empty()) fail("no common block rows");
  if (cat.layouts.empty()) fail("no layouts");
  return cat;
}

std::string literal(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\' || c == '?' || u < 0x20 || u >= 0x7f) {
      char buf[8];
      snprintf(buf, sizeof buf, "\\%03o", u);
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

void write_fields(std::ostringstream& out, const std::string& array, const std::vector<Field>& fields) {
  out << "bdt_fields_tag " << array << "[] = {\n";
  for (const Field& f : fields) {
    out << "    {" << f.index << ", " << f.offset << ", " << f.length << ", " << f.display << ", "
        << f.display_csv << ", " << f.display_xml << ", " << f.display_html << ", " << f.amount_ind
        << ", " << f.special_format << ", nullptr, " << literal(scramble(f.name)) << ", nullptr},\n";
  }
  out << "    {" << kEndIndex << ", 0, 0, 0, 0, 0, 0, -1, 0, nullptr, \"end of list\", nullptr},\n";
  out << "};\n\n";
}

std::string generate(const Catalogue& cat, const std::string& source_name) {
  std::ostringstream out;
  out << "// Record catalogue, generated by gen_catalogue from " << source_name << ".\n"
      << "// Do not edit: change the data file instead.\n"
      << "#include <cstdint>\n\n"
      << "#include \"tl_bdt.h\"\n\n";

  write_fields(out, "bdtf_common", cat.common);
  bool all_suffixed = true;
  for (const Layout& l : cat.layouts) {
    write_fields(out, "bdtf_" + l.id + "_" + l.suffix, l.fields);
    if (l.required_suffix != 1) all_suffixed = false;
  }

  out << "bdt_record_tag bdtr_list[] = {\n";
  for (const Layout& l : cat.layouts) {
    out << "    {\"" << l.id << "\", " << l.required_suffix << ", \"" << l.suffix << "\", " << l.display
        << ", " << l.display_fields << ", " << l.display_csv_inline << ", nullptr, "
        << literal(scramble(l.name)) << ", bdtf_" << l.id << "_" << l.suffix << "},\n";
  }
  out << "    {\"000000\", 99, \"00\", 0, 0, 0, nullptr, \"end of list\", nullptr},\n";
  out << "};\n\n";

  out << "const char indexRecords[][7] = {\"103005\", \"103010\", \"999999\"};\n\n";
  out << "const int bdtr_count = " << cat.layouts.size() << ";\n\n";

  // The eight key bytes of every layout as a big-endian number, in bdtr_list
  // order. The layouts are in strictly ascending key order and all keys are
  // digits, so the table is sorted and unique; when every layout needs its
  // suffix, a lookup in it answers exactly as the linear search does.
  out << "extern const uint64_t tl_bdtr_keys[];\n"
      << "extern const int tl_bdtr_keys_usable;\n"
      << "const uint64_t tl_bdtr_keys[] = {\n";
  for (const Layout& l : cat.layouts) {
    uint64_t k = 0;
    for (char c : l.id + l.suffix) k = (k << 8) | static_cast<unsigned char>(c);
    char buf[32];
    snprintf(buf, sizeof buf, "0x%016llxULL", static_cast<unsigned long long>(k));
    out << "    " << buf << ",  // " << l.id << "." << l.suffix << "\n";
  }
  out << "};\n";
  out << "const int tl_bdtr_keys_usable = " << (all_suffixed ? 1 : 0) << ";\n";
  return out.str();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: gen_catalogue <data.csv> <out.cpp>\n");
    return 2;
  }
  g_path = argv[1];
  std::ifstream in(g_path, std::ios::binary);
  if (!in) fail("cannot open");
  build_scramble_table();
  Catalogue cat = read_catalogue(in);

  std::string source_name = g_path;
  size_t slash = source_name.find_last_of('/');
  if (slash != std::string::npos) source_name = source_name.substr(slash + 1);
  const std::string text = generate(cat, source_name);

  const std::string out_path = argv[2];
  FILE* out = fopen(out_path.c_str(), "wb");
  if (out == nullptr) {
    fprintf(stderr, "gen_catalogue: %s: cannot create\n", out_path.c_str());
    return 1;
  }
  bool ok = fwrite(text.data(), 1, text.size(), out) == text.size();
  ok = (fclose(out) == 0) && ok;
  if (!ok) {
    fprintf(stderr, "gen_catalogue: %s: write error\n", out_path.c_str());
    remove(out_path.c_str());
    return 1;
  }
  return 0;
}

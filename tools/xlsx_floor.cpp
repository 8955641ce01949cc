// The floor that libxlsxwriter sets for --xlsx: writes the CSV files of a
// --split folder as one sheet each with libxlsxwriter alone, in its
// constant-memory mode. Amount columns (a decimals value in
// tapelens_columns.csv) and line and idx are numbers in the format of their
// decimals, every other value text, as --xlsx writes them.
//
//   xlsx_floor SPLIT_DIR OUT.xlsx
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <map>
#include <string>
#include <vector>
#include <xlsxwriter.h>

namespace {

// Reads a whole file; false when it cannot be read.
bool slurp(const std::string& path, std::string& out) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  char buf[1 << 16];
  size_t n;
  out.clear();
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  const bool ok = !ferror(f);
  fclose(f);
  return ok;
}

// Splits RFC 4180 text into rows of fields; calls row(fields) for each.
template <class F>
void each_row(const std::string& t, F row) {
  std::vector<std::string> fields(1);
  size_t i = 0;
  while (i < t.size()) {
    const char c = t[i];
    if (c == '"' && fields.back().empty()) {
      for (i++; i < t.size(); i++) {
        if (t[i] == '"') {
          if (i + 1 < t.size() && t[i + 1] == '"') {
            fields.back() += '"';
            i++;
          } else {
            i++;
            break;
          }
        } else {
          fields.back() += t[i];
        }
      }
      continue;
    }
    if (c == ',') {
      fields.emplace_back();
    } else if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < t.size() && t[i + 1] == '\n') i++;
      row(fields);
      fields.assign(1, std::string());
    } else {
      fields.back() += c;
    }
    i++;
  }
  if (fields.size() > 1 || !fields[0].empty()) row(fields);
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 3) {
    fputs("usage: xlsx_floor SPLIT_DIR OUT.xlsx\n", stderr);
    return 2;
  }
  const std::string dir = argv[1];
  std::string text;
  // table -> decimals per column (-1 for text).
  std::map<std::string, std::vector<int>> decimals;
  if (!slurp(dir + "/tapelens_columns.csv", text)) {
    fprintf(stderr, "xlsx_floor: cannot read %s/tapelens_columns.csv\n", argv[1]);
    return 1;
  }
  bool head = true;
  each_row(text, [&](const std::vector<std::string>& r) {
    if (head || r.size() < 7) {
      head = false;
      return;
    }
    std::vector<int>& d = decimals[r[0]];
    const std::string& col = r[1];
    d.push_back(!r[6].empty() ? std::atoi(r[6].c_str()) : (col == "line" || col == "idx") ? 0 : -1);
  });
  std::vector<std::string> files;
  if (DIR* d = opendir(argv[1])) {
    while (dirent* e = readdir(d)) {
      const std::string n = e->d_name;
      if (n.size() > 4 && n.compare(n.size() - 4, 4, ".csv") == 0) files.push_back(n);
    }
    closedir(d);
  }
  std::sort(files.begin(), files.end());

  std::string out_dir = argv[2];
  const size_t slash = out_dir.rfind('/');
  out_dir = slash == std::string::npos ? "." : out_dir.substr(0, slash);
  lxw_workbook_options o;
  std::memset(&o, 0, sizeof o);
  o.constant_memory = LXW_TRUE;
  o.tmpdir = &out_dir[0];
  lxw_workbook* wb = workbook_new_opt(argv[2], &o);
  if (wb == nullptr) return 1;
  lxw_format* formats[19];
  std::string num = "0";
  for (int k = 0; k <= 18; k++) {
    formats[k] = workbook_add_format(wb);
    format_set_num_format(formats[k], num.c_str());
    num += k == 0 ? ".0" : "0";
  }
  for (const std::string& f : files) {
    const std::string table = f.substr(0, f.size() - 4);
    if (!slurp(dir + "/" + f, text)) return 1;
    lxw_worksheet* ws = workbook_add_worksheet(wb, table.substr(0, 31).c_str());
    const std::vector<int>* dec = decimals.count(table) ? &decimals[table] : nullptr;
    lxw_row_t r = 0;
    each_row(text, [&](const std::vector<std::string>& row) {
      for (size_t c = 0; c < row.size(); c++) {
        const std::string& v = row[c];
        if (v.empty()) continue;
        const int d = r > 0 && dec != nullptr && c < dec->size() ? (*dec)[c] : -1;
        if (d >= 0) worksheet_write_number(ws, r, static_cast<lxw_col_t>(c), std::strtod(v.c_str(), nullptr), formats[d]);
        else worksheet_write_string(ws, r, static_cast<lxw_col_t>(c), v.c_str(), nullptr);
      }
      r++;
    });
  }
  const lxw_error err = workbook_close(wb);
  if (err != LXW_NO_ERROR) {
    fprintf(stderr, "xlsx_floor: %s\n", lxw_strerror(err));
    return 1;
  }
  return 0;
}

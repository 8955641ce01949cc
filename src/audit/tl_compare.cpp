// --compare OLD NEW: record counts per layout and the sums of its shown
// amount fields on both sides, and what changed.
#include <algorithm>
#include <cstring>

#include "tl_audit.h"
#include "tl_bdt.h"
#include "tl_table_model.h"
#include "tl_util.h"

namespace {

constexpr size_t kChartBars = 12;

// One row of the comparison: a layout's record counts (field null) or one
// of its amount fields.
struct row {
  int rindex;
  const tl_amount_field* field;
  unsigned long long records[2];
  __int128 sums[2];
  __int128 diff;     // NEW minus OLD, in the field's units (records for a layout row)
  __int128 by_value;  // the same in units of the smallest decimal of all fields
};

// The change in percent, one decimal, rounded half away from zero; empty
// when OLD is 0.
std::string percent(__int128 old_value, __int128 diff) {
  if (old_value == 0) return "";
  __int128 num = diff * 2000;
  __int128 den = old_value < 0 ? -old_value : old_value;
  __int128 tenths = num / den;  // twice the tenths, truncated
  tenths = tenths >= 0 ? (tenths + 1) / 2 : (tenths - 1) / 2;
  std::string s = tenths > 0 ? "+" : "";
  s += tl_decimal_text(tenths, 1);
  return s + "%";
}

__int128 magnitude(__int128 v) { return v < 0 ? -v : v; }

class compare_sink final : public tl_audit_sink {
 public:
  // worker: a fork, which adds up its blocks as side 0 for the join.
  compare_sink(tl_audit_form form, bool worker) : form_(form), o_(worker), side_(worker ? 0 : -1) {
    for (int s = 0; s < (worker ? 1 : 2); s++) {
      records_[s].assign(static_cast<size_t>(bdtr_count), 0);
      sums_[s].assign(plan_.fields().size(), 0);
    }
    for (const tl_amount_field& f : plan_.fields()) max_decimals_ = std::max<int>(max_decimals_, f.decimals);
  }

  bool admit(const char* arg) override {
    if (side_ >= 1) return false;
    names_[++side_] = arg;
    return true;
  }

  std::unique_ptr<tl_sink> fork() override { return std::make_unique<compare_sink>(form_, true); }

  // A worker's block: its counts and sums added to the side in hand.
  bool join(tl_sink& worker) override {
    compare_sink& w = static_cast<compare_sink&>(worker);
    const size_t s = static_cast<size_t>(side_);
    for (int r = 0; r < bdtr_count; r++) {
      const size_t ri = static_cast<size_t>(r);
      if (w.records_[0][ri] == 0) continue;  // nor does it hold a sum
      records_[s][ri] += w.records_[0][ri];
      w.records_[0][ri] = 0;
      for (size_t i = plan_.first(r); i < plan_.first(r) + plan_.count(r); i++) {
        sums_[s][i] += w.sums_[0][i];
        w.sums_[0][i] = 0;
      }
    }
    return true;
  }

  bool records(tl_document& doc, tl_filter filter, tl_hasher* hash, tl_doc_end& e) override {
    return tl_record_loop(*this, doc, filter, hash, e);
  }

  bool begin(const tl_document&) override { return true; }

  bool record(const char* rec, size_t len, unsigned long long) override {
    const int r = iFindBDTrecord(rec);
    if (r < 0) return true;
    records_[side_][static_cast<size_t>(r)]++;
    const size_t region = tl_value_region(tl_record_content(rec, len));
    const size_t first = plan_.first(r), n = plan_.count(r);
    const tl_amount_field* f = plan_.fields().data() + first;
    __int128* sums = sums_[side_].data() + first;
    for (size_t i = 0; i < n; i++) {
      int64_t units;
      if (tl_read_amount(rec, region, f[i], &units)) sums[i] += units;
    }
    return true;
  }

  bool end(const tl_doc_end&) override { return true; }

  bool finish() override {
    std::vector<row> rows;
    for (int r = 0; r < bdtr_count; r++) {
      const size_t ri = static_cast<size_t>(r);
      if (records_[0][ri] == 0 && records_[1][ri] == 0) continue;
      row l{r, nullptr, {records_[0][ri], records_[1][ri]}, {0, 0}, 0, 0};
      l.diff = static_cast<__int128>(l.records[1]) - static_cast<__int128>(l.records[0]);
      l.by_value = l.diff;
      rows.push_back(l);
      for (size_t i = plan_.first(r); i < plan_.first(r) + plan_.count(r); i++) {
        const tl_amount_field* f = &plan_.fields()[i];
        row a{r, f, {l.records[0], l.records[1]}, {sums_[0][i], sums_[1][i]}, 0, 0};
        a.diff = a.sums[1] - a.sums[0];
        a.by_value = a.diff * tl_pow10(max_decimals_ - f->decimals);
        rows.push_back(a);
      }
    }
    switch (form_) {
      case tl_audit_form::csv:
        o_.put("record_key,start,field,old_records,new_records,old_sum,new_sum,difference\r\n");
        for (const row& w : rows) csv(w);
        break;
      case tl_audit_form::json:
        for (const row& w : rows) json(w);
        break;
      case tl_audit_form::html:
        html(rows);
        break;
      default:
        text(rows);
    }
    return o_.flush();
  }

 private:
  // The rows of one kind (layouts or amounts), largest absolute
  // differences first, catalogue order among equals.
  static std::vector<const row*> ranked(const std::vector<row>& rows, bool amounts) {
    std::vector<const row*> out;
    for (const row& w : rows) {
      if ((w.field != nullptr) == amounts) out.push_back(&w);
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const row* a, const row* b) { return magnitude(a->by_value) > magnitude(b->by_value); });
    return out;
  }

  void csv(const row& w) {
    const bdt_key& key = bdt_key_of(w.rindex);
    o_.put(key.text, key.n);
    o_.put(',');
    if (w.field != nullptr) {
      o_.num(static_cast<unsigned>(w.field->start));
      o_.put(',');
      o_.csv(w.field->name, std::strlen(w.field->name));
    } else {
      o_.put(',');
    }
    o_.put(',');
    o_.num(w.records[0]);
    o_.put(',');
    o_.num(w.records[1]);
    o_.put(',');
    if (w.field != nullptr) {
      o_.decimal(w.sums[0], w.field->decimals);
      o_.put(',');
      o_.decimal(w.sums[1], w.field->decimals);
      o_.put(',');
      o_.decimal(w.diff, w.field->decimals);
    } else {
      o_.put(",,");
      o_.decimal(w.diff, 0);
    }
    o_.put("\r\n");
  }

  void json(const row& w) {
    const bdt_key& key = bdt_key_of(w.rindex);
    o_.put("{\"record_key\":\"");
    o_.put(key.text, key.n);
    o_.put("\",\"start\":");
    if (w.field != nullptr) {
      o_.num(static_cast<unsigned>(w.field->start));
      o_.put(",\"field\":\"");
      o_.json(w.field->name, std::strlen(w.field->name));
      o_.put('"');
    } else {
      o_.put("null,\"field\":null");
    }
    o_.put(",\"old_records\":");
    o_.num(w.records[0]);
    o_.put(",\"new_records\":");
    o_.num(w.records[1]);
    const int dec = w.field != nullptr ? w.field->decimals : 0;
    if (w.field != nullptr) {
      o_.put(",\"old_sum\":");
      o_.decimal(w.sums[0], dec);
      o_.put(",\"new_sum\":");
      o_.decimal(w.sums[1], dec);
    } else {
      o_.put(",\"old_sum\":null,\"new_sum\":null");
    }
    o_.put(",\"difference\":");
    o_.decimal(w.diff, dec);
    o_.put("}\n");
  }

  // The cells of a row as the table and the page show them.
  struct cells {
    std::string key, start, field, old_value, new_value, diff, change;
  };
  static cells cells_of(const row& w) {
    cells c;
    c.key = bdt_key_of(w.rindex).text;
    if (w.field != nullptr) {
      const int dec = w.field->decimals;
      c.start = std::to_string(w.field->start);
      c.field = w.field->name;
      c.old_value = tl_decimal_text(w.sums[0], dec);
      c.new_value = tl_decimal_text(w.sums[1], dec);
      c.diff = tl_decimal_text(w.diff, dec);
      c.change = percent(w.sums[0], w.diff);
    } else {
      c.old_value = tl_decimal_text(w.records[0], 0);
      c.new_value = tl_decimal_text(w.records[1], 0);
      c.diff = tl_decimal_text(w.diff, 0);
      c.change = percent(w.records[0], w.diff);
    }
    if (w.diff > 0) c.diff.insert(0, "+");
    return c;
  }

  void text(const std::vector<row>& rows) {
    o_.put("OLD ");
    o_.printable(names_[0].data(), names_[0].size());
    o_.put("\nNEW ");
    o_.printable(names_[1].data(), names_[1].size());
    o_.put("\n");
    for (int amounts = 0; amounts < 2; amounts++) {
      const std::vector<const row*> order = ranked(rows, amounts == 1);
      std::vector<cells> table;
      table.push_back(amounts == 1 ? cells{"record_key", "start", "field", "old_sum", "new_sum", "difference", "change"}
                                   : cells{"record_key", "", "", "old_records", "new_records", "difference", "change"});
      for (const row* w : order) table.push_back(cells_of(*w));
      size_t wd[7] = {};
      for (const cells& c : table) {
        const std::string* v[7] = {&c.key, &c.start, &c.field, &c.old_value, &c.new_value, &c.diff, &c.change};
        for (int k = 0; k < 7; k++) wd[k] = std::max(wd[k], v[k]->size());
      }
      o_.put(amounts == 1 ? "\nAmounts, largest differences first\n" : "\nRecords per layout, largest differences first\n");
      for (const cells& c : table) {
        std::string line = c.key;
        line.append(wd[0] - c.key.size(), ' ');
        if (amounts == 1) {
          line += "  ";
          line.append(wd[1] - c.start.size(), ' ');
          line += c.start + "  " + c.field;
          line.append(wd[2] - c.field.size(), ' ');
        }
        const std::string* right[4] = {&c.old_value, &c.new_value, &c.diff, &c.change};
        for (int k = 0; k < 4; k++) {
          line += "  ";
          line.append(wd[3 + k] - right[k]->size(), ' ');
          line += *right[k];
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        o_.printable(line.data(), line.size());
        o_.put('\n');
      }
    }
  }

  void html_text(const std::string& s) {
    // Names may hold any byte: made printable first, so the page stays UTF-8.
    tl_audit_out p;
    p.printable(s.data(), s.size());
    o_.html(p.text().data(), p.text().size());
  }

  void html(const std::vector<row>& rows) {
    o_.put("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>tapelens: ");
    html_text(names_[0]);
    o_.put(" compared with ");
    html_text(names_[1]);
    o_.put(
        "</title>\n<style>\nbody{font-family:sans-serif;margin:1.5em}\ntable{border-collapse:collapse;margin-bottom:2em}\n"
        "th,td{border:1px solid #bbb;padding:2px 8px}\ntd.n{text-align:right;font-family:monospace}\n"
        "tr.up td.d{color:#1a6b1a}\ntr.down td.d{color:#a31515}\n</style>\n</head>\n<body>\n<h1>");
    html_text(names_[0]);
    o_.put(" compared with ");
    html_text(names_[1]);
    o_.put("</h1>\n<p>OLD: ");
    html_text(names_[0]);
    o_.put("<br>\nNEW: ");
    html_text(names_[1]);
    o_.put("</p>\n");
    chart(ranked(rows, true));
    for (int amounts = 1; amounts >= 0; amounts--) {
      o_.put(amounts == 1 ? "<h2>Amounts, largest differences first</h2>\n<table id=\"amounts\">\n"
                            "<tr><th>record_key</th><th>start</th><th>field</th><th>old_sum</th><th>new_sum</th>"
                            "<th>difference</th><th>change</th></tr>\n"
                          : "<h2>Records per layout, largest differences first</h2>\n<table id=\"records\">\n"
                            "<tr><th>record_key</th><th>old_records</th><th>new_records</th><th>difference</th>"
                            "<th>change</th></tr>\n");
      for (const row* w : ranked(rows, amounts == 1)) {
        const cells c = cells_of(*w);
        o_.put(w->diff > 0 ? "<tr class=\"up\"><td>" : w->diff < 0 ? "<tr class=\"down\"><td>" : "<tr><td>");
        html_text(c.key);
        if (amounts == 1) {
          o_.put("</td><td class=\"n\">");
          html_text(c.start);
          o_.put("</td><td>");
          html_text(c.field);
        }
        const std::string* right[4] = {&c.old_value, &c.new_value, &c.diff, &c.change};
        for (int k = 0; k < 4; k++) {
          o_.put(k == 2 ? "</td><td class=\"n d\">" : "</td><td class=\"n\">");
          html_text(*right[k]);
        }
        o_.put("</td></tr>\n");
      }
      o_.put("</table>\n");
    }
    o_.put("</body>\n</html>\n");
  }

  // A bar per amount of the largest differences, its length in proportion
  // to the largest; growth to the right in green, decline to the left in red.
  void chart(const std::vector<const row*>& order) {
    std::vector<const row*> bars;
    for (const row* w : order) {
      if (w->diff != 0 && bars.size() < kChartBars) bars.push_back(w);
    }
    o_.put("<h2>Largest differences</h2>\n");
    if (bars.empty()) {
      o_.put("<p>No amount differs.</p>\n");
      return;
    }
    const int label_w = 420, half = 220, bar_h = 22, gap = 6, top = 10;
    const int width = label_w + 2 * half + 20;
    const int height = top + static_cast<int>(bars.size()) * (bar_h + gap) + 10;
    const long double largest = static_cast<long double>(magnitude(bars.front()->by_value));
    const int axis = label_w + half;
    o_.put("<svg id=\"chart\" xmlns=\"http://www.w3.org/2000/svg\" role=\"img\" width=\"");
    o_.num(static_cast<unsigned>(width));
    o_.put("\" height=\"");
    o_.num(static_cast<unsigned>(height));
    o_.put("\" font-family=\"sans-serif\" font-size=\"12\">\n<title>The largest differences of the amounts, NEW minus OLD</title>\n");
    int y = top;
    for (const row* w : bars) {
      const cells c = cells_of(*w);
      // Geometry only: the exact values are in the text beside each bar.
      int len = static_cast<int>(static_cast<long double>(magnitude(w->by_value)) / largest * (half - 90));
      if (len < 1) len = 1;
      const bool up = w->diff > 0;
      const int x = up ? axis : axis - len;
      o_.put("<text x=\"");
      o_.num(static_cast<unsigned>(label_w - 6));
      o_.put("\" y=\"");
      o_.num(static_cast<unsigned>(y + 15));
      o_.put("\" text-anchor=\"end\">");
      html_text(c.key + " " + c.field);
      o_.put("</text>\n<rect x=\"");
      o_.num(static_cast<unsigned>(x));
      o_.put("\" y=\"");
      o_.num(static_cast<unsigned>(y));
      o_.put("\" width=\"");
      o_.num(static_cast<unsigned>(len));
      o_.put("\" height=\"");
      o_.num(static_cast<unsigned>(bar_h));
      o_.put(up ? "\" fill=\"#2e8b2e\"/>\n" : "\" fill=\"#c0392b\"/>\n");
      o_.put("<text x=\"");
      o_.num(static_cast<unsigned>(up ? x + len + 4 : x - 4));
      o_.put("\" y=\"");
      o_.num(static_cast<unsigned>(y + 15));
      o_.put(up ? "\">" : "\" text-anchor=\"end\">");
      html_text(c.diff);
      o_.put("</text>\n");
      y += bar_h + gap;
    }
    o_.put("<line x1=\"");
    o_.num(static_cast<unsigned>(axis));
    o_.put("\" y1=\"0\" x2=\"");
    o_.num(static_cast<unsigned>(axis));
    o_.put("\" y2=\"");
    o_.num(static_cast<unsigned>(height));
    o_.put("\" stroke=\"#333\"/>\n</svg>\n");
  }

  const tl_audit_form form_;
  const tl_amount_plan plan_;
  tl_audit_out o_;
  int side_;  // 0 for OLD, 1 for NEW; a worker's is 0
  std::string names_[2];
  std::vector<unsigned long long> records_[2];
  std::vector<__int128> sums_[2];
  int max_decimals_ = 0;
};

}  // namespace

std::unique_ptr<tl_audit_sink> tl_compare_sink(tl_audit_form form) { return std::make_unique<compare_sink>(form, false); }

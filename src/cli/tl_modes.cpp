// The table of modes.
#include "tl_modes.h"

#include "tl_format_sink.h"
#include "tl_json_writer.h"
#include "tl_pg_writer.h"
#include "tl_split_writer.h"
#include "tl_sqlite_writer.h"
#include "tl_summary.h"
#include "tl_xlsx_writer.h"

namespace {

using request = tl_mode_request;

struct tl_mode {
  tl_mode_id id;
  std::unique_ptr<tl_sink> (*open)(const request& r);
};

// Null as a stream: the run's output stream, opened after the sinks.
const tl_mode kModes[] = {
    {tl_mode_id::format, [](const request&) { return tl_open_format_sink(nullptr, tl_format_chosen()); }},
    {tl_mode_id::summary, [](const request&) { return tl_open_summary_sink(nullptr); }},
    {tl_mode_id::json, [](const request&) { return std::unique_ptr<tl_sink>(new tl_json_writer(nullptr)); }},
    {tl_mode_id::sqlite, [](const request& r) { return tl_open_sqlite_writer(r.arg); }},
    {tl_mode_id::postgres, [](const request& r) { return tl_open_pg_writer(r.arg); }},
    {tl_mode_id::split, [](const request& r) { return tl_open_split_writer(r.arg); }},
    {tl_mode_id::xlsx, [](const request& r) { return tl_open_xlsx_writer(r.arg); }},
    {tl_mode_id::check, [](const request& r) -> std::unique_ptr<tl_sink> { return tl_check_sink(r.form); }},
    {tl_mode_id::totals,
     [](const request& r) -> std::unique_ptr<tl_sink> { return tl_totals_sink(r.form, r.arg != nullptr); }},
    {tl_mode_id::balance, [](const request& r) -> std::unique_ptr<tl_sink> { return tl_balance_sink(r.form, r.arg); }},
    {tl_mode_id::compare, [](const request& r) -> std::unique_ptr<tl_sink> { return tl_compare_sink(r.form); }},
};

}  // namespace

std::unique_ptr<tl_sink> tl_open_mode(tl_mode_id id, const tl_mode_request& r) {
  for (const tl_mode& m : kModes) {
    if (m.id == id) return m.open(r);
  }
  return nullptr;
}

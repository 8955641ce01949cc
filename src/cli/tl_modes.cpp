// The table of modes.
#include "tl_modes.h"

#include "tl_format_sink.h"
#include "tl_globals.h"
#include "tl_json_writer.h"
#include "tl_pg_writer.h"
#include "tl_split_writer.h"
#include "tl_sqlite_writer.h"
#include "tl_summary.h"

namespace {

struct tl_mode {
  tl_mode_id id;
  const char* name;
  std::unique_ptr<tl_sink> (*open)(const char* arg);
};

const tl_mode kModes[] = {
    {tl_mode_id::format, "-t", [](const char*) { return tl_open_format_sink(outfile, tl_format_chosen()); }},
    {tl_mode_id::summary, "-s", [](const char*) { return tl_open_summary_sink(outfile); }},
    {tl_mode_id::json, "--json", [](const char*) { return std::unique_ptr<tl_sink>(new tl_json_writer(outfile)); }},
    {tl_mode_id::sqlite, "--sqlite", tl_open_sqlite_writer},
    {tl_mode_id::postgres, "--postgres", tl_open_pg_writer},
    {tl_mode_id::split, "--split", tl_open_split_writer},
};

const tl_mode& mode(tl_mode_id id) {
  for (const tl_mode& m : kModes) {
    if (m.id == id) return m;
  }
  return kModes[0];
}

}  // namespace

const char* tl_mode_name(tl_mode_id id) { return mode(id).name; }

std::unique_ptr<tl_sink> tl_open_mode(tl_mode_id id, const char* arg) { return mode(id).open(arg); }

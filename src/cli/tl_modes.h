// The outputs a run can make, one line each in the table of modes: a new
// output is a sink of its own and one line here.
#pragma once

#include <memory>

#include "tl_audit.h"
#include "tl_sink.h"

// The modes, in the order of the table.
enum class tl_mode_id { format, summary, json, sqlite, postgres, split, xlsx, check, totals, balance, compare };

// What the options said to a mode: the value of its option (null for none)
// and, for the audit modes, the form chosen with -t, -c, -w or --json.
struct tl_mode_request {
  const char* arg = nullptr;
  tl_audit_form form = tl_audit_form::text;
};

// Opens the sink of the mode for the run, writing to the run's output
// stream where it writes one. Returns null, with a message printed, when it
// cannot be opened (a database that cannot be reached, a faulty rules file).
std::unique_ptr<tl_sink> tl_open_mode(tl_mode_id id, const tl_mode_request& request);

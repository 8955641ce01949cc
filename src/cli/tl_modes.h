// The outputs a run can make, one line each in the table of modes: a new
// output is a sink of its own and one line here.
#pragma once

#include <memory>

#include "tl_sink.h"

// The modes, in the order of the table.
enum class tl_mode_id { format, summary, json, sqlite, postgres, split };

// Returns the option that names the mode in messages ("--sqlite", "-s").
const char* tl_mode_name(tl_mode_id id);

// Opens the sink of the mode for the run, writing to the output stream of
// the settings where it writes one; arg is the option's value (null for
// none). Returns null, with a message printed, when it cannot be opened.
std::unique_ptr<tl_sink> tl_open_mode(tl_mode_id id, const char* arg);

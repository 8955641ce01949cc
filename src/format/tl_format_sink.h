// The six output formats as sinks: each writes its document frame around
// the records of every input, keeping the format's state in the instance.
#pragma once

#include <cstdio>
#include <memory>

#include "tl_formatters.h"
#include "tl_sink.h"

// The output formats.
enum class tl_format { text, csv, db, html, xml, anon };

// Returns the format the settings choose (output_format, database_flag).
tl_format tl_format_chosen();

// Returns a sink that writes the documents of format f to out (null: the
// run's output stream, as it stands when written). The database
// layout's state lasts the whole run: in *db when given (it then outlives
// the sink), else in the sink.
std::unique_ptr<tl_sink> tl_open_format_sink(FILE* out, tl_format f, tl_db_state* db = nullptr);

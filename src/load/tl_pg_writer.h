// The PostgreSQL target of --postgres=CONNINFO: one table per layout, rows
// through COPY, one transaction per document.
#pragma once

#include <memory>

#include "tl_sink.h"

// Connects with the libpq connection string or URI conninfo (empty: libpq's
// defaults and the PG* variables) and makes the metadata tables. Returns
// the writer, or null with a message on standard error when the server
// cannot be reached or the tables cannot be made.
std::unique_ptr<tl_sink> tl_open_pg_writer(const char* conninfo);

// The SQLite target of --sqlite=DB: one table per layout, one transaction
// per document.
#pragma once

#include <memory>
#include <string>

#include "tl_sink.h"

// Opens (creating when missing) the SQLite database file path and makes its
// metadata tables. Returns the writer, or null with a message on standard
// error when path is no SQLite database (left as it was), cannot be opened
// or cannot be written.
std::unique_ptr<tl_sink> tl_open_sqlite_writer(const char* path);

// Returns the SQL expression that shows the INTEGER column col, holding
// units of 10^-decimals, as an exact decimal text ("-12.34").
std::string tl_sqlite_decimal_expr(const std::string& col, int decimals);

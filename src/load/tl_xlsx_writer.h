// The workbook target of --xlsx=FILE: one .xlsx file for every input of the
// run, written with libxlsxwriter in its constant-memory mode.
#pragma once

#include <memory>

#include "tl_sink.h"

// Rows a worksheet holds, the header row included.
constexpr unsigned long kTlSheetRows = 1048576;

// Returns the writer of the workbook path, or null with a message on
// standard error when path cannot be written (a folder, a missing folder).
// The workbook replaces path only when the whole run went well. A layout
// sheet holds at most rows_per_sheet rows (header included) and continues
// on "NAME (2)", "NAME (3)", ...; tests lower it to make continued sheets
// from small inputs.
std::unique_ptr<tl_sink> tl_open_xlsx_writer(const char* path, unsigned long rows_per_sheet = kTlSheetRows);

// The summary report: version fields and record counts of one file.
#pragma once

#include <cstdio>
#include <memory>

#include "tl_sink.h"

// Writes the summary of one BDT file to outfile (HTML with output_format 2,
// else text). Returns 0.
int tl_summary(const char* psFileName, FILE* outfile);
// Writes the BOS version lines of a 100101.00 record. Returns 0.
int iPrintVersion(FILE* outfile, const char* pucData, int rindex);
// Writes the head and the foot of the HTML summary page. Return 0.
int print_HTML_header(FILE* outfile, const char* customer, const char* filename);
int print_HTML_trailer(FILE* outfile);

// Returns a sink that writes the summary of every document to out (null:
// the run's output stream, as it stands when written).
std::unique_ptr<tl_sink> tl_open_summary_sink(FILE* out);

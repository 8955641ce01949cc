// Process-wide settings of tapelens. Written only at start-up (options and
// init_globals); every other unit reads them directly.
#pragma once

#include <csignal>
#include <cstdio>

// Program identity: the name used in messages and the version text.
#define TL_COMMAND_NAME "tapelens"
#define TL_PRODUCT_NAME "Tapelens"
#define TL_VERSION "1.7.46.0"
// The program's notice line and the maker's web site.
#define TL_NOTICE "Copyright (C) 2026 the tapelens developers"
#define TL_WEBSITE "https://tapelens.example.org/"
// Name shown in the HTML page title, heading and custom-header line.
#define TL_CUSTOMER "CABS BOS BDT"

// Exit statuses of the process, in one place.
enum tl_exit_status {
  TL_EXIT_OK = 0,
  TL_EXIT_FAILURE = 1,       // usage error, or an input or the output failed
  TL_EXIT_FINDINGS = 3,      // an audit mode found faults or differences (1 wins over it)
  TL_EXIT_SIGINT = 130,      // stopped by SIGINT after the record in hand
  TL_EXIT_SIGTERM = 143,     // stopped by SIGTERM after the record in hand
};

// Switches and codes set by the options (see the option table in tapelens.cpp).
extern int output_format;        // 0 text, 1 CSV (or database), 2 HTML, 3 XML, 9 anon CSV
extern int database_flag;        // with output_format 1: database-load layout
extern int print_header;
extern int print_trailer;
extern int bodyonly_flag;
extern int print_common;
extern int print_recno;
extern int print_raw;
extern int print_types;
extern int print_summary;
extern int print_summarydetail;
extern int debug_flag;
extern int display_bill;
extern int display_detail;
extern int display_csr;
extern int bill_date_flag;
extern int billing_number_flag;
extern int uppercase_flag;

extern char outFileName[1025];
extern char logFileName[1025];
extern char debugFileName[1025];
extern char logPath[1025];
extern char program[64];
extern const char* program_name;
extern int mypid;

// The signal that asked the run to stop (SIGINT or SIGTERM), 0 while none has.
// Record loops and the file loop stop after the record in hand when it is set.
extern volatile std::sig_atomic_t tl_shutdown;

// The output stream of the run: standard output or the file named with -o.
extern FILE* outfile;

// Number of file arguments that could not be converted or summarised
// (missing, unopenable, read error); any makes the exit status 1.
extern int tl_input_failures;

// Set when a write to the output stream failed; the run stops and exits 1.
extern int tl_output_failed;

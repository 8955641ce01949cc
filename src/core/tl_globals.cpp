// Definitions of the process-wide settings. Their run-time defaults are set
// by main and init_globals, not here, so a run never depends on static
// initial values beyond the zeroes below.
#include "tl_globals.h"

int output_format;
int database_flag;
int print_header;
int print_trailer;
int bodyonly_flag;
int print_common;
int print_recno;
int print_raw;
int print_types;
int print_summary;
int print_summarydetail;
int debug_flag;
int display_bill;
int display_detail;
int display_csr;
int bill_date_flag;
int billing_number_flag;
int uppercase_flag;

char outFileName[1025];
char logFileName[1025];
char debugFileName[1025];
char logPath[1025];
char program[64];
const char* program_name;
int mypid;

volatile std::sig_atomic_t tl_shutdown = 0;

FILE* outfile = nullptr;

int tl_input_failures = 0;
int tl_output_failed = 0;

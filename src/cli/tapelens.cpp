// Entry and options of tapelens.
#include "tapelens.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "tl_audit.h"
#include "tl_core.h"
#include "tl_globals.h"
#include "tl_input.h"
#include "tl_layouts.h"
#include "tl_logging.h"
#include "tl_modes.h"
#include "tl_mrot.h"
#include "tl_names_file.h"
#include "tl_sink.h"

namespace {

// Values of the long-only options, beyond every letter.
enum {
  kOptSqlite = 0x100,
  kOptPostgres,
  kOptSplit,
  kOptNames,
  kOptNamesTemplate,
  kOptJson,
  kOptLayouts,
  kOptLrecl,
  kOptEbcdic,
  kOptProgress,
  kOptJobs,
  kOptBlock,
  kOptCheck,
  kOptTotals,
  kOptBalance,
  kOptCompare,
  kOptXlsx,
};

const struct option longopts[] = {
    {"anon", no_argument, nullptr, 'a'},
    {"bodyonly", no_argument, nullptr, 'b'},
    {"bill_date", no_argument, nullptr, 'B'},
    {"csv", no_argument, nullptr, 'c'},
    {"common", no_argument, nullptr, 'C'},
    {"debug", no_argument, nullptr, 'd'},
    {"database", no_argument, nullptr, 'D'},
    {"help", no_argument, nullptr, 'h'},
    {"recno", no_argument, nullptr, 'n'},
    {"billing_number", no_argument, nullptr, 'N'},
    {"output", required_argument, nullptr, 'o'},
    {"noheader", no_argument, nullptr, 'q'},
    {"raw", no_argument, nullptr, 'r'},
    {"summary", no_argument, nullptr, 's'},
    {"summarydetail", no_argument, nullptr, 'S'},
    {"text", no_argument, nullptr, 't'},
    {"types", no_argument, nullptr, 'T'},
    {"version", no_argument, nullptr, 'v'},
    {"html", no_argument, nullptr, 'w'},
    {"xml", no_argument, nullptr, 'x'},
    {"billrecords", no_argument, nullptr, '1'},
    {"detailrecords", no_argument, nullptr, '3'},
    {"csrrecords", no_argument, nullptr, '4'},
    // Database load (tl_load_mode below).
    {"sqlite", required_argument, nullptr, kOptSqlite},
    {"postgres", required_argument, nullptr, kOptPostgres},
    {"split", required_argument, nullptr, kOptSplit},
    {"xlsx", required_argument, nullptr, kOptXlsx},
    // Long-only options of run-time names, JSON Lines and the record-key filter.
    {"names", required_argument, nullptr, kOptNames},
    {"names-template", no_argument, nullptr, kOptNamesTemplate},
    {"json", no_argument, nullptr, kOptJson},
    {"layouts", required_argument, nullptr, kOptLayouts},
    // Input options: long names only, values beyond every letter.
    {"lrecl", required_argument, nullptr, kOptLrecl},
    {"ebcdic", optional_argument, nullptr, kOptEbcdic},
    {"progress", required_argument, nullptr, kOptProgress},
    // How a conversion uses the cores.
    {"jobs", required_argument, nullptr, kOptJobs},
    {"block", required_argument, nullptr, kOptBlock},
    // The audit modes (src/audit).
    {"check", no_argument, nullptr, kOptCheck},
    {"totals", optional_argument, nullptr, kOptTotals},
    {"balance", required_argument, nullptr, kOptBalance},
    {"compare", no_argument, nullptr, kOptCompare},
    // --co and --com named --common alone before --compare came: exact
    // entries keep them so (the completion does not offer them).
    {"co", no_argument, nullptr, 'C'},   // kept abbreviation
    {"com", no_argument, nullptr, 'C'},  // kept abbreviation
    {nullptr, 0, nullptr, 0},
};

const char kShortOpts[] = "abBcCdDhnNo:OqrsStTuvwx134";

const char kStandard[] =
    "\tSpecial Report SR-1872 CABS (Carrier Access Billing System) \n"
    "\tBilling Outputs Specifications - Volume 3 \n"
    "\tBilling Data Tape, Feb 2006 ";

const char kHelp[] =
    "Processes one of more FILES in Carrier Access Billing System (CABS) \n"
    "BOS BDT format and writes them out in a usable format (text by default).\n"
    "\n"
    "  -b, --bodyonly          display only the BODY in HTML format\n"
    "  -B, --bill_date         display the Bill Date for each record\n"
    "  -c, --csv               set output format to CSV (comma-delimited) format\n"
    "  -C, --common            print common block for each BDT record\n"
    "  -d, --debug             display DEBUG messages\n"
    "  -D, --database          display CSV in dabase format\n"
    "  -h, --help              display this message\n"
    "  -n, --recno             display BDT record numbers\n"
    "  -N, --billing_number    display the Billing Number for each record\n"
    "  -o FILE, --output=FILE  send output to FILE\n"
    "  -q  --noheader          turn off default header\n"
    "  -r, --raw               display raw BDT records\n"
    "  -s, --summary           print a BDT summary report\n"
    "  -S, --summarydetail     print a BDT summary report with detail record counts\n"
    "  -t, --text              set output format to ASCII text (default)\n"
    "  -T, --types             display BDT Record type descriptors\n"
    "  -v, --version           print the version information\n"
    "  -w, --html              set output format to HTML (webpage)\n"
    "  -x, --xml               set output format to XML\n"
    "  -1, --billrecords       display only Bill (10-XX-XX) Records\n"
    "  -3, --detailrecords     display only Supplemental Detail (30-XX-XX) Records\n"
    "  -4, --csrrecords        display only CSR (40-XX-XX) Records\n";

// The options the lines above leave out, one line each in their style, so
// that --help shows everything the program does (the manual page has the
// details). Printed right after kHelp.
const char* const kHelpMore[] = {
    "  -a, --anon              set output format to CSV record lines alone",
    "      --json              set output format to JSON Lines (one object per record)",
    "      --sqlite=DB         load the records into the SQLite database file DB",
    "      --postgres=CONN     load the records into PostgreSQL (libpq CONN string)",
    "      --split=DIR         write one CSV file per layout into the folder DIR",
    "      --xlsx=FILE         write one spreadsheet workbook (.xlsx) to FILE",
    "      --layouts=KEYS      only the records of these record keys (comma-separated)",
    "      --names=FILE        use the display names of the names file FILE",
    "      --names-template    write the current names as a names file",
    "      --lrecl=N           read fixed-length records of N bytes",
    "      --ebcdic[=PAGE]     decode EBCDIC input (code page PAGE, IBM037 by default)",
    "      --progress=WHEN     show a progress line: auto, always or never",
    "      --jobs=N            convert on N threads (0, the default: one per core)",
    "      --block=BYTES       cut inputs into blocks of BYTES for the threads",
    "      --check             report every fault of each file (exit status 3 if any)",
    "      --totals[=bill]     total every amount field per file (or per bill)",
    "      --balance=RULES     compare totals with their details as RULES says",
    "      --compare           compare two cycles: OLD NEW, counts and sums",
};

// Items 5 and 6 of the help: the supported standard and the web site.
void print_supports() {
  printf("\nThis program version supports\n%s\n", kStandard);
  printf("\nFor more information visit <%s>.\n", TL_WEBSITE);
}

void debug_msg(const char* msg) {
  if (debug_flag == 1) fputs(msg, stderr);
}

// The -o names of the command line, in order. Opening them waits until the
// whole command line is read, so that an output naming an input is refused
// before anything is truncated.
std::vector<const char*> output_names;

// Takes note of a -o file. Returns false for a name too long to hold.
bool note_output(const char* name) {
  if (debug_flag == 1) fprintf(stderr, "DEBUG: output to %s\n", name);
  if (std::strlen(name) >= sizeof outFileName) {
    fprintf(stderr, "ERROR: output file name is longer than %zu characters\n", sizeof outFileName - 1);
    return false;
  }
  output_names.push_back(name);
  return true;
}

// Settings of --names, --names-template, --json and --layouts.
const char* names_file = nullptr;
bool names_template = false;
bool json_mode = false;
// An output format is chosen by an option (for --json, which is a mode of
// its own): output_format holds this until the options are read.
constexpr int kFormatUnset = -1;

// Takes one of the options above. Returns false for a usage error
// (diagnosed).
bool take_added_option(int c, const char* arg) {
  switch (c) {
    case kOptNames:
      names_file = arg;
      return true;
    case kOptNamesTemplate:
      names_template = true;
      return true;
    case kOptJson:
      json_mode = true;
      return true;
    case kOptLayouts: {
      std::string bad;
      if (tl_layouts_select(arg, bad)) return true;
      if (bad.empty()) fputs("ERROR: --layouts: an empty entry\n", stderr);
      else fprintf(stderr, "ERROR: --layouts: no record key matches \"%s\"\n", bad.c_str());
      return false;
    }
    default:
      return false;
  }
}

// Checks the combinations once every option is read. Returns false for a
// usage error (diagnosed).
bool added_options_fit(bool format_chosen, int files) {
  if (json_mode && (format_chosen || print_summary == 1)) {
    fputs("ERROR: --json is an output format of its own and takes no other\n", stderr);
    return false;
  }
  if (names_template && files > 0) {
    fputs("ERROR: --names-template writes the names template and takes no FILE\n", stderr);
    return false;
  }
  return true;
}

// Returns the first input argument that is the same file (device and inode)
// as an existing -o file, else nullptr.
const char* output_among_inputs(char* const* inputs, int count) {
  for (const char* name : output_names) {
    struct stat out_st;
    if (stat(name, &out_st) != 0) continue;
    for (int i = 0; i < count; i++) {
      struct stat in_st;
      int r = std::strcmp(inputs[i], "-") == 0 ? fstat(STDIN_FILENO, &in_st) : stat(inputs[i], &in_st);
      if (r == 0 && in_st.st_dev == out_st.st_dev && in_st.st_ino == out_st.st_ino) return inputs[i];
    }
  }
  return nullptr;
}

// Opens the -o files in order as the output stream, each falling back to
// standard output; an earlier one is created and given up for the next.
void open_outputs() {
  for (const char* name : output_names) {
    // An earlier -o file is given up for this one: close it, or every -o
    // would hold a descriptor until the process ends.
    if (outfile != nullptr && outfile != stdout) fclose(outfile);
    outfile = stdout;
    std::strcpy(outFileName, name);
    FILE* f = fopen(outFileName, "w");
    if (f == nullptr) {
      fprintf(stderr, "ERROR: Cannot create/open the output file [%s] - using stdout as default\n", outFileName);
      outfile = stdout;
    } else {
      outfile = f;
    }
  }
  output_names.clear();
}

// Sets an input option (--lrecl, --ebcdic, --progress). Returns false, with a
// message, for a value it does not take.
bool input_option(int c, const char* arg) {
  switch (c) {
    case kOptLrecl: {
      char* end = nullptr;
      errno = 0;
      long n = std::strtol(arg, &end, 10);
      if (errno != 0 || end == arg || *end != '\0' || n < 1 || n > 4096) {
        fprintf(stderr, "%s: invalid record length '%s' for '--lrecl' (1 to 4096)\n", program_name, arg);
        return false;
      }
      tl_input_opts.lrecl = static_cast<int>(n);
      return true;
    }
    case kOptEbcdic:
      if ((arg != nullptr && *arg == '\0') || !tl_input_set_codepage(arg)) {
        fprintf(stderr, "%s: unknown EBCDIC code page '%s' for '--ebcdic'\n", program_name, arg);
        return false;
      }
      tl_input_opts.ebcdic = true;
      return true;
    default:
      if (!tl_progress_parse(arg, &tl_input_opts.progress)) {
        fprintf(stderr, "%s: invalid argument '%s' for '--progress' (auto, always or never)\n", program_name, arg);
        return false;
      }
      return true;
  }
}

// Reads a whole decimal number from lo to hi. Returns false for anything else.
bool whole_number(const char* arg, long lo, long hi, long* out) {
  char* end = nullptr;
  errno = 0;
  long n = std::strtol(arg, &end, 10);
  if (errno != 0 || end == arg || *end != '\0' || n < lo || n > hi) return false;
  *out = n;
  return true;
}

// Sets --jobs or --block. Returns false, with a message, for a value it
// does not take.
bool pipeline_option(int c, const char* arg) {
  long n = 0;
  if (c == kOptJobs) {
    if (!whole_number(arg, 0, 256, &n)) {
      fprintf(stderr, "%s: invalid number of jobs '%s' for '--jobs' (0 to 256; 0: one per core)\n", program_name, arg);
      return false;
    }
    tl_pipeline_opts.jobs = n == 0 ? tl_cores() : static_cast<int>(n);
    return true;
  }
  if (!whole_number(arg, 256, 1L << 26, &n)) {
    fprintf(stderr, "%s: invalid block size '%s' for '--block' (256 to 67108864 bytes)\n", program_name, arg);
    return false;
  }
  tl_pipeline_opts.block = static_cast<size_t>(n);
  return true;
}

// Reports a failed write or close of the output stream.
void report_output_failure(int err) {
  fprintf(stderr, "ERROR: Unable to write output to %s: %s\n",
          outfile == stdout ? "standard output" : outFileName, strerror(err));
}

// Database load: --sqlite, --postgres and --split, and the workbook of
// --xlsx, each a mode of its own that no output format option goes with.
bool tl_load_chosen = false;
tl_mode_id tl_load_mode = tl_mode_id::format;
const char* tl_load_target = nullptr;
int tl_load_formats_seen = 0;

// The audit modes: the one chosen, its argument, how many were given, and
// the format options seen (an audit mode takes only its own forms).
enum tl_audit_kind { TL_AUDIT_NONE, TL_AUDIT_CHECK, TL_AUDIT_TOTALS, TL_AUDIT_BALANCE, TL_AUDIT_COMPARE };
tl_audit_kind audit_mode = TL_AUDIT_NONE;
const char* audit_arg = nullptr;
int audit_modes_seen = 0;
enum : unsigned { kFormText = 1, kFormCsv = 2, kFormHtml = 4, kFormJson = 8, kFormOther = 16 };
unsigned formats_seen = 0;

// Counts the options that choose an output format or mode (kOptNamesTemplate is
// --names-template, kOptJson --json).
void note_format_option(int c) {
  if (c == 'a' || c == 'c' || c == 'D' || c == 't' || c == 'w' || c == 'x' || c == 's' || c == 'S' || c == kOptNamesTemplate ||
      c == kOptJson) {
    tl_load_formats_seen++;
    formats_seen |= c == 't' ? kFormText : c == 'c' ? kFormCsv : c == 'w' ? kFormHtml : c == kOptJson ? kFormJson : kFormOther;
  }
  if (c == kOptCheck || c == kOptTotals || c == kOptBalance || c == kOptCompare) audit_modes_seen++;
}

// Takes an audit mode option. Returns false for a usage error (diagnosed).
bool take_audit_option(int c, const char* arg) {
  audit_mode = c == kOptCheck ? TL_AUDIT_CHECK : c == kOptTotals ? TL_AUDIT_TOTALS : c == kOptBalance ? TL_AUDIT_BALANCE : TL_AUDIT_COMPARE;
  audit_arg = arg;
  if (c == kOptTotals && arg != nullptr && std::strcmp(arg, "bill") != 0) {
    fprintf(stderr, "ERROR: --totals takes no value or =bill, not \"%s\"\n", arg);
    return false;
  }
  return true;
}

// Checks an audit mode against the other options. Returns false for a
// usage error (diagnosed).
bool audit_fits(int files) {
  if (audit_mode == TL_AUDIT_NONE) return true;
  static const char* const kName[] = {"", "--check", "--totals", "--balance", "--compare"};
  static const unsigned kForms[] = {0, kFormJson, kFormCsv | kFormJson, kFormJson, kFormCsv | kFormHtml | kFormJson};
  static const char* const kFormNames[] = {"", "-t or --json", "-t, -c or --json", "-t or --json", "-t, -c, -w or --json"};
  if (audit_modes_seen > 1) {
    fputs("ERROR: --check, --totals, --balance and --compare are modes of their own: one at a time\n", stderr);
    return false;
  }
  const unsigned forms = formats_seen & ~static_cast<unsigned>(kFormText);
  if (tl_load_chosen || (forms & ~kForms[audit_mode]) != 0 || (forms & (forms - 1)) != 0) {
    fprintf(stderr, "ERROR: %s is a mode of its own: it takes %s and no other format or load option\n",
            kName[audit_mode], kFormNames[audit_mode]);
    return false;
  }
  if (audit_mode == TL_AUDIT_COMPARE && files != 2) {
    fputs("ERROR: --compare takes exactly two inputs, OLD and NEW\n", stderr);
    return false;
  }
  return true;
}

// Takes one load option; returns false when it meets another mode.
bool take_load_option(int c, const char* arg) {
  if (tl_load_chosen) return false;
  tl_load_chosen = true;
  tl_load_mode = c == kOptSqlite     ? tl_mode_id::sqlite
                 : c == kOptPostgres ? tl_mode_id::postgres
                 : c == kOptXlsx     ? tl_mode_id::xlsx
                                     : tl_mode_id::split;
  tl_load_target = arg;
  return true;
}

// Returns the mode the options chose, and fills in what they said to it.
tl_mode_id chosen_mode(tl_mode_request* r) {
  r->arg = nullptr;
  if (tl_load_chosen) {
    r->arg = tl_load_target;
    return tl_load_mode;
  }
  if (audit_mode != TL_AUDIT_NONE) {
    r->arg = audit_arg;
    r->form = (formats_seen & kFormJson) ? tl_audit_form::json
              : (formats_seen & kFormCsv) ? tl_audit_form::csv
              : (formats_seen & kFormHtml) ? tl_audit_form::html
                                           : tl_audit_form::text;
    switch (audit_mode) {
      case TL_AUDIT_CHECK:
        return tl_mode_id::check;
      case TL_AUDIT_TOTALS:
        return tl_mode_id::totals;
      case TL_AUDIT_BALANCE:
        return tl_mode_id::balance;
      default:
        return tl_mode_id::compare;
    }
  }
  if (json_mode) return tl_mode_id::json;
  if (print_summary == 1) return tl_mode_id::summary;
  return tl_mode_id::format;
}

// The exit status of a run stopped by a signal, else fallback.
int stopped_status(int fallback) {
  return tl_shutdown == SIGINT ? TL_EXIT_SIGINT : tl_shutdown == SIGTERM ? TL_EXIT_SIGTERM : fallback;
}

}  // namespace

void usage(int status) {
  if (status == 0) {
    printf("%s %s\n\n", TL_COMMAND_NAME, TL_VERSION);
    fputs(TL_NOTICE, stdout);
    printf("\nUsage: %s [OPTION]... [FILE]...\n", program_name);
    fputs(kHelp, stdout);
    for (const char* line : kHelpMore) printf("%s\n", line);
    print_supports();
  } else {
    printf("Usage: %s [OPTION]... [FILE]...\n", program_name);
    fflush(stdout);
    fprintf(stderr, "Try `%s --help' for more information.\n", program_name);
  }
  exit(status);
}

void display_version(FILE* stream, const char* command_name, const char* version) {
  fprintf(stream, "%s %s\n", command_name, version);
  fprintf(stream, "\n%s\n", TL_NOTICE);
  fflush(stream);
  print_supports();
  exit(0);
}

namespace {

tl_opts_result read_options(int argc, char* argv[]) {
  program_name = argv[0];
  outfile = stdout;
  display_bill = display_detail = display_csr = 1;
  init_globals(argv);
  names_file = nullptr;
  names_template = json_mode = false;
  tl_layouts_clear();
  output_format = kFormatUnset;

  optind = 0;  // a full re-initialisation of the parser, for repeated calls
  output_names.clear();
  tl_input_reset();
  tl_pipeline_opts = tl_pipeline_settings();
  tl_pipeline_opts.jobs = tl_cores();
  int c;
  tl_load_chosen = false;
  tl_load_formats_seen = 0;
  audit_mode = TL_AUDIT_NONE;
  audit_arg = nullptr;
  audit_modes_seen = 0;
  formats_seen = 0;
  while ((c = getopt_long(argc, argv, kShortOpts, longopts, nullptr)) != -1) {
    note_format_option(c);
    switch (c) {
      case 'a':
        output_format = 9;
        debug_msg("DEBUG: anonmyzer is ON\n");
        break;
      case 'b':
        bodyonly_flag = 1;
        debug_msg("DEBUG: bodyonly is ON\n");
        break;
      case 'B':
        bill_date_flag = 1;
        debug_msg("DEBUG: bill_date is ON\n");
        break;
      case 'c':
        output_format = 1;
        debug_msg("DEBUG: output format = CSV\n");
        break;
      case 'C':
        print_common = 1;
        debug_msg("DEBUG: print common block\n");
        break;
      case 'd':
        debug_flag = 1;
        debug_msg("DEBUG: is ON\n");
        break;
      case 'D':
        output_format = 1;
        database_flag = 1;
        print_header = 0;
        print_trailer = 0;
        debug_msg("DEBUG: CSV in database format\n");
        break;
      case 'h':
        return TL_OPTS_HELP;
      case 'n':
        print_recno = 1;
        debug_msg("DEBUG: print record numbers\n");
        break;
      case 'N':
        billing_number_flag = 1;
        debug_msg("DEBUG: display billing number is ON\n");
        break;
      case 'o':
        if (!note_output(optarg)) return TL_OPTS_USAGE_ERROR;
        break;
      case 'q':
        print_header = 0;
        debug_msg("DEBUG: do not print header\n");
        break;
      case 'r':
        print_raw = 1;
        debug_msg("DEBUG: print RAW output\n");
        break;
      case 's':
        print_summary = 1;
        print_summarydetail = 0;
        debug_msg("DEBUG: print Summary output\n");
        break;
      case 'S':
        print_summary = 1;
        print_summarydetail = 1;
        debug_msg("DEBUG: print Summary Detail output\n");
        break;
      case 't':
        output_format = 0;
        debug_msg("DEBUG: output format = TEXT\n");
        break;
      case 'T':
        print_types = 1;
        debug_msg("DEBUG: print BDT Type output\n");
        break;
      case 'u':
        uppercase_flag = 1;
        debug_msg("DEBUG: UPPERCASE field names\n");
        break;
      case 'v':
        return TL_OPTS_VERSION;
      case 'w':
        output_format = 2;
        debug_msg("DEBUG: output format = HTML\n");
        break;
      case 'x':
        output_format = 3;
        debug_msg("DEBUG: output format = XML\n");
        break;
      case '1':
        display_bill = 1;
        display_detail = 0;
        display_csr = 0;
        debug_msg("DEBUG: Display BILL only is ON\n");
        break;
      case '3':
        display_detail = 1;
        display_bill = 0;
        display_csr = 0;
        debug_msg("DEBUG: Display DETAIL only is ON\n");
        break;
      case '4':
        display_csr = 1;
        display_bill = 0;
        display_detail = 0;
        debug_msg("DEBUG: Display CSR only is ON\n");
        break;
      case kOptSqlite:
      case kOptPostgres:
      case kOptSplit:
      case kOptXlsx:
        if (!take_load_option(c, optarg)) return TL_OPTS_USAGE_ERROR;
        break;
      case kOptNames:
      case kOptNamesTemplate:
      case kOptJson:
      case kOptLayouts:
        if (!take_added_option(c, optarg)) return TL_OPTS_USAGE_ERROR;
        break;
      case kOptLrecl:
      case kOptEbcdic:
      case kOptProgress:
        if (!input_option(c, optarg)) return TL_OPTS_USAGE_ERROR;
        break;
      case kOptJobs:
      case kOptBlock:
        if (!pipeline_option(c, optarg)) return TL_OPTS_USAGE_ERROR;
        break;
      case kOptCheck:
      case kOptTotals:
      case kOptBalance:
      case kOptCompare:
        if (!take_audit_option(c, optarg)) return TL_OPTS_USAGE_ERROR;
        break;
      default:  // 'O', an unknown option or a missing argument
        return TL_OPTS_USAGE_ERROR;
    }
  }
  if (tl_load_chosen && tl_load_formats_seen > 0) return TL_OPTS_USAGE_ERROR;
  if (!audit_fits(argc - optind)) return TL_OPTS_USAGE_ERROR;
  if (const char* same = output_among_inputs(argv + optind, argc - optind)) {
    fprintf(stderr, "ERROR: input file %s is also the output file\n", same);
    output_names.clear();
    return TL_OPTS_OUTPUT_IS_INPUT;
  }
  return TL_OPTS_RUN;
}

// Reads the options and checks their combinations, without opening the -o
// files yet.
tl_opts_result parse_options(int argc, char* argv[]) {
  tl_opts_result r = read_options(argc, argv);
  const bool format_chosen = output_format != kFormatUnset;
  if (!format_chosen) output_format = 0;
  if (r == TL_OPTS_RUN && !added_options_fit(format_chosen, argc - optind)) return TL_OPTS_USAGE_ERROR;
  return r;
}

}  // namespace

tl_opts_result tl_parse_options(int argc, char* argv[]) {
  tl_opts_result r = parse_options(argc, argv);
  if (r == TL_OPTS_RUN) open_outputs();
  return r;
}

int tl_main(int argc, char* argv[]) {
  switch (parse_options(argc, argv)) {
    case TL_OPTS_HELP:
      usage(0);
    case TL_OPTS_VERSION:
      display_version(stderr, TL_COMMAND_NAME, TL_VERSION);
    case TL_OPTS_USAGE_ERROR:
      usage(1);
    case TL_OPTS_OUTPUT_IS_INPUT:
      return TL_EXIT_FAILURE;
    case TL_OPTS_RUN:
      break;
  }
  iDemrotStrings();
  // Names given for the run replace the built-in ones before anything is
  // written; a faulty file stops the run with every fault listed.
  if (names_file != nullptr) {
    std::string errors;
    if (!tl_apply_names_file(names_file, errors)) {
      fputs(errors.c_str(), stderr);
      return TL_EXIT_FAILURE;
    }
  }
  // The sink of the mode is opened now: what cannot be opened (a faulty
  // rules file, a database out of reach) stops the run as a faulty names
  // file does, before anything is written.
  std::unique_ptr<tl_sink> sink;
  if (!names_template && optind < argc) {
    tl_mode_request request;
    const tl_mode_id id = chosen_mode(&request);
    sink = tl_open_mode(id, request);
    if (!sink) return stopped_status(TL_EXIT_FAILURE);
  }
  // The -o files are opened only now, so that a faulty names file leaves an
  // earlier output file as it was.
  open_outputs();
  if (names_template) {
    std::string text;
    tl_names_template(text);
    tl_write(outfile, text.data(), text.size());
    optind = argc;  // no files: on to the end of the output
  } else if (optind == argc) {
    usage(1);
  }

  tl_progress_start(tl_input_opts.progress);
  // Output to a terminal stays line-buffered so a person sees it as it comes.
  if (!isatty(fileno(outfile))) setvbuf(outfile, nullptr, _IOFBF, 1 << 18);

  int status = TL_EXIT_OK;
  if (sink) {
    status = tl_run(*sink, argv + optind, argc - optind);
    if (status == TL_EXIT_OK && sink->findings()) status = TL_EXIT_FINDINGS;
  }

  tl_progress_clear();
  if (!tl_output_failed && fflush(outfile) != 0) tl_output_failed = errno ? errno : EIO;
  if (!tl_output_failed && ferror(outfile)) tl_output_failed = EIO;
  if (outfile != stdout && fclose(outfile) != 0 && !tl_output_failed) tl_output_failed = errno ? errno : EIO;
  if (tl_output_failed) report_output_failure(tl_output_failed);

  return stopped_status(tl_output_failed || tl_input_failures > 0 ? TL_EXIT_FAILURE : status);
}

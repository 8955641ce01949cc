// The program entry: options, help and version texts, and the file loop.
#pragma once

#include <cstdio>

// What the options ask for once read.
enum tl_opts_result {
  TL_OPTS_RUN = 0,      // go on to the files (optind indexes the first)
  TL_OPTS_HELP,         // -h: print the help and exit 0
  TL_OPTS_VERSION,      // -v: print the version and exit 0
  TL_OPTS_USAGE_ERROR,  // an invalid option (already diagnosed): exit 1
  TL_OPTS_OUTPUT_IS_INPUT,  // a -o file is one of the inputs (already reported): exit 1
};

// Sets the start-up defaults and reads the options into the settings, each
// acting as it is read; stops at -h, -v or the first invalid option. The -o
// files are opened once the whole command line is read, and only when none
// of them is one of the inputs. Returns what the run must do next. Never exits.
tl_opts_result tl_parse_options(int argc, char* argv[]);

// Runs the whole program; returns the exit status.
int tl_main(int argc, char* argv[]);

// Prints the help (status 0, on standard output) or the usage error (other
// statuses) and exits with status.
[[noreturn]] void usage(int status);

// Prints the version on stream, the standard's description on standard
// output, and exits with status 0.
[[noreturn]] void display_version(FILE* stream, const char* command_name, const char* version);

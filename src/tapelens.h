// The program entry: options, help and version texts, and the file loop.
#pragma once

#include <cstdio>

// Sets the start-up defaults and reads the options into the settings; ends
// the process for -h, -v and usage errors. Leaves optind at the first file.
void tl_parse_options(int argc, char* argv[]);

// Runs the whole program; returns the exit status.
int tl_main(int argc, char* argv[]);

// Prints the help (status 0, on standard output) or the usage error (other
// statuses) and exits with status.
[[noreturn]] void usage(int status);

// Prints the version on stream, the standard's description on standard
// output, and exits with status 0.
[[noreturn]] void display_version(FILE* stream, const char* command_name, const char* version);

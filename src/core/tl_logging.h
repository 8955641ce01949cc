// Leveled logging to the console and to the log files, and the start-up
// routines of the run.
#pragma once

// Writes the message by level: -1 error, 0 information, 1 debug (see the
// level table in tl_logging.cpp); appends time-stamped entries to the logs.
void tl_log(int plevel, const char* pmsg, ...) __attribute__((format(printf, 2, 3)));

// Logs the message at level -1 with " (system error text #errno)" appended.
void tl_logerrno(const char* pmsg, ...) __attribute__((format(printf, 1, 2)));

// Writes the local time now in strftime format fmt into stamp; leaves it
// empty when the time cannot be had or does not fit.
void tl_time_stamp(const char* fmt, char (&stamp)[32]);

// Resets the settings and identity globals and installs the signal handler.
void init_globals(char* argv[]);

// Signal handler for SIGINT and SIGTERM: records the signal in tl_shutdown.
void set_sig_flags(int sig);

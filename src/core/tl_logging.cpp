// Leveled logging and the start-up routines of the run.
//
// Levels of tl_log:
//
//   level  console          log file (logFileName)   with debug_flag set
//   -----  ---------------  -----------------------  --------------------------
//     0    standard output  one entry                also standard error and one
//                                                    entry in debugFileName
//     1    nothing          nothing                  standard error and one
//                                                    entry in debugFileName
//    -1    standard error   one entry, and a second  nothing more
//                           with the system error
//                           text when errno is set
//  other   standard output  nothing                  nothing more
//
// An entry is "<stamp>:<program>(<pid>):<message>", the stamp being local
// time as "%Y%m%d %H%M%S". Every entry opens its file, appends, flushes and
// closes it again, so no log stays open and earlier runs' entries are kept.
#include "tl_logging.h"

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include <unistd.h>

#include "tl_globals.h"

void tl_time_stamp(const char* fmt, char (&stamp)[32]) {
  std::time_t now = std::time(nullptr);
  struct tm local;
  if (localtime_r(&now, &local) == nullptr || std::strftime(stamp, sizeof stamp, fmt, &local) == 0) {
    stamp[0] = '\0';
  }
}

namespace {

// Writes one entry with the message text to an open stream.
void tl_logme(FILE* pfile, const char* pmsg) {
  if (pfile == nullptr) return;
  char stamp[32];
  tl_time_stamp("%Y%m%d %H%M%S", stamp);
  std::fprintf(pfile, "%s:%s(%d):%s", stamp, program, mypid, pmsg);
  std::fflush(pfile);
}

// Appends one entry to the named file; when the file cannot be opened the
// message is dropped and a notice entry goes to standard error instead.
void tl_logfile(const char* psFile, const char* pmsg) {
  FILE* f = std::fopen(psFile, "a");
  if (f != nullptr) {
    tl_logme(f, pmsg);
    std::fclose(f);
    return;
  }
  // Built as a string so that no file name length can overrun it.
  std::string notice("Can't open ");
  notice += psFile;
  notice += ", error Log to stderr\n";
  tl_logme(stderr, notice.c_str());
}

}  // namespace

void tl_log(int plevel, const char* pmsg, ...) {
  // The error number must be the caller's, not one left by our own stdio.
  const int saved_errno = errno;

  char lstr[12288];
  va_list ap;
  va_start(ap, pmsg);
  if (std::vsnprintf(lstr, sizeof lstr, pmsg, ap) < 0) lstr[0] = '\0';
  va_end(ap);

  switch (plevel) {
    case 0:
      std::fputs(lstr, stdout);
      tl_logfile(logFileName, lstr);
      if (debug_flag) {
        std::fputs(lstr, stderr);
        tl_logfile(debugFileName, lstr);
      }
      break;
    case 1:
      if (debug_flag) {
        std::fputs(lstr, stderr);
        tl_logfile(debugFileName, lstr);
      }
      break;
    case -1:
      std::fputs(lstr, stderr);
      tl_logfile(logFileName, lstr);
      if (saved_errno != 0) {
        // Ends with a line end so that the next entry starts a line.
        std::string text(std::strerror(saved_errno));
        text += '\n';
        tl_logfile(logFileName, text.c_str());
      }
      break;
    default:
      std::fputs(lstr, stdout);
      break;
  }
  errno = saved_errno;
}

void tl_logerrno(const char* pmsg, ...) {
  const int saved_errno = errno;

  char iostr[512];
  std::snprintf(iostr, sizeof iostr, " (%s #%d)", std::strerror(saved_errno), saved_errno);

  // A long message is cut short so that the error suffix always survives.
  char lstr[1024];
  const size_t suffix_len = std::strlen(iostr);
  va_list ap;
  va_start(ap, pmsg);
  if (std::vsnprintf(lstr, sizeof lstr - suffix_len, pmsg, ap) < 0) lstr[0] = '\0';
  va_end(ap);
  std::memcpy(lstr + std::strlen(lstr), iostr, suffix_len + 1);

  errno = saved_errno;
  // Passed as an argument so that a percent sign in it is not formatted again.
  tl_log(-1, "%s", lstr);
}

void set_sig_flags(int sig) {
  if (sig == SIGINT || sig == SIGTERM) tl_shutdown = sig;
}

void init_globals(char* argv[]) {
  tl_shutdown = 0;

  const char* name = (argv != nullptr && argv[0] != nullptr) ? argv[0] : "";
  std::strncpy(program, name, sizeof program - 1);
  program[sizeof program - 1] = '\0';
  mypid = static_cast<int>(getpid());

  print_header = 1;
  print_trailer = 1;
  output_format = 0;
  print_summary = 0;
  print_raw = 0;
  print_types = 0;
  uppercase_flag = 0;
  bodyonly_flag = 0;
  print_summarydetail = 0;
  debug_flag = 0;
  print_common = 0;
  print_recno = 0;
  bill_date_flag = 0;
  billing_number_flag = 0;
  database_flag = 0;

  std::snprintf(logFileName, sizeof logFileName, "%s", "tapelens.log");
  std::snprintf(debugFileName, sizeof debugFileName, "%s", "tapelens.dbg");
  std::snprintf(logPath, sizeof logPath, "%s", "./");
  tl_input_failures = 0;
  tl_output_failed = 0;

  // SA_RESTART keeps a write to a slow pipe from failing with EINTR; with
  // SA_RESETHAND the first signal lets the run stop after the record in hand
  // and a second one ends the process at once.
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = set_sig_flags;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART | SA_RESETHAND;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

// Logging: the entry shape, where each level goes, the error-number entry and
// the open-failure notice; and the start-up routines kept beside them.
#include "tl_logging.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "tl_globals.h"
#include "tl_testutil.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

// The text with each entry prefix "YYYYMMDD HHMMSS:tltest(<pid>):" shown as "@".
std::string entries(const std::string& text) {
  const std::string tag = ":tltest(" + std::to_string(getpid()) + "):";
  std::string out;
  for (size_t i = 0; i < text.size();) {
    bool entry = i + 15 + tag.size() <= text.size() && text.compare(i + 15, tag.size(), tag) == 0;
    for (size_t k = 0; entry && k < 15; ++k) {
      entry = k == 8 ? text[i + k] == ' ' : std::isdigit(static_cast<unsigned char>(text[i + k])) != 0;
    }
    if (entry) {
      out += '@';
      i += 15 + tag.size();
    } else {
      out += text[i++];
    }
  }
  return out;
}

std::string log_entries(const char* path) { return entries(tl_test_read(path)); }

using LogTest = TlScratchDirTest;

TEST_F(LogTest, LevelsGoWhereTheySay) {
  const struct { const char* name; int level, debug; bool out, err, log, dbg; } cases[] = {
      {"error", -1, 0, false, true, true, false},  {"error, debug", -1, 1, false, true, true, false},
      {"info", 0, 0, true, false, true, false},    {"info, debug", 0, 1, true, true, true, true},
      {"debug", 1, 0, false, false, false, false}, {"debug, debug", 1, 1, false, true, false, true},
      {"other", 7, 0, true, false, false, false},  {"other negative, debug", -2, 1, true, false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove("tapelens.log");
    std::filesystem::remove("tapelens.dbg");
    debug_flag = c.debug;
    CaptureStdout();
    CaptureStderr();
    errno = 0;
    tl_log(c.level, "msg %d\n", 42);
    EXPECT_EQ(GetCapturedStderr(), c.err ? "msg 42\n" : "");
    EXPECT_EQ(GetCapturedStdout(), c.out ? "msg 42\n" : "");
    EXPECT_EQ(log_entries("tapelens.log"), c.log ? "@msg 42\n" : "");
    EXPECT_EQ(log_entries("tapelens.dbg"), c.dbg ? "@msg 42\n" : "");
  }
}

TEST_F(LogTest, ErrorWithErrnoAddsSystemTextOnItsOwnLine) {
  CaptureStderr();
  errno = ENOENT;
  tl_log(-1, "ERROR: Unable to open BDT file:%s\n", "a.bdt");
  EXPECT_EQ(errno, ENOENT);  // the caller's errno survives the call
  errno = 0;
  tl_log(-1, "next\n");
  EXPECT_EQ(GetCapturedStderr(), "ERROR: Unable to open BDT file:a.bdt\nnext\n");
  EXPECT_EQ(log_entries("tapelens.log"),
            "@ERROR: Unable to open BDT file:a.bdt\n@" + std::string(std::strerror(ENOENT)) + "\n@next\n");
}

TEST_F(LogTest, PercentSignsAreWrittenLiterally) {
  CaptureStdout();
  tl_log(0, "open %s\n", "a%%%s%n%d.bdt");
  EXPECT_EQ(GetCapturedStdout(), "open a%%%s%n%d.bdt\n");
  CaptureStderr();
  errno = EACCES;
  tl_logerrno("cannot read %s\n", "x%%y");
  const std::string text = std::strerror(EACCES);
  const std::string message = "cannot read x%%y\n (" + text + " #" + std::to_string(EACCES) + ")";
  EXPECT_EQ(GetCapturedStderr(), message);
  EXPECT_EQ(log_entries("tapelens.log"), "@open a%%%s%n%d.bdt\n@" + message + "@" + text + "\n");
}

TEST_F(LogTest, OverlongMessagesAreCutAtTheBuffer) {
  const std::string big(20000, 'x');
  CaptureStdout();
  tl_log(5, "%s", big.c_str());
  EXPECT_EQ(GetCapturedStdout(), big.substr(0, 12287));
  CaptureStderr();
  errno = EIO;
  tl_logerrno("%s", big.c_str());
  const std::string err = GetCapturedStderr();
  const std::string suffix = " (" + std::string(std::strerror(EIO)) + " #" + std::to_string(EIO) + ")";
  EXPECT_EQ(err, big.substr(0, 1023 - suffix.size()) + suffix);
}

TEST_F(LogTest, EntriesAppendToEarlierRunsWithALocalTimeStamp) {
  std::ofstream("tapelens.log") << "earlier run\n";
  const char* tz = std::getenv("TZ");
  const std::string saved_tz = tz ? tz : "";
  setenv("TZ", "TLT-9", 1);  // far from UTC, so a UTC stamp cannot pass
  tzset();
  const std::time_t before = std::time(nullptr);
  CaptureStdout();
  tl_log(0, "one\n");
  tl_log(0, "two\n");
  GetCapturedStdout();
  const std::time_t after = std::time(nullptr);
  EXPECT_EQ(log_entries("tapelens.log"), "earlier run\n@one\n@two\n");
  struct tm parsed = {};
  ASSERT_NE(strptime(tl_test_read("tapelens.log").c_str() + 12, "%Y%m%d %H%M%S", &parsed), nullptr);
  parsed.tm_isdst = -1;
  EXPECT_TRUE(std::mktime(&parsed) >= before && std::mktime(&parsed) <= after);
  tz ? setenv("TZ", saved_tz.c_str(), 1) : unsetenv("TZ");
  tzset();
}

// Every entry that cannot reach its file becomes a notice entry on standard
// error; the message itself still goes to its console.
TEST_F(LogTest, UnopenableLogGivesANoticePerEntry) {
  ASSERT_EQ(mkdir("adir", 0755), 0);
  const struct { const char* name; std::string file; int level, err, notices; } cases[] = {
      {"name is a directory", "adir", 0, 0, 1},
      {"missing directory", "nodir/tapelens.log", 0, 0, 1},
      {"long name", "nodir/" + std::string(1000, 'n'), 0, 0, 1},
      // The failed open sets errno itself; only the caller's may count.
      {"error, errno clear", "adir", -1, 0, 1},
      {"error, errno set: its entry too", "adir", -1, ENOENT, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::snprintf(logFileName, sizeof logFileName, "%s", c.file.c_str());
    CaptureStdout();
    CaptureStderr();
    errno = c.err;
    tl_log(c.level, "x\n");
    std::string want = c.level == 0 ? "" : "x\n";
    for (int n = 0; n < c.notices; ++n) want += "@Can't open " + c.file + ", error Log to stderr\n";
    EXPECT_EQ(entries(GetCapturedStderr()), want);
    EXPECT_EQ(GetCapturedStdout(), c.level == 0 ? "x\n" : "");
  }
}

// init_globals rewrites settings and signal dispositions, so it runs in a
// child process, which names each failed check on standard error.
#define CHILD_CHECK(cond) \
  do {                    \
    if (!(cond)) failed = std::fprintf(stderr, "failed: %s\n", #cond) > 0; \
  } while (0)

TEST(InitGlobalsDeathTest, DefaultsProgramNameAndSignals) {
  auto child = [] {
    bool failed = false;
    // Each setting with its start-up value; the record class filter is left alone.
    const std::pair<int*, int> settings[] = {
        {&print_header, 1},  {&print_trailer, 1},    {&display_bill, 7},        {&display_detail, 7},
        {&display_csr, 7},   {&output_format, 0},    {&print_summary, 0},       {&print_raw, 0},
        {&print_types, 0},   {&uppercase_flag, 0},   {&bodyonly_flag, 0},       {&print_summarydetail, 0},
        {&debug_flag, 0},    {&print_common, 0},     {&print_recno, 0},         {&bill_date_flag, 0},
        {&database_flag, 0}, {&tl_input_failures, 0}, {&tl_output_failed, 0}, {&billing_number_flag, 0}};
    for (const auto& s : settings) *s.first = 7;
    tl_shutdown = SIGINT;
    const std::string n63(63, 'p');
    const struct { std::string arg0; bool null_arg0; std::string program; } cases[] = {
        {"/usr/bin/tapelens", false, "/usr/bin/tapelens"}, {n63 + "q", false, n63},
        {std::string(5000, 'p'), false, n63}, {"", true, ""}};
    for (const auto& c : cases) {
      std::memset(program, 'z', sizeof program);
      std::string arg0 = c.arg0;
      char* argv[] = {c.null_arg0 ? nullptr : arg0.data(), nullptr};
      init_globals(argv);
      CHILD_CHECK(std::string(program) == c.program);
    }
    for (const auto& s : settings) CHILD_CHECK(*s.first == s.second);
    CHILD_CHECK(tl_shutdown == 0 && mypid == getpid());
    CHILD_CHECK(!strcmp(logFileName, "tapelens.log") && !strcmp(debugFileName, "tapelens.dbg"));
    CHILD_CHECK(!strcmp(logPath, "./"));
    set_sig_flags(SIGHUP);
    set_sig_flags(SIGUSR1);
    CHILD_CHECK(tl_shutdown == 0);
    // The first signal is recorded; the second would take its default action.
    for (int sig : {SIGINT, SIGTERM}) {
      struct sigaction now;
      sigaction(sig, nullptr, &now);
      CHILD_CHECK(now.sa_handler == &set_sig_flags && (now.sa_flags & SA_RESTART));
      raise(sig);
      CHILD_CHECK(tl_shutdown == sig);
      sigaction(sig, nullptr, &now);
      CHILD_CHECK(now.sa_handler == SIG_DFL);
    }
    std::exit(failed ? 1 : 0);
  };
  EXPECT_EXIT(child(), testing::ExitedWithCode(0), "");
}

}  // namespace

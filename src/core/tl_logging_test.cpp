// Logging: the entry shape, where each level goes, the error-number entry,
// long messages; and the start-up routines kept beside them.
#include "tl_logging.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>

#include "tl_testutil.h"

namespace {

using testing::internal::CaptureStdout;
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
    out += entry ? "@" : text.substr(i, 1);
    i += entry ? 15 + tag.size() : 1;
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
    errno = 0;
    EXPECT_EQ(tl_test_stderr([&] { tl_log(c.level, "msg %d\n", 42); }), c.err ? "msg 42\n" : "");
    EXPECT_EQ(GetCapturedStdout(), c.out ? "msg 42\n" : "");
    EXPECT_EQ(log_entries("tapelens.log"), c.log ? "@msg 42\n" : "");
    EXPECT_EQ(log_entries("tapelens.dbg"), c.dbg ? "@msg 42\n" : "");
  }
}

// Entries are appended after earlier runs' ones, stamped with the local
// time. The system error text is an entry of its own, ended by a line end;
// the caller's errno survives. Percent signs in arguments stay as they are.
TEST_F(LogTest, EntriesErrnoEntriesAndLiteralPercentSigns) {
  tl_test_write("tapelens.log", "earlier run\n");
  const char* tz = std::getenv("TZ");
  const std::string saved_tz = tz ? tz : "";
  setenv("TZ", "TLT-9", 1);  // far from UTC, so a UTC stamp cannot pass
  tzset();
  const std::time_t before = std::time(nullptr);
  const std::string eacces = std::strerror(EACCES);
  const std::string message = "cannot read x%%y\n (" + eacces + " #" + std::to_string(EACCES) + ")";
  CaptureStdout();
  const std::string err = tl_test_stderr([] {
    errno = ENOENT;
    tl_log(-1, "ERROR: Unable to open BDT file:%s\n", "a.bdt");
    EXPECT_EQ(errno, ENOENT);
    tl_log(0, "open %s\n", "a%%%s%n%d.bdt");
    errno = EACCES;
    tl_logerrno("cannot read %s\n", "x%%y");
  });
  const std::time_t after = std::time(nullptr);
  EXPECT_EQ(GetCapturedStdout(), "open a%%%s%n%d.bdt\n");
  EXPECT_EQ(err, "ERROR: Unable to open BDT file:a.bdt\n" + message);
  EXPECT_EQ(log_entries("tapelens.log"), "earlier run\n@ERROR: Unable to open BDT file:a.bdt\n@" +
                                             std::string(std::strerror(ENOENT)) + "\n@open a%%%s%n%d.bdt\n@" +
                                             message + "@" + eacces + "\n");
  struct tm parsed = {};
  ASSERT_NE(strptime(tl_test_read("tapelens.log").c_str() + 12, "%Y%m%d %H%M%S", &parsed), nullptr);
  parsed.tm_isdst = -1;
  EXPECT_TRUE(std::mktime(&parsed) >= before && std::mktime(&parsed) <= after);
  tz ? setenv("TZ", saved_tz.c_str(), 1) : unsetenv("TZ");
  tzset();
}

TEST_F(LogTest, OverlongMessagesAreCutAtTheBuffer) {
  const std::string big(20000, 'x');
  CaptureStdout();
  tl_log(5, "%s", big.c_str());
  EXPECT_EQ(GetCapturedStdout(), big.substr(0, 12287));
  const std::string suffix = " (" + std::string(std::strerror(EIO)) + " #" + std::to_string(EIO) + ")";
  EXPECT_EQ(tl_test_stderr([&] {
              errno = EIO;
              tl_logerrno("%s", big.c_str());
            }),
            big.substr(0, 1023 - suffix.size()) + suffix);
}

// init_globals (whose settings the option tests see) rewrites the program
// identity and signal dispositions, so it runs in a child process, which
// names each failed check on standard error.
#define CHILD_CHECK(cond) \
  if (!(cond)) failed = std::fprintf(stderr, "failed: %s\n", #cond) > 0

TEST(InitGlobalsDeathTest, ProgramNameAndSignals) {
  auto child = [] {
    bool failed = false;
    tl_shutdown = SIGINT;
    // argv[0] as given, cut to the 63 characters that fit, or empty when absent.
    const std::string n63(63, 'p'), n64 = n63 + "q";
    for (const auto& c : {std::make_pair("/usr/bin/tapelens", "/usr/bin/tapelens"),
                          std::make_pair(n64.c_str(), n63.c_str()), std::make_pair("", "")}) {
      std::memset(program, 'z', sizeof program);
      std::string arg0 = c.first;
      char* argv[] = {arg0.empty() ? nullptr : arg0.data(), nullptr};
      init_globals(argv);
      CHILD_CHECK(std::string(program) == c.second);
    }
    CHILD_CHECK(tl_shutdown == 0 && mypid == getpid() && !strcmp(logFileName, "tapelens.log") &&
                !strcmp(debugFileName, "tapelens.dbg") && !strcmp(logPath, "./"));
    set_sig_flags(SIGHUP);
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

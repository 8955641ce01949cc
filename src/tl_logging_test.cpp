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
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "tl_globals.h"

namespace {

namespace fs = std::filesystem;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// True if text holds, from pos, a stamp "DDDDDDDD<sep>DDDDDD".
bool IsStampAt(const std::string& text, size_t pos, char sep) {
  if (text.size() < pos + 15) return false;
  for (size_t i = 0; i < 15; ++i) {
    const char c = text[pos + i];
    if (i == 8 ? c != sep : !std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// The text is head followed by exactly these entries, each
// "<stamp>:tltest(<pid>):<message>".
testing::AssertionResult IsEntries(const std::string& text, const std::vector<std::string>& messages,
                                   const std::string& head = "") {
  const std::string tag = ":tltest(" + std::to_string(getpid()) + "):";
  size_t pos = head.size();
  bool ok = text.compare(0, pos, head) == 0;
  for (const auto& m : messages) {
    if (!ok) break;
    ok = IsStampAt(text, pos, ' ') && text.compare(pos + 15, tag.size() + m.size(), tag + m) == 0;
    pos += 15 + tag.size() + m.size();
  }
  if (ok && pos == text.size()) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "text is [" << text << "]";
}

// The file holds head followed by exactly these entries; no entries means
// the file must not exist at all.
testing::AssertionResult HoldsEntries(const char* path, const std::vector<std::string>& messages,
                                      const std::string& head = "") {
  if (messages.empty()) {
    if (fs::exists(path)) return testing::AssertionFailure() << path << " exists";
    return testing::AssertionSuccess();
  }
  return IsEntries(ReadFile(path), messages, head) << " in " << path;
}

// Every test runs in a fresh temporary directory, with the identity and log
// globals set to known values and restored afterwards.
class LogDirTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(getcwd(old_cwd_, sizeof old_cwd_), nullptr);
    std::string tmpl = (fs::temp_directory_path() / "tl_log_XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    saved_debug_ = debug_flag;
    saved_pid_ = mypid;
    std::memcpy(saved_program_, program, sizeof program);
    std::memcpy(saved_log_, logFileName, sizeof logFileName);
    std::memcpy(saved_dbg_, debugFileName, sizeof debugFileName);
    debug_flag = 0;
    mypid = getpid();
    std::strcpy(program, "tltest");
    std::strcpy(logFileName, "tapelens.log");
    std::strcpy(debugFileName, "tapelens.dbg");
  }
  void TearDown() override {
    EXPECT_EQ(chdir(old_cwd_), 0);
    fs::remove_all(dir_);
    debug_flag = saved_debug_;
    mypid = saved_pid_;
    std::memcpy(program, saved_program_, sizeof program);
    std::memcpy(logFileName, saved_log_, sizeof logFileName);
    std::memcpy(debugFileName, saved_dbg_, sizeof debugFileName);
  }

  char old_cwd_[4096];
  std::string dir_;
  int saved_debug_ = 0;
  int saved_pid_ = 0;
  char saved_program_[sizeof program];
  char saved_log_[sizeof logFileName];
  char saved_dbg_[sizeof debugFileName];
};

struct RouteCase {
  const char* name;
  int level;
  int debug;
  bool to_stdout, to_stderr, to_log, to_dbg;
};

class LogRouteTest : public LogDirTest, public testing::WithParamInterface<RouteCase> {};

TEST_P(LogRouteTest, WritesWhereTheLevelSays) {
  const RouteCase& c = GetParam();
  debug_flag = c.debug;
  CaptureStdout();
  CaptureStderr();
  errno = 0;
  tl_log(c.level, "msg %d\n", 42);
  const std::string err = GetCapturedStderr();
  const std::string out = GetCapturedStdout();
  EXPECT_EQ(out, c.to_stdout ? "msg 42\n" : "");
  EXPECT_EQ(err, c.to_stderr ? "msg 42\n" : "");
  EXPECT_TRUE(HoldsEntries("tapelens.log", c.to_log ? std::vector<std::string>{"msg 42\n"}
                                                    : std::vector<std::string>{}));
  EXPECT_TRUE(HoldsEntries("tapelens.dbg", c.to_dbg ? std::vector<std::string>{"msg 42\n"}
                                                    : std::vector<std::string>{}));
}

INSTANTIATE_TEST_SUITE_P(
    Levels, LogRouteTest,
    testing::Values(RouteCase{"ErrorQuiet", -1, 0, false, true, true, false},
                    RouteCase{"ErrorDebug", -1, 1, false, true, true, false},
                    RouteCase{"InfoQuiet", 0, 0, true, false, true, false},
                    RouteCase{"InfoDebug", 0, 1, true, true, true, true},
                    RouteCase{"DebugQuiet", 1, 0, false, false, false, false},
                    RouteCase{"DebugDebug", 1, 1, false, true, false, true},
                    RouteCase{"OtherQuiet", 7, 0, true, false, false, false},
                    RouteCase{"OtherDebug", -2, 1, true, false, false, false}),
    [](const testing::TestParamInfo<RouteCase>& info) { return std::string(info.param.name); });

using LogTest = LogDirTest;

TEST_F(LogTest, ErrorWithErrnoAddsSystemTextOnItsOwnLine) {
  CaptureStderr();
  errno = ENOENT;
  tl_log(-1, "ERROR: Unable to open BDT file:%s\n", "a.bdt");
  EXPECT_EQ(errno, ENOENT);  // the caller's errno survives the call
  errno = 0;
  tl_log(-1, "next\n");
  EXPECT_EQ(GetCapturedStderr(), "ERROR: Unable to open BDT file:a.bdt\nnext\n");
  EXPECT_TRUE(HoldsEntries("tapelens.log", {"ERROR: Unable to open BDT file:a.bdt\n",
                                            std::string(std::strerror(ENOENT)) + "\n", "next\n"}));
}

TEST_F(LogTest, PercentSignsInArgumentsAreWrittenLiterally) {
  CaptureStdout();
  tl_log(0, "open %s\n", "a%%%s%n%d.bdt");
  EXPECT_EQ(GetCapturedStdout(), "open a%%%s%n%d.bdt\n");
  EXPECT_TRUE(HoldsEntries("tapelens.log", {"open a%%%s%n%d.bdt\n"}));
}

TEST_F(LogTest, LogErrnoAppendsErrorTextAfterTheMessage) {
  CaptureStderr();
  errno = EACCES;
  tl_logerrno("cannot read %s\n", "x%%y");
  const std::string text = std::strerror(EACCES);
  const std::string message = "cannot read x%%y\n (" + text + " #" + std::to_string(EACCES) + ")";
  EXPECT_EQ(GetCapturedStderr(), message);
  EXPECT_TRUE(HoldsEntries("tapelens.log", {message, text + "\n"}));
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
  EXPECT_EQ(err.size(), 1023u);
  EXPECT_EQ(err.substr(err.size() - suffix.size()), suffix);
}

TEST_F(LogTest, EntriesAppendToEarlierRuns) {
  std::ofstream("tapelens.log") << "earlier run\n";
  CaptureStdout();
  tl_log(0, "one\n");
  tl_log(0, "two\n");
  GetCapturedStdout();
  EXPECT_TRUE(HoldsEntries("tapelens.log", {"one\n", "two\n"}, "earlier run\n"));
}

TEST_F(LogTest, StampIsLocalTime) {
  const char* old_tz = std::getenv("TZ");
  const std::string saved_tz = old_tz ? old_tz : "";
  setenv("TZ", "TLT-9", 1);  // far from UTC, so a UTC stamp cannot pass
  tzset();
  const std::time_t before = std::time(nullptr);
  CaptureStdout();
  tl_log(0, "now\n");
  GetCapturedStdout();
  const std::time_t after = std::time(nullptr);
  struct tm parsed = {};
  const std::string content = ReadFile("tapelens.log");
  ASSERT_NE(strptime(content.c_str(), "%Y%m%d %H%M%S", &parsed), nullptr) << content;
  parsed.tm_isdst = -1;
  const std::time_t stamped = std::mktime(&parsed);
  EXPECT_GE(stamped, before);
  EXPECT_LE(stamped, after);
  if (old_tz) setenv("TZ", saved_tz.c_str(), 1); else unsetenv("TZ");
  tzset();
}

struct OpenFailCase {
  const char* name;
  std::string file;   // log file name to use
  bool make_dir;      // create a directory of that name
};

class LogOpenFailTest : public LogDirTest, public testing::WithParamInterface<OpenFailCase> {};

TEST_P(LogOpenFailTest, GivesNoticeEntryOnStderr) {
  const OpenFailCase& c = GetParam();
  if (c.make_dir) {
    ASSERT_EQ(mkdir(c.file.c_str(), 0755), 0);
  }
  std::snprintf(logFileName, sizeof logFileName, "%s", c.file.c_str());
  CaptureStdout();
  CaptureStderr();
  tl_log(0, "hello\n");
  const std::string err = GetCapturedStderr();
  EXPECT_EQ(GetCapturedStdout(), "hello\n");
  EXPECT_TRUE(IsEntries(err, {"Can't open " + c.file + ", error Log to stderr\n"}));
}

INSTANTIATE_TEST_SUITE_P(
    Names, LogOpenFailTest,
    testing::Values(OpenFailCase{"NameIsDirectory", "tapelens.log", true},
                    OpenFailCase{"MissingDirectory", "nodir/tapelens.log", false},
                    OpenFailCase{"LongName", "nodir/" + std::string(1000, 'n'), false}),
    [](const testing::TestParamInfo<OpenFailCase>& info) { return std::string(info.param.name); });

TEST_F(LogTest, UnopenableLogGivesOneNoticePerEntry) {
  ASSERT_EQ(mkdir("tapelens.log", 0755), 0);
  const std::string notice = "Can't open tapelens.log, error Log to stderr\n";
  // The failed open sets errno itself; only the caller's errno may count.
  const struct { int err; std::vector<std::string> notices; } cases[] = {
      {0, {notice}}, {ENOENT, {notice, notice}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    CaptureStderr();
    errno = c.err;
    tl_log(-1, "ERROR: x\n");
    const std::string err = GetCapturedStderr();
    EXPECT_TRUE(IsEntries(err, c.notices, "ERROR: x\n"));
  }
}

TEST(SetSigFlags, RecordsInterruptAndTerminateOnly) {
  const struct { int sig; int recorded; } cases[] = {
      {SIGINT, SIGINT}, {SIGTERM, SIGTERM}, {SIGHUP, 0}, {SIGUSR1, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sig);
    tl_shutdown = 0;
    set_sig_flags(c.sig);
    EXPECT_EQ(static_cast<int>(tl_shutdown), c.recorded);
  }
  tl_shutdown = 0;
}

// init_globals rewrites settings and signal dispositions; keep and restore
// them so that other tests in the binary see what they had.
class InitGlobalsTest : public testing::Test {
 protected:
  void SetUp() override {
    sigaction(SIGINT, nullptr, &old_int_);
    sigaction(SIGTERM, nullptr, &old_term_);
    for (size_t i = 0; i < kInts; ++i) saved_ints_[i] = *ints_[i];
    std::memcpy(saved_program_, program, sizeof program);
    std::memcpy(saved_log_, logFileName, sizeof logFileName);
    std::memcpy(saved_dbg_, debugFileName, sizeof debugFileName);
    std::memcpy(saved_path_, logPath, sizeof logPath);
  }
  void TearDown() override {
    sigaction(SIGINT, &old_int_, nullptr);
    sigaction(SIGTERM, &old_term_, nullptr);
    for (size_t i = 0; i < kInts; ++i) *ints_[i] = saved_ints_[i];
    std::memcpy(program, saved_program_, sizeof program);
    std::memcpy(logFileName, saved_log_, sizeof logFileName);
    std::memcpy(debugFileName, saved_dbg_, sizeof debugFileName);
    std::memcpy(logPath, saved_path_, sizeof logPath);
    tl_shutdown = 0;
  }

  static constexpr size_t kInts = 21;
  int* const ints_[kInts] = {&output_format, &database_flag, &print_header, &print_trailer,
                             &bodyonly_flag, &print_common, &print_recno, &print_raw,
                             &print_types, &print_summary, &print_summarydetail, &debug_flag,
                             &display_bill, &display_detail, &display_csr, &bill_date_flag,
                             &billing_number_flag, &uppercase_flag, &mypid,
                             &tl_input_failures, &tl_output_failed};
  int saved_ints_[kInts] = {};
  struct sigaction old_int_, old_term_;
  char saved_program_[sizeof program];
  char saved_log_[sizeof logFileName];
  char saved_dbg_[sizeof debugFileName];
  char saved_path_[sizeof logPath];
};

TEST_F(InitGlobalsTest, SetsDefaultsAndLeavesRecordClassFilterAlone) {
  for (size_t i = 0; i < kInts; ++i) *ints_[i] = 7;
  tl_shutdown = SIGINT;
  char name[] = "/usr/bin/tapelens";
  char* argv[] = {name, nullptr};
  init_globals(argv);
  EXPECT_EQ(static_cast<int>(tl_shutdown), 0);
  EXPECT_STREQ(program, "/usr/bin/tapelens");
  EXPECT_EQ(mypid, getpid());
  EXPECT_EQ(print_header, 1);
  EXPECT_EQ(print_trailer, 1);
  for (int* zeroed : {&output_format, &print_summary, &print_raw, &print_types, &uppercase_flag,
                      &bodyonly_flag, &print_summarydetail, &debug_flag, &print_common,
                      &print_recno, &bill_date_flag, &billing_number_flag, &database_flag,
                      &tl_input_failures, &tl_output_failed}) {
    EXPECT_EQ(*zeroed, 0);
  }
  EXPECT_EQ(display_bill, 7);
  EXPECT_EQ(display_detail, 7);
  EXPECT_EQ(display_csr, 7);
  EXPECT_STREQ(logFileName, "tapelens.log");
  EXPECT_STREQ(debugFileName, "tapelens.dbg");
  EXPECT_STREQ(logPath, "./");
}

TEST_F(InitGlobalsTest, ProgramKeepsFirst63Characters) {
  const std::string n63(63, 'p');
  const struct { const char* name; std::string arg0; bool null_arg0; std::string expected; }
  cases[] = {{"Short", "tl", false, "tl"},
             {"Exactly63", n63, false, n63},
             {"64", n63 + "q", false, n63},
             {"VeryLong", std::string(5000, 'p'), false, n63},
             {"NullArgv0", "", true, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::memset(program, 'z', sizeof program);
    std::string arg0 = c.arg0;
    char* argv[] = {c.null_arg0 ? nullptr : arg0.data(), nullptr};
    init_globals(argv);
    EXPECT_EQ(std::string(program), c.expected);
  }
}

TEST_F(InitGlobalsTest, FirstSignalIsRecordedAndSecondHasDefaultAction) {
  char name[] = "tapelens";
  char* argv[] = {name, nullptr};
  for (int sig : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(sig);
    init_globals(argv);
    struct sigaction now;
    ASSERT_EQ(sigaction(sig, nullptr, &now), 0);
    EXPECT_EQ(now.sa_handler, &set_sig_flags);
    EXPECT_TRUE(now.sa_flags & SA_RESTART);
    ASSERT_EQ(raise(sig), 0);  // survives: the handler only records it
    EXPECT_EQ(static_cast<int>(tl_shutdown), sig);
    ASSERT_EQ(sigaction(sig, nullptr, &now), 0);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
  }
}

}  // namespace

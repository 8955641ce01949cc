// Option parsing over arbitrary argument vectors.
//
// Input: the words of the command line after the program name, separated by
// NUL bytes. Every '/' becomes '_', so a file that -o names is created in the
// harness's own working directory, which is emptied after each input.
// tl_parse_options must return, leave every switch at 0 or 1 and the output
// format at one the options can set, keep the words (only reordered), and
// leave optind within the vector.
#include <algorithm>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <dirent.h>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "tapelens.h"

namespace {

constexpr size_t kMaxWords = 40;

void empty_working_directory() {
  DIR* d = opendir(".");
  if (d == nullptr) return;
  std::vector<std::string> names;
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n != "." && n != "..") names.push_back(n);
  }
  closedir(d);
  for (const std::string& n : names) {
    if (unlink(n.c_str()) != 0) rmdir(n.c_str());
  }
}

bool switch_ok(int v) { return v == 0 || v == 1; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fz_init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> words;
  words.push_back("tapelens");
  size_t b = 0;
  for (size_t i = 0; i <= size && words.size() <= kMaxWords; i++) {
    if (i < size && data[i] != 0) continue;
    words.emplace_back(reinterpret_cast<const char*>(data) + b, i - b);
    b = i + 1;
  }
  for (std::string& w : words) std::replace(w.begin(), w.end(), '/', '_');

  // Each word in its own allocation, so a pointer kept past the call into a
  // word of an earlier input is caught.
  std::vector<std::unique_ptr<char[]>> store;
  std::vector<char*> argv;
  for (const std::string& w : words) {
    store.emplace_back(new char[w.size() + 1]);
    memcpy(store.back().get(), w.c_str(), w.size() + 1);
    argv.push_back(store.back().get());
  }
  argv.push_back(nullptr);
  int argc = static_cast<int>(words.size());

  // The parser installs the program's signal handlers; libFuzzer's come back.
  struct sigaction old_int, old_term;
  sigaction(SIGINT, nullptr, &old_int);
  sigaction(SIGTERM, nullptr, &old_term);
  tl_opts_result r = tl_parse_options(argc, argv.data());
  sigaction(SIGINT, &old_int, nullptr);
  sigaction(SIGTERM, &old_term, nullptr);

  FZ_CHECK(r == TL_OPTS_RUN || r == TL_OPTS_HELP || r == TL_OPTS_VERSION || r == TL_OPTS_USAGE_ERROR ||
               r == TL_OPTS_OUTPUT_IS_INPUT, "result %d", r);
  const int switches[] = {database_flag, print_header, print_trailer, bodyonly_flag, print_common,
                          print_recno, print_raw, print_types, print_summary, print_summarydetail,
                          debug_flag, display_bill, display_detail, display_csr, bill_date_flag,
                          billing_number_flag, uppercase_flag};
  for (int v : switches) FZ_CHECK(switch_ok(v), "a switch holds %d", v);
  FZ_CHECK(output_format == 0 || output_format == 1 || output_format == 2 || output_format == 3 ||
               output_format == 9,
           "output format %d", output_format);
  FZ_CHECK(display_bill + display_detail + display_csr == 3 || display_bill + display_detail + display_csr == 1,
           "record classes %d %d %d", display_bill, display_detail, display_csr);
  FZ_CHECK(strnlen(outFileName, sizeof outFileName) < sizeof outFileName, "output file name unterminated");
  if (r == TL_OPTS_RUN) FZ_CHECK(optind >= 1 && optind <= argc, "optind %d of %d", optind, argc);

  // The words are only reordered.
  std::vector<std::string> after;
  for (int i = 0; i < argc; i++) after.emplace_back(argv[i]);
  std::vector<std::string> before = words;
  std::sort(before.begin(), before.end());
  std::sort(after.begin(), after.end());
  FZ_CHECK(before == after, "the argument words changed");

  if (outfile != stdout) fclose(outfile);
  outfile = stdout;
  outFileName[0] = '\0';
  empty_working_directory();
  return 0;
}

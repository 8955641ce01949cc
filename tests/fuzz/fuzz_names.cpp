// The names file over arbitrary texts.
//
// Input: the content of a names file. A text that is refused must say why
// on "ERROR: fuzz.csv:LINE: " lines and leave every name as it was; a text
// that is taken must give a template that is taken back unchanged. Either
// way the built-in names are put back for the next input.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_common.h"
#include "tl_names_file.h"

namespace {

const std::string& builtin_template() {
  static const std::string t = [] {
    std::string s;
    tl_names_template(s);
    return s;
  }();
  return t;
}

std::string current_template() {
  std::string s;
  tl_names_template(s);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fz_init();
  const std::string& builtin = builtin_template();
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string errors;
  if (tl_apply_names_text("fuzz.csv", text, errors)) {
    FZ_CHECK(errors.empty(), "names taken with errors: %s", errors.c_str());
    std::string after = current_template();
    std::string again;
    FZ_CHECK(tl_apply_names_text("template.csv", after, again), "own template refused: %s", again.c_str());
    FZ_CHECK(current_template() == after, "template changed by giving it back");
    std::string back;
    FZ_CHECK(tl_apply_names_text("builtin.csv", builtin, back), "built-in template refused: %s", back.c_str());
  } else {
    FZ_CHECK(!errors.empty(), "refused without a reason");
    for (size_t at = 0; at < errors.size();) {
      FZ_CHECK(errors.compare(at, 16, "ERROR: fuzz.csv:") == 0, "message %s", errors.c_str() + at);
      size_t nl = errors.find('\n', at);
      FZ_CHECK(nl != std::string::npos, "message without a line end");
      at = nl + 1;
    }
    FZ_CHECK(current_template() == builtin, "names changed by a refused file");
  }
  FZ_CHECK(current_template() == builtin, "built-in names not restored");
  return 0;
}

// The names file over arbitrary texts.
//
// Input: the content of a names file. A text that is refused must say why
// on "ERROR: fuzz.csv:LINE: " lines and change no name; a text that is taken
// must give a template that is taken back unchanged. Either way the built-in
// names are put back for the next input. The whole template is compared on
// one input in 32 (picked by a hash of the input); the others look only
// at the names set (each gets a new copy), which keeps a run short enough
// that a minute explores hundreds of thousands of inputs.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "tl_names.h"
#include "tl_names_file.h"

namespace {

// One name of the catalogue: where it lives and its row key and start.
struct name_slot {
  char* const* name;
  std::string key, start;
};

const std::vector<name_slot>& slots() {
  static const std::vector<name_slot> all = [] {
    std::vector<name_slot> v;
    auto fields = [&](const std::string& key, bdt_fields_tag* list) {
      for (size_t k = 0; list != nullptr && !bdt_is_end(list[k]); k++) {
        v.push_back({&list[k].field_name, key, tl_field_start_text(list, k)});
      }
    };
    fields("common", bdtf_common);
    for (int r = 0; r < bdtr_count; r++) {
      const std::string key = bdt_key_of(r).text;
      v.push_back({&bdtr_list[r].record_name, key, ""});
      fields(key, bdtr_list[r].fields);
    }
    return v;
  }();
  return all;
}

const std::vector<std::string>& builtin_names() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> v;
    for (const name_slot& s : slots()) v.push_back(*s.name != nullptr ? *s.name : "");
    return v;
  }();
  return names;
}

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

// The name pointers as they were after the last restore: a name that is
// set gets a new copy, so a pointer that differs marks a name set since.
std::vector<const char*>& seen() {
  static std::vector<const char*> v;
  return v;
}

// Counts the names set since the last restore and gives those that differ
// the built-in name back, through a names file of their rows alone.
// Returns how many were set.
// Kept out of the coverage the fuzzer follows: a walk over every name, the
// same in every run, would cost more than the names file itself.
__attribute__((no_sanitize("coverage"))) size_t restore_builtin() {
  const std::vector<name_slot>& all = slots();
  const std::vector<std::string>& want = builtin_names();
  std::vector<const char*>& was = seen();
  if (was.empty()) {
    for (const name_slot& s : all) was.push_back(*s.name);
  }
  static std::string rows;
  rows = "record_key,start,name\n";
  size_t set = 0, differ = 0;
  for (size_t i = 0; i < all.size(); i++) {
    if (*all[i].name == was[i]) continue;
    set++;
    const char* now = *all[i].name != nullptr ? *all[i].name : "";
    if (std::strcmp(now, want[i].c_str()) == 0) continue;
    rows += all[i].key + "," + all[i].start + "," + want[i] + "\n";
    differ++;
  }
  if (differ > 0) {
    std::string errors;
    FZ_CHECK(tl_apply_names_text("builtin.csv", rows, errors), "built-in names refused: %s", errors.c_str());
  }
  for (size_t i = 0; i < all.size(); i++) was[i] = *all[i].name;
  return set;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fz_init();
  builtin_names();
  if (seen().empty()) restore_builtin();
  const uint32_t h = fz_hash(data, size);
  const bool whole = h % 32 == 0;
  const std::string& builtin = builtin_template();
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string errors;
  const unsigned generation = tl_name_texts::names_generation();
  if (tl_apply_names_text("fuzz.csv", text, errors)) {
    FZ_CHECK(errors.empty(), "names taken with errors: %s", errors.c_str());
    if (whole) {
      std::string after = current_template();
      std::string again;
      FZ_CHECK(tl_apply_names_text("template.csv", after, again), "own template refused: %s", again.c_str());
      FZ_CHECK(current_template() == after, "template changed by giving it back");
    }
  } else {
    FZ_CHECK(!errors.empty(), "refused without a reason");
    for (size_t at = 0; at < errors.size();) {
      FZ_CHECK(errors.compare(at, 16, "ERROR: fuzz.csv:") == 0, "message %s", errors.c_str() + at);
      size_t nl = errors.find('\n', at);
      FZ_CHECK(nl != std::string::npos, "message without a line end");
      at = nl + 1;
    }
    FZ_CHECK(tl_name_texts::names_generation() == generation, "a refused file marked the names changed");
    FZ_CHECK(restore_builtin() == 0, "names set by a refused file");
  }
  restore_builtin();
  if (whole) FZ_CHECK(current_template() == builtin, "built-in names not restored");
  return 0;
}

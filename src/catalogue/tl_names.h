// Texts made once from the display names for the field writers: one text per
// field entry of every layout and of the common block (",name," for a CSV
// line, "\t<name>" for an XML element, ...) and optionally one per record
// type, so that the writers copy whole pieces instead of assembling names
// for every record.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "tl_bdt.h"
#include "tl_out.h"

// Which generation of names a table was made from. ensure() makes it again,
// once, when the names have changed since; tables are shared by the worker
// threads of a run, which may meet one unmade at the same moment.
class tl_made_for_names {
 public:
  template <class Make>
  void ensure(unsigned generation, Make make) {
    if (made_.load(std::memory_order_acquire) == generation) return;
    std::lock_guard<std::mutex> lock(m_);
    if (made_.load(std::memory_order_relaxed) == generation) return;
    make();
    made_.store(generation, std::memory_order_release);
  }

 private:
  std::atomic<unsigned> made_{0};
  std::mutex m_;
};

class tl_name_texts {
 public:
  // Appends the text for one field entry, or one record type, to out.
  using field_maker = void (*)(const bdt_fields_tag& f, std::string& out);
  using record_maker = void (*)(const bdt_record_tag& r, std::string& out);

  explicit tl_name_texts(field_maker field, record_maker record = nullptr) : make_field_(field), make_record_(record) {}

  // Returns the texts of the entries of layout rindex's field list, in list
  // order, or of the common block when rindex is -1. The names must be ready.
  const tl_span* list(int rindex) {
    made_.ensure(names_generation(), [this] { build(); });
    return spans_.data() + first_[static_cast<size_t>(rindex + 1)];
  }

  // Returns the text of layout rindex's record type (needs a record maker).
  tl_span record(int rindex) {
    made_.ensure(names_generation(), [this] { build(); });
    return records_[static_cast<size_t>(rindex)];
  }

  // Says that display names have been set or changed: every table is made
  // again from them when next used.
  // Call only while no worker thread runs.
  static void names_changed() { generation().fetch_add(1, std::memory_order_relaxed); }

  // Returns the generation of the names now in place; texts made from an
  // earlier one are out of date.
  static unsigned names_generation() { return generation().load(std::memory_order_relaxed); }

 private:
  void build();

  field_maker make_field_;
  record_maker make_record_;
  static std::atomic<unsigned>& generation() {
    static std::atomic<unsigned> g{1};
    return g;
  }

  tl_made_for_names made_;
  std::string pool_;
  std::vector<tl_span> spans_;    // field texts, common block first
  std::vector<size_t> first_;     // index in spans_ of each list's first entry
  std::vector<tl_span> records_;  // record type texts, by layout
};

// --check: every record judged against the catalogue, every fault a line.
#include <cstring>

#include "tl_audit.h"
#include "tl_bdt.h"
#include "tl_table_model.h"
#include "tl_util.h"

namespace {

enum kind { unknown_layout, short_record, long_record, bad_amount, bad_byte, kinds };
const char* const kKindName[kinds] = {"unknown-layout", "short-record", "long-record", "bad-amount", "bad-byte"};

class check_sink final : public tl_audit_sink {
 public:
  // worker: a fork, whose fault lines are gathered for its block.
  check_sink(tl_audit_form form, bool worker) : form_(form), json_(form == tl_audit_form::json), o_(worker) {}

  std::unique_ptr<tl_sink> fork() override { return std::make_unique<check_sink>(form_, true); }

  // A worker's block: its fault lines, then its counts added to the input's.
  bool join(tl_sink& worker) override {
    check_sink& w = static_cast<check_sink&>(worker);
    records_ += w.records_;
    faults_ += w.faults_;
    for (int k = 0; k < kinds; k++) by_kind_[k] += w.by_kind_[k];
    w.zero();
    return o_.take(w.o_);
  }

  bool records(tl_document& doc, tl_filter filter, tl_hasher* hash, tl_doc_end& e) override {
    return tl_record_loop(*this, doc, filter, hash, e);
  }

  // The reader gives a NUL as a blank: where there was one is a bad byte.
  bool wants_nuls() const override { return true; }
  void nuls(const uint64_t* mask) override { nuls_ = mask; }

  bool begin(const tl_document& doc) override {
    name_ = doc.name();
    zero();
    return true;
  }

  bool record(const char* rec, size_t len, unsigned long long line) override {
    records_++;
    const size_t content = tl_record_content(rec, len);
    const size_t region = tl_value_region(content);
    const int r = iFindBDTrecord(rec);
    // The key is made when a fault needs it.
    rec_ = rec;
    content_ = content;
    rindex_ = r;
    key_ = nullptr;
    if (r < 0) {
      start_fault(unknown_layout, line);
      if (json_) {
        o_.put('}');
      } else {
        o_.put("no layout has the key \"");
        key();
        o_.printable(key_, key_len_);
        o_.put('"');
      }
      end_fault();
    }
    if (content != kTlRecordLength) {
      const kind k = content < kTlRecordLength ? short_record : long_record;
      start_fault(k, line);
      if (json_) {
        o_.put(",\"length\":");
        o_.num(content);
        o_.put('}');
      } else {
        o_.num(content);
        o_.put(" of 225 characters");
      }
      end_fault();
    }
    // Bad bytes and bad amounts in the order of their places in the record.
    size_t next_byte = 0;
    if (r >= 0) {
      const size_t first = plan_.first(r), n = plan_.count(r);
      for (size_t i = 0; i < n; i++) {
        const tl_amount_field& f = plan_.fields()[first + i];
        if (static_cast<size_t>(f.off) + f.len > region) continue;  // the short record says it
        int64_t units;
        if (tl_read_amount(rec, region, f, &units)) continue;
        next_byte = bytes(rec, next_byte, f.off, line);
        start_fault(bad_amount, line);
        if (json_) {
          o_.put(",\"start\":");
          o_.num(static_cast<unsigned>(f.start));
          o_.put(",\"field\":\"");
          o_.json(f.name, std::strlen(f.name));
          o_.put("\",\"text\":\"");
          o_.json(rec + f.off, f.len);
          o_.put("\"}");
        } else {
          o_.put(f.name);
          o_.put(" at ");
          o_.num(static_cast<unsigned>(f.start));
          o_.put(" holds no number: \"");
          o_.printable(rec + f.off, f.len);
          o_.put('"');
        }
        end_fault();
      }
    }
    bytes(rec, next_byte, region, line);
    nuls_ = nullptr;
    return o_.maybe_flush();
  }

  bool end(const tl_doc_end&) override {
    inputs_++;
    all_records_ += records_;
    all_faults_ += faults_;
    if (json_) {
      o_.put("{\"file\":\"");
      o_.json(name_.data(), name_.size());
      o_.put("\",\"records\":");
      o_.num(records_);
      o_.put(",\"faults\":");
      o_.num(faults_);
      o_.put(",\"by_kind\":{");
      bool first = true;
      for (int k = 0; k < kinds; k++) {
        if (by_kind_[k] == 0) continue;
        if (!first) o_.put(',');
        first = false;
        o_.put('"');
        o_.put(kKindName[k]);
        o_.put("\":");
        o_.num(by_kind_[k]);
      }
      o_.put("}}\n");
    } else {
      o_.printable(name_.data(), name_.size());
      o_.put(": ");
      counts(records_, faults_);
      for (int k = 0; k < kinds; k++) {
        if (by_kind_[k] == 0) continue;
        o_.put(", ");
        o_.put(kKindName[k]);
        o_.put(' ');
        o_.num(by_kind_[k]);
      }
      o_.put('\n');
    }
    return o_.maybe_flush();
  }

  bool finish() override {
    if (!json_ && inputs_ > 1) {
      counts(all_records_, all_faults_);
      o_.put(" in ");
      o_.num(inputs_);
      o_.put(" inputs\n");
    }
    return o_.flush();
  }

  bool findings() const override { return all_faults_ > 0; }

 private:
  void zero() {
    records_ = 0;
    faults_ = 0;
    for (auto& k : by_kind_) k = 0;
  }

  void counts(unsigned long long records, unsigned long long faults) {
    o_.num(records);
    o_.put(" records, ");
    o_.num(faults);
    o_.put(" faults");
  }

  // True when a byte of [from, to) is below 0x20 or DEL: sixteen at a time
  // (GCC and clang vectors), so that a sound record costs little.
  static bool any_control(const char* rec, size_t from, size_t to) {
    typedef unsigned char v16 __attribute__((vector_size(16)));
    v16 found = {};
    size_t i = from;
    for (; i + 16 <= to; i += 16) {
      v16 v;
      std::memcpy(&v, rec + i, 16);
      found |= (v16)(v < 0x20) | (v16)(v == 0x7f);
    }
    unsigned char any = 0;
    for (int k = 0; k < 16; k++) any |= found[k];
    for (; i < to; i++) {
      const unsigned char c = static_cast<unsigned char>(rec[i]);
      any |= c < 0x20 || c == 0x7f;
    }
    return any != 0;
  }

  // Reports the bytes below 0x20 and DEL at positions [from, to); returns to.
  size_t bytes(const char* rec, size_t from, size_t to, unsigned long long line) {
    if (nuls_ == nullptr && !any_control(rec, from, to)) return to > from ? to : from;
    for (size_t i = from; i < to; i++) {
      unsigned char c = static_cast<unsigned char>(rec[i]);
      // The reader gives a NUL as a blank; its mask says where there was one.
      if (nuls_ != nullptr && c == ' ' && (nuls_[i / 64] >> (i % 64) & 1) != 0) c = 0;
      if (c >= 0x20 && c != 0x7f) continue;
      start_fault(bad_byte, line);
      if (json_) {
        o_.put(",\"position\":");
        o_.num(i + 1);
        o_.put(",\"value\":");
        o_.num(c);
        o_.put('}');
      } else {
        static const char kHex[] = "0123456789abcdef";
        o_.put("byte 0x");
        o_.put(kHex[c >> 4]);
        o_.put(kHex[c & 15]);
        o_.put(" at ");
        o_.num(i + 1);
      }
      end_fault();
    }
    return to > from ? to : from;
  }

  void start_fault(kind k, unsigned long long line) {
    faults_++;
    by_kind_[k]++;
    o_.where(json_, name_, line, kKindName[k]);
    if (json_) {
      o_.put(",\"kind\":\"");
      o_.put(kKindName[k]);
      o_.put("\",\"key\":\"");
      key();
      o_.json(key_, key_len_);
      o_.put('"');
    }
  }
  void end_fault() { o_.put('\n'); }

  void key() {
    if (key_ != nullptr) return;
    if (rindex_ >= 0) {
      key_ = bdt_key_of(rindex_).text;
      key_len_ = bdt_key_of(rindex_).n;
    } else {
      key_len_ = tl_key_as_read(rec_, content_, key_buf_);
      key_ = key_buf_;
    }
  }

  const tl_audit_form form_;
  const bool json_;
  const tl_amount_plan plan_;
  tl_audit_out o_;
  std::string name_;
  const uint64_t* nuls_ = nullptr;  // where the record in hand held NULs, if it did
  const char* rec_ = nullptr;  // the record in hand
  size_t content_ = 0;
  int rindex_ = -1;
  const char* key_ = nullptr;  // its key, once made
  size_t key_len_ = 0;
  char key_buf_[16];
  unsigned long long records_ = 0, faults_ = 0, by_kind_[kinds] = {};
  unsigned long long all_records_ = 0, all_faults_ = 0, inputs_ = 0;
};

}  // namespace

std::unique_ptr<tl_audit_sink> tl_check_sink(tl_audit_form form) { return std::make_unique<check_sink>(form, false); }

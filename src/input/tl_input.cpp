// Input arguments as documents: plain files through the record reader.
#include "tl_input.h"

#include <sys/stat.h>

#include "tl_core.h"
#include "tl_file.h"
#include "tl_globals.h"
#include "tl_logging.h"

namespace {

class plain_document : public tl_document {
 public:
  explicit plain_document(const char* path) : path_(path) {
    struct stat st;
    if (stat(path, &st) == 0 && S_ISREG(st.st_mode)) size_ = st.st_size;
  }
  const char* name() const override { return path_; }
  long long size() const override { return size_; }
  long long consumed() const override { return where_; }
  int next_record(const char** rec, unsigned long* len) override {
    int before = tl_input_failures;
    if (tl_read_record(path_, rec, len, &where_) == 0) return 0;
    failed_ = tl_input_failures != before;
    return -1;
  }
  bool failed() const override { return failed_; }

 private:
  const char* path_;
  long long size_ = -1;
  long where_ = 0;
  bool failed_ = false;
};

}  // namespace

bool tl_each_document(const char* arg, const std::function<void(tl_document&)>& visit) {
  if (iFileExists(arg) != 1) {
    fprintf(stderr, "ERROR: Unable to open BDT file:%s\n", arg);
    tl_log(-1, "ERROR: Unable to open BDT file:%s\n", arg);
    tl_input_failures++;
    return false;
  }
  plain_document doc(arg);
  visit(doc);
  psReadBDTclose();
  return !doc.failed();
}

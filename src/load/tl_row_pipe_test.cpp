#include "tl_row_pipe.h"

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "tl_testutil.h"

namespace {

// A row as plain values, for comparing a row read back with the one made.
std::string flat(const tl_row& r) {
  std::string s = std::to_string(r.table != nullptr ? r.table->rindex : -1) + "|" + std::to_string(r.line) + "|" +
                  std::to_string(r.idx) + "|" + std::to_string(r.ncells);
  for (size_t k = 0; k < r.ncells; k++) {
    const tl_cell& c = r.cells[k];
    s += "|" + std::to_string(static_cast<int>(c.kind));
    if (c.kind == tl_cell::amount) s += ":" + std::to_string(c.units) + "e" + std::to_string(c.decimals);
    if (c.kind == tl_cell::text) s += ":" + std::to_string(c.n) + ":" + std::string(c.p, c.n);
  }
  if (r.reject != nullptr) s += "|R:" + std::string(r.reject) + "|" + std::string(r.raw, r.raw_len);
  return s;
}

// Records of every kind of cell and reject: amounts of both signs, Latin-1
// and quotes in texts, a NUL, short, long and unknown records, index
// records, and every layout of the catalogue filled two ways.
std::vector<std::string> sample_records() {
  std::string rec = tl_test_rec("10269050", {{48, "ACCT,\"\xe9\"    "}, {61, "00000012345"}, {72, "0000000010J"}});
  std::string bad = rec;
  bad[65] = ' ';
  bad[50] = '\0';
  std::vector<std::string> recs = {rec,
                                   bad,
                                   rec.substr(0, 66) + "\r\n",
                                   rec.substr(0, 225) + "XY\r\n",
                                   tl_test_rec("10010199"),
                                   tl_test_rec("10300500"),
                                   tl_test_rec("10301500"),
                                   tl_test_rec("10301000"),
                                   std::string(240, '\0') + "\n"};
  for (int i = 0; i < bdtr_count; i++) {
    const std::string key = std::string(bdtr_list[i].record_id) + bdtr_list[i].record_suffix;
    recs.push_back(tl_test_rec(key, {}, '\xe9'));
    recs.push_back(tl_test_rec(key, {}, '7'));
  }
  return recs;
}

}  // namespace

TEST(RowPipe, RowsReadBackAsMadeAcrossBatchBoundaries) {
  tl_test_names();
  tl_table_model m;
  tl_row_maker maker(m);
  tl_row_reader reader(m);
  const std::vector<std::string> recs = sample_records();
  // Small batches: most rows end one, and a row larger than a batch grows it.
  for (size_t capacity : {size_t{64}, size_t{700}, size_t{5000}, size_t{1} << 20}) {
    tl_row_batch batch(capacity);
    std::vector<std::string> sent, got;
    auto drain = [&] {
      reader.start(batch);
      while (const tl_row* r = reader.next()) got.push_back(flat(*r));
      batch.clear();
    };
    size_t batches = 0;
    for (size_t i = 0; i < recs.size(); i++) {
      const tl_row& row = maker.make(recs[i].data(), recs[i].size(), i + 1);
      sent.push_back(flat(row));
      if (!batch.append(row)) {
        drain();
        batches++;
        ASSERT_TRUE(batch.append(row)) << "an empty batch takes any row";
      }
    }
    drain();
    batches++;
    EXPECT_EQ(got, sent) << "capacity " << capacity;
    EXPECT_EQ(batches > 1, capacity < (size_t{1} << 20)) << "capacity " << capacity;
  }

  // Cells the records above do not make: an empty text, the extreme
  // amounts, a reject without raw bytes.
  tl_cell cells[5];
  cells[0].kind = tl_cell::text;
  cells[0].p = "";
  cells[0].n = 0;
  cells[1].kind = tl_cell::amount;
  cells[1].units = INT64_MIN;
  cells[1].decimals = 9;
  cells[2].kind = tl_cell::amount;
  cells[2].units = INT64_MAX;
  cells[2].decimals = 0;
  cells[3].kind = tl_cell::null_value;
  cells[4].kind = tl_cell::text;
  cells[4].p = "a\0b";
  cells[4].n = 3;
  tl_row row;
  row.table = m.table(tl_test_layout("10269050"));
  row.line = ULLONG_MAX;
  row.idx = -1;
  row.cells = cells;
  row.ncells = 5;
  row.reject = "";
  row.raw = "";
  row.raw_len = 0;
  tl_row_batch batch(16);
  ASSERT_TRUE(batch.append(row));
  reader.start(batch);
  const tl_row* back = reader.next();
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(flat(*back), flat(row));
  EXPECT_EQ(reader.next(), nullptr);
}

namespace {

struct named_doc : tl_document {
  explicit named_doc(const char* n) : n_(n) {}
  const char* name() const override { return n_; }
  long long size() const override { return -1; }
  long long consumed() const override { return 0; }
  int next_record(const char**, unsigned long*) override { return -1; }
  long next_bytes(char*, size_t) override { return -1; }
  bool failed() const override { return false; }
  const char* n_;
};

// A writer that notes what it is asked to do, failing the row numbered
// fail_at (counted over the run) when set.
class noting_sink : public tl_row_sink {
 public:
  ~noting_sink() override { stop_writer(); }
  std::vector<std::string> log;
  long fail_at = -1;
  long rows = 0;

 protected:
  bool open_doc(const tl_document& doc) override {
    log.push_back(std::string("open ") + doc.name());
    return true;
  }
  bool put_row(const tl_row& row) override {
    if (rows++ == fail_at) {
      log.push_back("failed");
      return false;
    }
    log.push_back(flat(row));
    return true;
  }
  bool close_doc(const tl_doc_end& e) override {
    log.push_back(e.complete ? "commit" : "rollback");
    return true;
  }
  bool close_run() override {
    log.push_back("close");
    return true;
  }
};

// Runs documents of n records each through a sink with the given jobs;
// incomplete_at: the document (0-based) that ends as a failed read would,
// after half its records. Returns the sink's log, with the driver's view
// (the results of its calls) at the end.
std::vector<std::string> run(int jobs, int docs, size_t n, long fail_at = -1, int incomplete_at = -1) {
  const int saved = tl_pipeline_opts.jobs;
  tl_pipeline_opts.jobs = jobs;
  tl_test_names();
  std::vector<std::string> recs = sample_records();
  std::string driver;
  std::vector<std::string> log;
  {
    noting_sink s;
    s.fail_at = fail_at;
    for (int d = 0; d < docs; d++) {
      const std::string name = "doc" + std::to_string(d);
      named_doc doc(name.c_str());
      if (!s.begin(doc)) {
        driver += " begin-failed";
        break;
      }
      tl_doc_end e;
      const size_t upto = d == incomplete_at ? n / 2 : n;
      bool ok = true;
      for (size_t i = 0; i < upto && ok; i++) {
        const std::string& r = recs[i % recs.size()];
        ok = s.record(r.data(), r.size(), i + 1);
      }
      e.complete = ok && d != incomplete_at;
      const bool ended = s.end(e);
      driver += std::string(" ") + (ok ? "rows-ok" : "rows-failed") + (ended ? " end-ok" : " end-failed");
      if (!ok || !ended) break;
    }
    driver += s.finish() ? " finish-ok" : " finish-failed";
    log = s.log;
  }
  tl_pipeline_opts.jobs = saved;
  log.push_back(driver);
  return log;
}

}  // namespace

TEST(RowPipe, ThreadedWriterDoesWhatTheDriversThreadDoes) {
  // Enough rows for many batches, so that the queue fills and drains.
  const size_t n = 12000;
  const std::vector<std::string> one = run(1, 3, n);
  ASSERT_EQ(one.size(), 3 * (n + 2) + 2);
  EXPECT_EQ(one.front(), "open doc0");
  EXPECT_EQ(one[n + 1], "commit");
  EXPECT_EQ(run(2, 3, n), one);
}

TEST(RowPipe, FailedReadDropsWhatIsQueuedAndGoesOn) {
  const size_t n = 12000;
  const std::vector<std::string> log = run(2, 3, n, -1, 1);
  // doc0 whole, doc1 open, some of its rows, rollback, doc2 whole.
  ASSERT_GE(log.size(), 2 * (n + 2) + 2 + 2);
  const size_t rb = static_cast<size_t>(std::find(log.begin(), log.end(), "rollback") - log.begin());
  ASSERT_LT(rb, log.size());
  EXPECT_EQ(log[n + 2], "open doc1");
  EXPECT_LE(rb - (n + 3), n / 2) << "no more rows than were made";
  EXPECT_EQ(log[rb + 1], "open doc2");
  EXPECT_EQ(log[rb + n + 2], "commit");
  EXPECT_EQ(log.back(), " rows-ok end-ok rows-ok end-ok rows-ok end-ok finish-ok");
}

TEST(RowPipe, FailedRowStopsTheRunAndRollsBack) {
  const size_t n = 12000;
  for (long fail_at : {0L, 5000L, static_cast<long>(n) + 100, static_cast<long>(2 * n) - 1}) {
    for (int jobs : {1, 2}) {
      const std::vector<std::string> log = run(jobs, 3, n, fail_at);
      const auto failed = std::find(log.begin(), log.end(), "failed");
      ASSERT_NE(failed, log.end()) << fail_at;
      EXPECT_EQ(*(failed + 1), "rollback") << "no row written after the failure; jobs " << jobs << " at " << fail_at;
      EXPECT_EQ(*(failed + 2), "close");
      EXPECT_EQ(std::count(log.begin(), log.end(), "commit"), fail_at < static_cast<long>(n) ? 0 : 1);
      // The driver learns of it from a record or from the end of the document.
      const std::string& driver = log.back();
      EXPECT_TRUE(driver.find("rows-failed") != std::string::npos || driver.find("end-failed") != std::string::npos)
          << driver;
      EXPECT_EQ(driver.find("open doc2"), std::string::npos);
      EXPECT_EQ(std::count(log.begin(), log.end(), "open doc2"), 0) << "the run stops";
    }
  }
}

// The pieces of blocked reading: block ends at record boundaries, and the
// formats' state carried over a block without writing it.
#include <random>

#include "tl_formatters.h"
#include "tl_lines.h"
#include "tl_testutil.h"

namespace {

// Cuts bytes into pieces the way the reader does, all at once.
std::vector<std::string> cut_whole(const std::string& bytes) {
  std::vector<std::string> pieces;
  for (size_t at = 0; at < bytes.size();) {
    const size_t n = tl_cut_piece(bytes.data() + at, bytes.size() - at, true);
    pieces.push_back(bytes.substr(at, n));
    at += n;
  }
  return pieces;
}

// Cuts the same bytes in blocks of the given size, each ended at its last
// boundary, the rest carried into the next one.
std::vector<std::string> cut_in_blocks(const std::string& bytes, size_t block) {
  std::vector<std::string> pieces;
  std::string rest;
  for (size_t at = 0; at < bytes.size() || !rest.empty();) {
    const size_t take = std::min(block, bytes.size() - at);
    std::string b = rest + bytes.substr(at, take);
    at += take;
    const bool end = at == bytes.size();
    const size_t cut = end ? b.size() : tl_last_boundary(b.data(), b.size());
    rest = b.substr(cut);
    for (const std::string& p : cut_whole(b.substr(0, cut))) pieces.push_back(p);
    if (end) break;
  }
  return pieces;
}

TEST(Blocks, BoundariesCutAsTheWholeInputIsCut) {
  std::mt19937 rng(7);
  for (int round = 0; round < 300; round++) {
    // Lines of every length around the 255-byte piece, some without a
    // line end, CR LF and LF alike.
    std::string bytes;
    const int lines = static_cast<int>(rng() % 40);
    for (int i = 0; i < lines; i++) {
      const size_t len = rng() % 3 == 0 ? rng() % 700 : 200 + rng() % 60;
      bytes += std::string(len, static_cast<char>('A' + rng() % 26));
      if (rng() % 5 != 0) bytes += rng() % 2 ? "\r\n" : "\n";
    }
    const std::vector<std::string> whole = cut_whole(bytes);
    for (size_t block : {256u, 300u, 511u, 4096u}) {
      EXPECT_EQ(cut_in_blocks(bytes, block), whole) << "round " << round << ", blocks of " << block;
    }
  }
}

TEST(Blocks, LastBoundaryNeverSplitsAPiece) {
  EXPECT_EQ(tl_last_boundary("", 0), 0u);
  EXPECT_EQ(tl_last_boundary("abc", 3), 0u);  // not yet a whole piece
  const std::string two = "ab\ncd";
  EXPECT_EQ(tl_last_boundary(two.data(), two.size()), 3u);
  const std::string long_line = "x\n" + std::string(600, 'y');
  EXPECT_EQ(tl_last_boundary(long_line.data(), long_line.size()), 2u + 2 * 255);
}

// The records that move the formats' state: inline runs of two layouts,
// field-line records, index records, unknown and short ones.
std::vector<std::string> state_records() {
  return {tl_test_r623("A00001"),
          tl_test_r623("A00002"),
          tl_test_rec("30030500"),
          tl_test_rec("10300500", {}, '0'),
          tl_test_r623("A00003"),
          "999999999 unknown\r\n",
          tl_test_rec("10301000", {}, '0'),
          "\r\n",
          tl_test_rec("10362350").substr(0, 40) + "\r\n",
          tl_test_rec("10010100")};
}

// Runs random sequences of those records through a format's record entry
// and its skim: the state they leave must be the same after every record.
template <class State, class Record, class Skim, class Same>
void expect_skim_follows_record(Record record, Skim skim, Same same) {
  tl_test_names();
  const std::vector<std::string> recs = state_records();
  std::mt19937 rng(11);
  static char storage[1 << 16];
  for (int round = 0; round < 200; round++) {
    State written, skimmed;
    for (int i = 0; i < 12; i++) {
      const std::string& r = recs[rng() % recs.size()];
      tl_out o(storage, sizeof storage);
      record(written, r.c_str(), r.size(), o);
      skim(skimmed, r.c_str(), r.size());
      ASSERT_TRUE(same(written, skimmed)) << "round " << round << ", record " << i << ": " << r;
    }
  }
}

TEST(Blocks, SkimLeavesTheStateRecordLeaves) {
  for (int options = 0; options < 16; options++) {
    tl_test_settings(options & 1, options >> 1 & 1, options >> 2 & 1, options >> 3 & 1);
    expect_skim_follows_record<tl_csv_state>(
        [](tl_csv_state& s, const char* r, size_t n, tl_out& o) { tl_csv_record(s, r, n, o); }, tl_csv_skim,
        [](const tl_csv_state& a, const tl_csv_state& b) {
          return std::strcmp(a.sCurrentRecord, b.sCurrentRecord) == 0;
        });
    expect_skim_follows_record<tl_html_state>(
        [](tl_html_state& s, const char* r, size_t n, tl_out& o) { tl_html_record(s, r, n, o); }, tl_html_skim,
        [](const tl_html_state& a, const tl_html_state& b) {
          return (a.intable > 0) == (b.intable > 0) && a.sCurrentRecordLen == b.sCurrentRecordLen &&
                 std::memcmp(a.sCurrentRecord, b.sCurrentRecord, a.sCurrentRecordLen) == 0;
        });
    expect_skim_follows_record<tl_db_state>(
        [](tl_db_state& s, const char* r, size_t n, tl_out& o) { tl_db_record(s, r, n, o); }, tl_db_skim,
        [](const tl_db_state& a, const tl_db_state& b) {
          return a.iIndexRecord == b.iIndexRecord && a.sCurrentRecordLen == b.sCurrentRecordLen &&
                 std::memcmp(a.sCurrentRecord, b.sCurrentRecord, a.sCurrentRecordLen) == 0;
        });
  }
  tl_test_settings(0, 0, 0, 0);
}

}  // namespace

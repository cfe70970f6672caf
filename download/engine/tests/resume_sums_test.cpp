// The resume record's cell sums: the checksum itself, the sums taken on the
// way to the disk, and a resumed task that keeps only what reads back right.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "download/engine/cell_sums.h"
#include "download/engine/crc32c.h"
#include "download/engine/disk_file.h"
#include "download/engine/download_task.h"
#include "tests/support/op_server.h"
#include "tests/support/test_support.h"

namespace xldl {
namespace {

using corvane::test::PatternContent;

TEST(Crc32cTest, KnownAnswersAndBothVersionsAgree) {
  EXPECT_EQ(Crc32c(0, "123456789", 9), 0xE3069283u);
  const std::string zeros(32, '\0'), ones(32, '\xff');
  std::string ascending;
  for (int i = 0; i < 32; ++i) ascending += static_cast<char>(i);
  EXPECT_EQ(Crc32c(0, zeros.data(), 32), 0x8A9136AAu);
  EXPECT_EQ(Crc32c(0, ones.data(), 32), 0x62A8AB43u);
  EXPECT_EQ(Crc32c(0, ascending.data(), 32), 0x46DD794Eu);
  EXPECT_EQ(Crc32c(0, nullptr, 0), 0u);
  // Lengths around the three-stream blocks, at every alignment, whole and
  // in two pieces.
  const std::string data = PatternContent(20000, 21);
  for (size_t at = 0; at < 8; ++at)
    for (size_t n : {size_t{1}, size_t{7}, size_t{3071}, size_t{3072}, size_t{3073}, size_t{6150}, size_t{19000}}) {
      const char* p = data.data() + at;
      const uint32_t want = Crc32cPortable(0, p, n);
      EXPECT_EQ(Crc32c(0, p, n), want) << at << " " << n;
      EXPECT_EQ(Crc32c(Crc32c(0, p, n / 3), p + n / 3, n - n / 3), want) << at << " " << n;
    }
}

TEST(CellSumsTest, SumsWholeCellsFedInOrderAndClaimsOnlyThose) {
  const int64_t size = 3 * kCellBytes + 100;  // the last cell is short
  const std::string data = PatternContent(static_cast<size_t>(size), 22);
  auto crcOf = [&](int64_t cell) {
    const int64_t b = cell * kCellBytes, e = std::min(b + kCellBytes, size);
    return Crc32c(0, data.data() + b, static_cast<size_t>(e - b));
  };
  CellSums sums;
  sums.Reset(size);
  EXPECT_EQ(sums.CellCount(), 4);
  // Cells 0 and 3 in uneven pieces; cell 1 joined in its middle; cell 2
  // started but left.
  CellSums::Stream a, b, c;
  for (int64_t at = 0; at < kCellBytes;) {
    const int64_t n = std::min<int64_t>(5000, kCellBytes - at);
    sums.Feed(a, at, data.data() + at, static_cast<size_t>(n));
    at += n;
  }
  sums.Feed(b, kCellBytes + 10, data.data() + kCellBytes + 10, static_cast<size_t>(kCellBytes - 10));
  sums.Feed(c, 2 * kCellBytes, data.data() + 2 * kCellBytes, 1000);
  sums.Feed(c, 3 * kCellBytes, data.data() + 3 * kCellBytes, 100);  // a jump ends cell 2 unsummed
  uint32_t crc = 0;
  ASSERT_TRUE(sums.Get(0, crc));
  EXPECT_EQ(crc, crcOf(0));
  EXPECT_FALSE(sums.Get(1, crc));
  EXPECT_FALSE(sums.Get(2, crc));
  ASSERT_TRUE(sums.Get(3, crc));
  EXPECT_EQ(crc, crcOf(3));

  // Claims: whole summed cells inside what is done, nothing partial.
  sums.Set(1, crcOf(1));
  std::vector<Span> spans;
  std::vector<std::vector<uint32_t>> list;
  sums.Claims({{0, 2 * kCellBytes + 5}, {3 * kCellBytes, size}}, spans, list);
  EXPECT_EQ(spans, (std::vector<Span>{{0, 2 * kCellBytes}, {3 * kCellBytes, size}}));
  EXPECT_EQ(list, (std::vector<std::vector<uint32_t>>{{crcOf(0), crcOf(1)}, {crcOf(3)}}));
  sums.Claims({{1, size - 1}}, spans, list);
  EXPECT_EQ(spans, (std::vector<Span>{{kCellBytes, 2 * kCellBytes}})) << "only cell 1 is whole and summed";
}

// Several connections stopped before any of them finished its first cell:
// each keeps its prefix, the prefix reads back on resume, a damaged one does
// not, and a stream resumed at the prefix's end completes the cell's sum.
TEST(CellSumsTest, PrefixesOfCellsAreClaimedKeptAndContinued) {
  const int64_t size = 4 * kCellBytes;
  const std::string data = PatternContent(static_cast<size_t>(size), 23);
  const std::string dir = corvane::test::MakeTempDir("engine-prefix");
  const std::string path = dir + "/part";
  {
    std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
  }
  CellSums sums;
  sums.Reset(size);
  CellSums::Stream a, b;
  sums.Feed(a, 0, data.data(), 5000);
  sums.Feed(a, 5000, data.data() + 5000, 3000);
  sums.Feed(b, 2 * kCellBytes, data.data() + 2 * kCellBytes, kCellBytes + 700);
  std::vector<Span> spans;
  std::vector<std::vector<uint32_t>> list;
  // What is done may lag what was fed: only fed bytes that are done count.
  sums.Claims({{0, 7999}, {2 * kCellBytes, 3 * kCellBytes + 700}}, spans, list);
  EXPECT_EQ(spans, (std::vector<Span>{{2 * kCellBytes, 3 * kCellBytes + 700}}));
  sums.Claims({{0, 8000}, {2 * kCellBytes, 3 * kCellBytes + 900}}, spans, list);
  ASSERT_EQ(spans, (std::vector<Span>{{0, 8000}, {2 * kCellBytes, 3 * kCellBytes + 700}}));
  const uint32_t head = Crc32c(0, data.data(), 8000);
  EXPECT_EQ(list[0], std::vector<uint32_t>{head});
  ASSERT_EQ(list[1].size(), 2u);
  EXPECT_EQ(list[1][1], Crc32c(0, data.data() + 3 * kCellBytes, 700));

  ResumeRecord record{"http://h/f", size, "", "", spans, list};
  ResumeRecord parsed;
  ASSERT_TRUE(ParseRecord(SerializeRecord(record), parsed));
  {
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(3 * kCellBytes + 699);
    f.put('\x5a' == data[static_cast<size_t>(3 * kCellBytes + 699)] ? '\x5b' : '\x5a');  // the last byte of one prefix
  }
  DiskFile file;
  ASSERT_TRUE(file.Open(path));
  CellSums resumed;
  resumed.Reset(size);
  std::vector<Span> good;
  const std::atomic<bool> cancel{false};
  ASSERT_TRUE(VerifyClaims(parsed, file, resumed, cancel, good));
  EXPECT_EQ(good, (std::vector<Span>{{0, 8000}, {2 * kCellBytes, 3 * kCellBytes}}));
  uint32_t crc = 0;
  EXPECT_FALSE(resumed.Get(0, crc)) << "a prefix is not the whole cell's sum";
  int64_t length = 0;
  ASSERT_TRUE(resumed.GetPrefix(0, length, crc));
  EXPECT_EQ(length, 8000);
  EXPECT_FALSE(resumed.GetPrefix(3, length, crc));

  // A new stream going on where the prefix ends sums the whole cell.
  CellSums::Stream c;
  resumed.Feed(c, 8000, data.data() + 8000, static_cast<size_t>(kCellBytes - 8000));
  ASSERT_TRUE(resumed.Get(0, crc));
  EXPECT_EQ(crc, Crc32c(0, data.data(), static_cast<size_t>(kCellBytes)));
  file.Close();
  std::error_code ec;
  std::filesystem::remove_all(std::filesystem::u8path(dir), ec);
}

TEST(ResumeRecordTest, SumsRoundTripAndMustFitTheCells) {
  const int64_t size = 2 * kCellBytes + 7;
  ResumeRecord r{"http://h/f", size, "\"e\"", "", {{0, kCellBytes}, {2 * kCellBytes, size}}, {{0xDEADBEEF}, {0x01}}};
  ResumeRecord back;
  const std::string text = SerializeRecord(r);
  ASSERT_TRUE(ParseRecord(text, back));
  EXPECT_EQ(back.done, r.done);
  EXPECT_EQ(back.sums, r.sums);
  for (size_t n = 0; n + 1 < text.size(); ++n) EXPECT_FALSE(ParseRecord(text.substr(0, n), back)) << n;

  ResumeRecord bad = r;
  bad.done[0] = {1, kCellBytes};  // off the grid
  EXPECT_FALSE(ParseRecord(SerializeRecord(bad), back));
  bad = r;
  bad.sums[0] = {1, 2};  // one sum too many
  EXPECT_FALSE(ParseRecord(SerializeRecord(bad), back));
  bad = r;
  bad.done[0] = {0, kCellBytes + 1};  // two cells, one sum
  EXPECT_FALSE(ParseRecord(SerializeRecord(bad), back));
  ResumeRecord prefix = r;
  prefix.done[0] = {0, kCellBytes - 1};  // the sum of a cell's first bytes
  ASSERT_TRUE(ParseRecord(SerializeRecord(prefix), back));
  EXPECT_EQ(back.done, prefix.done);
  std::string garbled = text;
  garbled.replace(garbled.find("deadbeef"), 8, "deadbeeg");
  EXPECT_FALSE(ParseRecord(garbled, back));
}

class ResumeSumsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = corvane::test::MakeTempDir("engine-sums");
    target_ = dir_ + "/image.img";
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::u8path(dir_), ec);
  }
  static Tuning Fast() {
    Tuning t;
    t.maxConnections = 4;
    t.minSplit = 64 << 10;
    t.stallMs = 400;
    t.connectMs = 1000;
    t.retryBaseMs = 5;
    t.maxFailures = 4;
    t.checkpointMs = 50;
    t.bufferBytes = 64 << 10;
    return t;
  }
  // Runs a task until it ends, or stops it once `stopAfter` bytes are in.
  TDownTaskInfo Run(const std::string& url, bool resume, int64_t stopAfter = -1) {
    DownloadTask task(TaskParams{url, "", "", target_, resume}, limiter_, Fast());
    EXPECT_TRUE(task.Start());
    TDownTaskInfo info{};
    for (int i = 0; i < 3000; ++i) {
      task.Query(info);
      if (stopAfter >= 0 && info.nTotalDownload >= stopAfter) task.Stop();
      if (info.stat == TSC_COMPLETE || info.stat == TSC_ERROR || info.stat == TSC_PAUSE) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    task.Join();
    task.Query(info);
    return info;
  }
  std::string ReadAll(const std::string& path) {
    std::ifstream f(std::filesystem::u8path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }

  RateLimiter limiter_;
  std::string dir_, target_;
};

// What a power cut does to data the system had not written out yet: the
// record still claims it, but it reads back as zeros or old bytes. The
// resumed task fetches exactly those cells again and keeps the rest.
TEST_F(ResumeSumsTest, CellsThatDoNotReadBackRightAreFetchedAgain) {
  const std::string content = PatternContent(4 << 20, 23);
  corvane::test::TestServer server;
  ASSERT_TRUE(server.Available());
  server.WriteFile("file.bin", content);
  server.AddFault("throttle=2097152");
  ASSERT_EQ(Run(server.Url("/file.bin"), false, 2 << 20).stat, TSC_PAUSE);
  std::string text;
  ResumeRecord record;
  ASSERT_TRUE(ReadSmallFile(RecordPath(target_), text));
  ASSERT_TRUE(ParseRecord(text, record));
  ASSERT_FALSE(record.done.empty());
  ASSERT_EQ(record.sums.size(), record.done.size());
  int64_t claimed = 0;
  for (const Span& s : record.done) claimed += s.end - s.begin;
  ASSERT_GE(claimed, 4 * kCellBytes);

  // Lose one whole claimed cell and a few bytes of another.
  const int64_t lost = record.done[0].begin + kCellBytes;
  {
    DiskFile part;
    ASSERT_TRUE(part.Open(PartPath(target_)));
    const std::string zeros(static_cast<size_t>(kCellBytes), '\0');
    ASSERT_TRUE(part.WriteAt(lost, zeros.data(), zeros.size()));
    ASSERT_TRUE(part.WriteAt(record.done.back().end - 10, "xx", 2));
  }
  server.Control("clear");
  server.AddFault("throttle=8388608");  // so that the server sends little more than what is read
  const int64_t before = server.BytesSent();
  const TDownTaskInfo info = Run(server.Url("/file.bin"), true);
  EXPECT_EQ(info.stat, TSC_COMPLETE);
  EXPECT_TRUE(ReadAll(target_) == content) << "wrong content";
  const int64_t fetched = server.BytesSent() - before;
  EXPECT_GE(fetched, static_cast<int64_t>(content.size()) - claimed + 2 * kCellBytes) << "kept a damaged cell";
  // A connection cut short when its range is split may still bring a little.
  EXPECT_LT(fetched, static_cast<int64_t>(content.size()) - claimed + 2 * kCellBytes + (512 << 10))
      << "dropped good cells";
}

TEST_F(ResumeSumsTest, RecordWithoutSumsOrBeyondTheDataStartsOver) {
  const std::string content = PatternContent(1 << 20, 24);
  corvane::test::TestServer server;
  ASSERT_TRUE(server.Available());
  server.WriteFile("file.bin", content);
  const std::vector<std::vector<uint32_t>> noSums;
  for (const ResumeRecord& claim :
       {ResumeRecord{server.Url("/file.bin"), 1 << 20, "", "", {{0, 1 << 20}}, noSums},
        ResumeRecord{server.Url("/file.bin"), 1 << 20, "", "", {{0, kCellBytes}}, {{Crc32c(0, content.data(), kCellBytes)}}}}) {
    // A part file of zeros, shorter than the claim of the second record.
    std::ofstream(std::filesystem::u8path(PartPath(target_)), std::ios::binary) << std::string(1000, '\0');
    ASSERT_TRUE(WriteFileAtomically(RecordPath(target_), SerializeRecord(claim)));
    const int64_t before = server.BytesSent();
    EXPECT_EQ(Run(server.Url("/file.bin"), true).stat, TSC_COMPLETE);
    EXPECT_TRUE(ReadAll(target_) == content) << "wrong content";
    EXPECT_GE(server.BytesSent() - before, static_cast<int64_t>(content.size()));
  }
}

}  // namespace
}  // namespace xldl

// Backup, check and restore through the portable core, with partitions and files in
// memory: round trips, damaged images of every kind, refusals before writing.
#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>
#include <iterator>
#include <random>

#include "tests/tools/ghost/fake_backend.h"
#include "tools/ghost/engine.h"

namespace {

using ghost::Mode;
using ghost::Problem;
using ghosttest::FakeBackend;
using ghosttest::RecordingProgress;

// Text-like, zero and random regions, so chunks are both compressed and stored.
std::vector<std::uint8_t> samplePartition(std::size_t size, unsigned seed) {
  std::vector<std::uint8_t> bytes(size);
  std::mt19937 random(seed);
  const char* words[] = {"kernel32 ", "ntoskrnl ", "hal.dll ", "system32\\drivers ", "0000 "};
  std::size_t i = 0;
  while (i < size) {
    std::size_t region = std::min<std::size_t>(size - i, 40000 + random() % 300000);
    switch (random() % 3) {
      case 0:
        for (std::size_t j = 0; j < region; ++j) bytes[i + j] = std::uint8_t(random());
        break;
      case 1:
        for (std::size_t j = 0; j < region;) {
          const char* w = words[random() % 5];
          while (*w && j < region) bytes[i + j++] = std::uint8_t(*w++);
        }
        break;
      default: break;
    }
    i += region;
  }
  return bytes;
}

ghost::Command backupCommand(const std::string& designator, const std::string& path, int level = 9) {
  ghost::Command c;
  c.mode = Mode::Backup;
  c.partition = designator;
  c.imagePath = path;
  c.level = level;
  return c;
}

ghost::Command restoreCommand(const std::string& path, const std::string& designator) {
  ghost::Command c;
  c.mode = Mode::Restore;
  c.partition = designator;
  c.imagePath = path;
  return c;
}

ghost::Command checkCommand(const std::string& path) {
  ghost::Command c;
  c.mode = Mode::Check;
  c.imagePath = path;
  return c;
}

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    backend.partitions["1:1"].bytes = samplePartition(5 * 1024 * 1024 + 512 * 7, 1);
    backend.partitions["1:2"].bytes.assign(8 * 1024 * 1024, 0xEE);
    backend.partitions["1:2"].startByte = 64 << 20;
  }
  Problem backup(int level = 9) {
    RecordingProgress progress;
    ghost::RunOptions options;
    options.chunkSize = 256 * 1024;
    return ghost::runBackup(backupCommand("1:1", "D:\\bak.gho", level), backend, progress, options).problem;
  }
  ghost::Failure check() {
    RecordingProgress progress;
    return ghost::runCheck(checkCommand("D:\\bak.gho"), backend, progress);
  }
  ghost::Failure restore(bool crcIgnore = false) {
    RecordingProgress progress;
    auto command = restoreCommand("D:\\bak.gho", "1:2");
    command.crcIgnore = crcIgnore;
    return ghost::runRestore(command, backend, progress);
  }
  std::vector<std::uint8_t>& image() { return backend.files.byPath["D:\\bak.gho"]; }
  FakeBackend backend;
};

TEST_F(EngineTest, BackupCheckRestoreGivesTheSameBytesAtEveryLevel) {
  for (int level : {0, 1, 6, 9}) {
    SCOPED_TRACE(level);
    backend.partitions["1:2"].bytes.assign(8 * 1024 * 1024, 0xEE);
    ASSERT_EQ(backup(level), Problem::None);
    EXPECT_EQ(backend.files.byPath.size(), 1u) << "no scratch file left behind";
    EXPECT_LT(image().size(), backend.partitions["1:1"].bytes.size()) << "compressible data shrinks";
    EXPECT_EQ(check().problem, Problem::None);
    ASSERT_EQ(restore().problem, Problem::None);
    const auto& source = backend.partitions["1:1"].bytes;
    const auto& target = backend.partitions["1:2"].bytes;
    ASSERT_TRUE(std::equal(source.begin(), source.end(), target.begin()));
    EXPECT_EQ(target[source.size()], 0xEE) << "the rest of a larger target stays as it was";
  }
}

// The window shows these: from nothing to all of the data, never backwards, the same
// total for the backup, the check and the restore of one image.
TEST_F(EngineTest, EveryRunReportsItsDataFromNoneToAll) {
  ghost::RunOptions options;
  options.chunkSize = 256 * 1024;
  RecordingProgress backedUp, checked, restored;
  ASSERT_EQ(ghost::runBackup(backupCommand("1:1", "D:\\bak.gho"), backend, backedUp, options).problem, Problem::None);
  ASSERT_EQ(ghost::runCheck(checkCommand("D:\\bak.gho"), backend, checked).problem, Problem::None);
  ASSERT_EQ(ghost::runRestore(restoreCommand("D:\\bak.gho", "1:2"), backend, restored).problem, Problem::None);
  const std::uint64_t total = backedUp.reports.at(0).total;
  EXPECT_GE(total, 5u * 1024 * 1024) << "the sample partition is mostly data";
  for (const RecordingProgress* run : {&backedUp, &checked, &restored}) {
    ASSERT_GT(run->reports.size(), 2u);
    EXPECT_EQ(run->reports.front().done, 0u);
    EXPECT_EQ(run->reports.back().done, total);
    for (std::size_t i = 0; i < run->reports.size(); ++i) {
      EXPECT_EQ(run->reports[i].total, total);
      if (i) {
        EXPECT_LE(run->reports[i - 1].done, run->reports[i].done);
      }
    }
  }
}

TEST_F(EngineTest, OneWorkerGivesTheSameImageAsMany) {
  backend.threads = 1;
  ASSERT_EQ(backup(), Problem::None);
  auto single = image();
  backend.threads = 4;
  backend.nextId = 0x1122334455667788ull;
  ASSERT_EQ(backup(), Problem::None);
  EXPECT_EQ(single, image());
}

TEST_F(EngineTest, RefusalsLeaveTheTargetUntouched) {
  ASSERT_EQ(backup(), Problem::None);
  backend.partitions["1:3"].bytes.assign(5 * 1024 * 1024, 0);  // smaller than the source
  RecordingProgress progress;
  auto tooSmall = ghost::runRestore(restoreCommand("D:\\bak.gho", "1:3"), backend, progress);
  EXPECT_EQ(tooSmall.problem, Problem::TargetTooSmall);
  EXPECT_EQ(tooSmall.neededBytes, backend.partitions["1:1"].bytes.size());
  EXPECT_EQ(backend.partitions["1:3"].writes, 0);

  backend.fileOnPartition["D:\\bak.gho"] = "1:2";
  EXPECT_EQ(restore().problem, Problem::ImageOnTarget);
  EXPECT_EQ(backend.partitions["1:2"].writes, 0);

  auto second = restoreCommand("D:\\bak.gho", "1:2");
  second.imagePartition = 2;
  EXPECT_EQ(ghost::runRestore(second, backend, progress).problem, Problem::NoSuchImagePartition);
  EXPECT_EQ(ghost::runRestore(restoreCommand("D:\\none.gho", "1:2"), backend, progress).problem,
            Problem::ImageMissing);
  EXPECT_EQ(backend.partitions["1:2"].writes, 0);
}

TEST_F(EngineTest, BackupRefusesADestinationOnTheSourceAndCleansUpAfterFailures) {
  backend.fileOnPartition["D:\\bak.gho"] = "1:1";
  EXPECT_EQ(backup(), Problem::DestinationOnSource);
  EXPECT_TRUE(backend.files.byPath.empty());
  backend.fileOnPartition.clear();

  backend.files.diskFullAt = 100000;
  EXPECT_EQ(backup(), Problem::DiskFull);
  EXPECT_TRUE(backend.files.byPath.empty()) << "a failed backup leaves no half-written image";
  backend.files.diskFullAt = 0;

  backend.partitions["1:1"].failReads = true;
  EXPECT_EQ(backup(), Problem::PartitionUnreadable);
  EXPECT_TRUE(backend.files.byPath.empty());
}

TEST_F(EngineTest, AFailedBackupKeepsTheOldImageOfTheSameName) {
  ASSERT_EQ(backup(), Problem::None);
  auto old = image();
  backend.partitions["1:1"].failReads = true;
  EXPECT_EQ(backup(), Problem::PartitionUnreadable);
  EXPECT_EQ(image(), old);
}

TEST_F(EngineTest, StoppedRunsFailAndSaySo) {
  ASSERT_EQ(backup(), Problem::None);
  RecordingProgress progress;
  progress.stop = true;
  EXPECT_EQ(ghost::runCheck(checkCommand("D:\\bak.gho"), backend, progress).problem, Problem::Stopped);
  auto restored = ghost::runRestore(restoreCommand("D:\\bak.gho", "1:2"), backend, progress);
  EXPECT_EQ(restored.problem, Problem::Stopped);
  EXPECT_TRUE(restored.targetTouched);
  backend.files.byPath.clear();
  ghost::RunOptions options;
  EXPECT_EQ(ghost::runBackup(backupCommand("1:1", "D:\\bak.gho"), backend, progress, options).problem,
            Problem::Stopped);
  EXPECT_TRUE(backend.files.byPath.empty());
}

// Where a damaged byte lies decides what the reader can tell and when.
struct Damage {
  const char* name;
  std::function<void(std::vector<std::uint8_t>&)> apply;
  Problem expected;
  bool targetUntouched;  // header and map problems are found before writing
};

TEST_F(EngineTest, DamagedImagesFailCheckAndRestore) {
  ASSERT_EQ(backup(), Problem::None);
  const auto good = image();
  const std::size_t mapStored = good[104] | good[105] << 8;  // the map's stored size field
  ASSERT_GT(mapStored, 4u);
  // FORMAT.md: a 128-byte header, then the map; the end record is 32 bytes.
  const std::size_t inMap = 128 + mapStored / 2;
  std::vector<Damage> cases = {
      {"wrong magic", [](auto& b) { b[0] = 'X'; }, Problem::ImageNotOurs, true},
      {"empty file", [](auto& b) { b.clear(); }, Problem::ImageNotOurs, true},
      {"version", [](auto& b) { b[8] = 9; }, Problem::ImageVersion, true},
      {"header byte", [](auto& b) { b[40] ^= 1; }, Problem::ImageHeaderDamaged, true},
      {"header checksum", [](auto& b) { b[125] ^= 0x80; }, Problem::ImageHeaderDamaged, true},
      {"map byte", [&](auto& b) { b[inMap] ^= 0x10; }, Problem::ImageMapDamaged, true},
      {"cut in the map", [](auto& b) { b.resize(128 + 3); }, Problem::ImageTruncated, true},
      {"chunk data", [](auto& b) { b[b.size() / 2] ^= 0x01; }, Problem::ImageChunkDamaged, false},
      {"cut in a chunk", [](auto& b) { b.resize(b.size() * 2 / 3); }, Problem::ImageTruncated, false},
      {"end record missing", [](auto& b) { b.resize(b.size() - 32); },
       Problem::ImageTruncated, false},
      {"end record byte", [](auto& b) { b[b.size() - 10] ^= 0x04; }, Problem::ImageEndDamaged, false},
      {"trailing bytes", [](auto& b) { b.push_back(0); }, Problem::ImageEndDamaged, false},
  };
  for (const auto& damage : cases) {
    SCOPED_TRACE(damage.name);
    image() = good;
    damage.apply(image());
    EXPECT_EQ(check().problem, damage.expected);
    backend.partitions["1:2"].writes = 0;
    auto restored = restore();
    EXPECT_EQ(restored.problem, damage.expected);
    if (damage.targetUntouched) {
      EXPECT_EQ(backend.partitions["1:2"].writes, 0);
      EXPECT_FALSE(restored.targetTouched);
    } else {
      EXPECT_TRUE(restored.targetTouched);
    }
  }
}

TEST_F(EngineTest, CrcIgnoreGoesOnButStillReportsTheDamage) {
  ASSERT_EQ(backup(0), Problem::None);
  // Damage the stored bytes of the second chunk record, found by its magic.
  auto& bytes = image();
  std::size_t second = 0;
  int seen = 0;
  for (std::size_t i = 128; i + 4 < bytes.size(); ++i) {
    if (std::memcmp(&bytes[i], "CHNK", 4) == 0 && ++seen == 2) {
      second = i;
      break;
    }
  }
  ASSERT_GT(second, 0u);
  bytes[second + 32 + 5] ^= 0xFF;  // past the record's 32-byte header (FORMAT.md)

  auto stopped = restore(false);
  EXPECT_EQ(stopped.problem, Problem::ImageChunkDamaged);
  EXPECT_FALSE(stopped.ignoredDamage);

  backend.partitions["1:2"].bytes.assign(8 * 1024 * 1024, 0xEE);
  auto ignored = restore(true);
  EXPECT_EQ(ignored.problem, Problem::ImageChunkDamaged);
  EXPECT_TRUE(ignored.ignoredDamage);
  EXPECT_EQ(ignored.damagedChunks, 1u);
  // Everything after the damaged chunk was still restored.
  const auto& source = backend.partitions["1:1"].bytes;
  const auto& target = backend.partitions["1:2"].bytes;
  EXPECT_TRUE(std::equal(source.end() - 4096, source.end(), target.begin() + (source.size() - 4096)));
  auto lines = ghost::failureLines(ignored);
  EXPECT_EQ(lines.size(), 2u);
}

TEST_F(EngineTest, SpannedImagesReadBackAndStaleSpansAreNotMistaken) {
  backend.files.spanLimit = 1 << 20;  // the smallest span the writer makes
  std::mt19937 random(3);
  for (auto& byte : backend.partitions["1:1"].bytes) byte = std::uint8_t(random());  // stored as is
  ASSERT_EQ(backup(0), Problem::None);
  EXPECT_TRUE(backend.files.byPath.count("D:\\bak.gho.002"));
  EXPECT_TRUE(backend.files.byPath.count("D:\\bak.gho.004"));
  for (const auto& file : backend.files.byPath) EXPECT_LE(file.second.size(), 1u << 20) << file.first;
  EXPECT_EQ(check().problem, Problem::None);
  ASSERT_EQ(restore().problem, Problem::None);
  const auto& source = backend.partitions["1:1"].bytes;
  EXPECT_TRUE(std::equal(source.begin(), source.end(), backend.partitions["1:2"].bytes.begin()));

  auto thirdSpan = backend.files.byPath["D:\\bak.gho.003"];
  backend.files.byPath.erase("D:\\bak.gho.003");
  EXPECT_EQ(check().problem, Problem::ImageTruncated);
  backend.files.byPath["D:\\bak.gho.003"] = backend.files.byPath["D:\\bak.gho.004"];
  EXPECT_EQ(check().problem, Problem::SpanMismatch);
  backend.files.byPath["D:\\bak.gho.003"] = thirdSpan;

  // A new, smaller image of the same name removes the spans of the old one.
  backend.files.spanLimit = 0;
  ASSERT_EQ(backup(9), Problem::None);
  EXPECT_EQ(backend.files.byPath.size(), 1u);
  EXPECT_EQ(check().problem, Problem::None);
}

// The method field of every chunk record, walked as FORMAT.md lays the image out.
std::vector<std::uint32_t> chunkMethods(const std::vector<std::uint8_t>& image) {
  auto le = [&](std::size_t at, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | image.at(at + i);
    return v;
  };
  std::vector<std::uint32_t> methods;
  std::size_t at = ghost::kHeaderSize + le(104, 8);
  for (std::uint64_t k = le(88, 8); k > 0; --k) {
    methods.push_back(std::uint32_t(le(at + 16, 4)));
    at += ghost::kChunkHeaderSize + le(at + 12, 4);
  }
  return methods;
}

// A partition no file system claims is stored sector by sector; its zeros cost
// nothing in the image, and the zeros a device knows are never read.
TEST_F(EngineTest, ZerosAreReadOnceOrNotAtAllStoredAsNothingAndRestoredAsZeros) {
  constexpr std::uint64_t kMiB = 1 << 20;
  auto& source = backend.partitions["1:1"];
  for (std::size_t at = 100; at < source.bytes.size(); at += 64 * 1024) source.bytes[at] = 1;  // no other zero chunk
  std::fill(source.bytes.begin() + kMiB, source.bytes.begin() + 4 * kMiB, 0);
  source.holes = {{3 * kMiB, kMiB}};  // known; [1, 3) MiB are zeros it must read to see
  source.countAccess = true;
  ASSERT_EQ(backup(), Problem::None);
  // (The file-system probe reads the boot sector before.)
  for (std::size_t i = 512; i < source.bytes.size(); ++i) {
    const bool inHole = i >= 3 * kMiB && i < 4 * kMiB;
    ASSERT_EQ(source.timesRead[i], inHole ? 0 : 1) << "byte " << i;
  }
  // 256 KiB chunks: chunks 4 to 15 are the zeros.
  const auto methods = chunkMethods(image());
  ASSERT_EQ(methods.size(), (source.bytes.size() + 256 * 1024 - 1) / (256 * 1024));
  for (std::size_t k = 0; k < methods.size(); ++k) EXPECT_EQ(methods[k] == 2, k >= 4 && k < 16) << "chunk " << k;
  EXPECT_EQ(check().problem, Problem::None);

  // Onto old bytes: the zeros are written.
  ASSERT_EQ(restore().problem, Problem::None);
  auto& target = backend.partitions["1:2"];
  ASSERT_TRUE(std::equal(source.bytes.begin(), source.bytes.end(), target.bytes.begin()));

  // Onto a target that knows [2, 4) MiB read as zeros: those are not written again.
  target.bytes.assign(8 * kMiB, 0xEE);
  std::fill(target.bytes.begin() + 2 * kMiB, target.bytes.begin() + 4 * kMiB, 0);
  target.holes = {{2 * kMiB, 2 * kMiB}};
  target.countAccess = true;
  ASSERT_EQ(restore().problem, Problem::None);
  ASSERT_TRUE(std::equal(source.bytes.begin(), source.bytes.end(), target.bytes.begin()));
  for (std::size_t i = 0; i < source.bytes.size(); ++i) {
    const bool known = i >= 2 * kMiB && i < 4 * kMiB;
    ASSERT_EQ(target.timesWritten[i], known ? 0 : 1) << "byte " << i;
  }
}

// tests/data/ghost/version1.gho was written by the engine of format version 1 (96 KiB
// of a fixed pattern, 16 KiB chunks): later engines must still read it.
TEST_F(EngineTest, ImagesOfTheFirstVersionStillCheckAndRestore) {
  std::ifstream in(GHOST_TEST_DATA "/version1.gho", std::ios::binary);
  image().assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  ASSERT_GT(image().size(), ghost::kHeaderSize);
  ASSERT_EQ(image()[8], 1) << "the fixture is an image of version 1";
  std::vector<std::uint8_t> pattern(96 * 1024);
  for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = std::uint8_t(i % 251 < 100 ? 'a' + i % 7 : i * 31);
  EXPECT_EQ(check().problem, Problem::None);
  ASSERT_EQ(restore().problem, Problem::None);
  EXPECT_TRUE(std::equal(pattern.begin(), pattern.end(), backend.partitions["1:2"].bytes.begin()));

  // Version 1 knows no chunks of zeros: one there is damage, not data.
  backend.partitions["1:1"].bytes.assign(1 << 20, 0);
  ASSERT_EQ(backup(), Problem::None);
  ASSERT_EQ(chunkMethods(image()).front(), 2u);
  image()[8] = 1;
  const std::uint32_t crc = ::crc32(0, image().data(), 124);
  for (int i = 0; i < 4; ++i) image()[124 + i] = std::uint8_t(crc >> (8 * i));
  EXPECT_EQ(check().problem, Problem::ImageChunkDamaged);
}

// The lines the program shows as they are, for the failures that name figures.
TEST(FailureLines, NameTheirFiguresAndWhatBecameOfTheTarget) {
  auto failure = [](Problem problem) {
    ghost::Failure f;
    f.problem = problem;
    return f;
  };
  ghost::Failure oneChunk = failure(Problem::ImageChunkDamaged);
  oneChunk.damagedChunks = 1;
  ghost::Failure ignored = failure(Problem::ImageChunkDamaged);
  ignored.damagedChunks = 3;
  ignored.ignoredDamage = true;
  ignored.targetTouched = true;
  ghost::Failure small = failure(Problem::TargetTooSmall);
  small.neededBytes = (3u << 20) / 2;
  small.availableBytes = 1u << 20;
  ghost::Failure loops = failure(Problem::DiskUnreadable);
  loops.diskError = disk::errorOf(disk::Fault::ChainLoops);
  loops.diskError.onDisk = 2;
  ghost::Failure touched = failure(Problem::PartitionUnwritable);
  touched.targetTouched = true;
  const struct {
    ghost::Failure failure;
    std::vector<std::string> lines;
  } cases[] = {
      {failure(Problem::None), {}},
      {oneChunk, {"错误: 映像中的数据块已损坏(校验失败)。"}},
      {ignored,
       {"错误: 映像中有 3 个数据块已损坏(校验失败)。", "已按 -crcignore 忽略损坏继续还原,目标分区中的数据可能不完整。"}},
      {small, {"错误: 目标分区小于映像中的源分区,无法还原(需要 2 MB,目标分区只有 1 MB)。"}},
      {loops, {"错误: 磁盘 2: 分区表损坏: 扩展分区链接成环。"}},
      {failure(Problem::DiskUnreadable), {"错误: 无法读取磁盘的分区表。"}},
      {touched, {"错误: 写入目标分区失败。", "目标分区已被部分写入,其中的数据不可用,请重新还原。"}},
  };
  for (const auto& c : cases) EXPECT_EQ(ghost::failureLines(c.failure), c.lines);
}

TEST(RunCommand, PrintsNothingOnSuccessAndChineseLinesOnFailure) {
  FakeBackend backend;
  backend.partitions["1:1"].bytes.assign(1 << 20, 7);
  RecordingProgress progress;
  toolio::CapturedOut ok;
  EXPECT_EQ(ghost::runCommand(backupCommand("1:1", "x.gho"), backend, progress, ok), 0);
  EXPECT_EQ(ok.text(), "");
  toolio::CapturedOut bad;
  EXPECT_EQ(ghost::runCommand(checkCommand("missing.gho"), backend, progress, bad), 1);
  EXPECT_EQ(bad.text(), "错误: 找不到映像文件。\r\n");
}

}  // namespace

namespace {

// Random damage of every kind to a small image: the reader must refuse each one
// cleanly (no crash, no success) - the fuzzer's bounded, deterministic companion.
TEST(MutatedImages, AreAlwaysRefusedAndNeverCrashTheReader) {
  FakeBackend backend;
  backend.threads = 2;
  auto& source = backend.partitions["1:1"].bytes;
  source.assign(96 * 1024, 0);
  for (std::size_t i = 0; i < source.size(); ++i) source[i] = std::uint8_t(i % 251 < 100 ? 'a' + i % 7 : i * 31);
  std::fill(source.begin() + 48 * 1024, source.begin() + 80 * 1024, 0);  // two chunks of zeros
  RecordingProgress progress;
  ghost::RunOptions options;
  options.chunkSize = 16 * 1024;
  ASSERT_EQ(ghost::runBackup(backupCommand("1:1", "x.gho"), backend, progress, options).problem, Problem::None);
  const auto good = backend.files.byPath["x.gho"];
  backend.partitions["1:2"].bytes.assign(128 * 1024, 0);
  std::mt19937 random(12);
  for (int round = 0; round < 400; ++round) {
    auto bad = good;
    switch (random() % 4) {
      case 0:
      case 1:
        for (int n = 1 + random() % 3; n > 0; --n) bad[random() % bad.size()] ^= std::uint8_t(1 + random() % 255);
        break;
      case 2: bad.resize(random() % bad.size()); break;
      default: bad.insert(bad.begin() + random() % bad.size(), std::uint8_t(random())); break;
    }
    if (bad == good) continue;
    backend.files.byPath["x.gho"] = bad;
    SCOPED_TRACE(round);
    EXPECT_NE(ghost::runCheck(checkCommand("x.gho"), backend, progress).problem, Problem::None);
    auto restore = restoreCommand("x.gho", "1:2");
    restore.crcIgnore = round % 2;
    EXPECT_NE(ghost::runRestore(restore, backend, progress).problem, Problem::None);
  }
}

}  // namespace

// Backup, check and restore through the portable core, with partitions and files in
// memory: round trips, damaged images of every kind, refusals before writing.
#include <gtest/gtest.h>
#include <zlib.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
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

// A letter defined onto a folder is no mount point: when the system cannot say which
// volume holds the image, the image could be on the target, and the restore is refused.
TEST_F(EngineTest, AnImageWhoseVolumeCannotBeToldIsNotRestoredFrom) {
  ASSERT_EQ(backup(), Problem::None);
  const std::vector<std::uint8_t> before = backend.partitions["1:2"].bytes;
  backend.placeUnknown.insert("D:\\bak.gho");
  const ghost::Failure failure = restore();
  EXPECT_EQ(failure.problem, Problem::ImagePlaceUnknown);
  EXPECT_EQ(backend.partitions["1:2"].writes, 0);
  EXPECT_TRUE(backend.partitions["1:2"].bytes == before);
  EXPECT_EQ(ghost::failureLines(failure),
            (std::vector<std::string>{"错误: 无法确定映像文件位于哪个分区,它可能就在目标分区上,为免还原时覆盖映像自身,"
                                      "没有还原。请把映像文件复制到其他分区后重试。",
                                      "目标分区没有被改动。"}));
  // A backup goes on: its source is locked while it is read, so an image that landed on
  // it could not be written there.
  backend.placeUnknown.insert("D:\\second.gho");
  RecordingProgress progress;
  ghost::RunOptions options;
  options.chunkSize = 256 * 1024;
  EXPECT_EQ(ghost::runBackup(backupCommand("1:1", "D:\\second.gho"), backend, progress, options).problem, Problem::None);
  backend.placeUnknown.clear();
  EXPECT_EQ(restore().problem, Problem::None);
}

TEST_F(EngineTest, ARestoreWhoseLastSectorCannotBeReachedIsRefusedBeforeAnyWrite) {
  ASSERT_EQ(backup(), Problem::None);
  backend.partitions["1:2"].failTailReads = true;
  const std::vector<std::uint8_t> before = backend.partitions["1:2"].bytes;
  const ghost::Failure failure = restore();
  EXPECT_EQ(failure.problem, Problem::PartitionTailUnreachable);
  EXPECT_EQ(failure.target, ghost::TargetState::Untouched);
  EXPECT_EQ(backend.partitions["1:2"].writes, 0);
  EXPECT_TRUE(backend.partitions["1:2"].bytes == before);
  EXPECT_EQ(ghost::failureLines(failure),
            (std::vector<std::string>{
                "错误: 无法读取目标分区末尾的扇区(系统拒绝越过文件系统边界的读写)。", "目标分区没有被改动。"}));
  backend.partitions["1:2"].failTailReads = false;
  EXPECT_EQ(restore().problem, Problem::None);
}

TEST_F(EngineTest, AVolumeInUseIsNamedWithItsLetter) {
  backend.inUse["1:1"] = "D:";
  backend.inUse["1:2"] = "";
  RecordingProgress progress;
  const ghost::Failure busySource = ghost::runBackup(backupCommand("1:1", "E:\\a.gho"), backend, progress);
  EXPECT_EQ(ghost::failureLines(busySource),
            std::vector<std::string>{"错误: 分区 1:1 (D:) 正被其他程序使用(如资源管理器窗口或杀毒软件),无法锁定。"
                                     "请关闭占用该分区的程序后重试。"});
  backend.inUse.erase("1:1");
  ASSERT_EQ(backup(), Problem::None);
  const ghost::Failure busyTarget = restore();
  EXPECT_EQ(ghost::failureLines(busyTarget),
            (std::vector<std::string>{"错误: 分区 1:2 正被其他程序使用(如资源管理器窗口或杀毒软件),无法锁定。"
                                      "请关闭占用该分区的程序后重试。",
                                      "目标分区没有被改动。"}));
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
  EXPECT_EQ(restored.target, ghost::TargetState::Untouched) << "stopped before the first write";
  EXPECT_EQ(backend.partitions["1:2"].writes, 0);
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
  bool targetUntouched;  // all but damaged chunk data is found before writing
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
      {"cut in a chunk", [](auto& b) { b.resize(b.size() * 2 / 3); }, Problem::ImageTruncated, true},
      {"cut in the last chunk", [](auto& b) { b.resize(b.size() - ghost::kEndRecordSize - 100); },
       Problem::ImageTruncated, true},
      {"end record missing", [](auto& b) { b.resize(b.size() - ghost::kEndRecordSize); },
       Problem::ImageTruncated, true},
      {"end record byte", [](auto& b) { b[b.size() - 10] ^= 0x04; }, Problem::ImageEndDamaged, true},
      {"end record cut", [](auto& b) { b.resize(b.size() - 1); }, Problem::ImageTruncated, true},
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
      EXPECT_EQ(restored.target, ghost::TargetState::Untouched);
    } else {
      EXPECT_EQ(restored.target, ghost::TargetState::PartlyWritten);
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

  // A new, smaller image of the same name removes the spans of the old one, and the
  // scratch spans a killed backup of that name left.
  backend.files.spanLimit = 0;
  backend.files.byPath["D:\\bak.gho.005.vrelpart"] = {1, 2, 3};
  backend.files.byPath["D:\\bak.gho.006.vrelpart"] = {1, 2, 3};
  ASSERT_EQ(backup(9), Problem::None);
  EXPECT_EQ(backend.files.byPath.size(), 1u);
  EXPECT_EQ(check().problem, Problem::None);
}

// An NTFS volume made by mkntfs (4 KiB clusters) filling a partition of `sectors`.
// then: a shell command run on the new volume's file, named by $1.
std::vector<std::uint8_t> mkntfsVolume(std::uint64_t sectors, const std::string& then = {}) {
  char path[] = "/tmp/ghost-ntfs-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return {};
  close(fd);
  const std::string file = path;
  std::string make = "truncate -s " + std::to_string(sectors * 512) + " " + file +
                     " && /usr/sbin/mkntfs -q -Q -F -s 512 -c 4096 " + file + " >/dev/null 2>&1";
  if (!then.empty()) make += " && sh -c '" + then + "' volume " + file;
  std::vector<std::uint8_t> bytes;
  if (std::system(make.c_str()) == 0) {
    std::FILE* in = std::fopen(path, "rb");
    bytes.resize(sectors * 512);
    if (!in || std::fread(bytes.data(), 1, bytes.size(), in) != bytes.size()) bytes.clear();
    if (in) std::fclose(in);
  }
  std::remove(path);
  return bytes;
}

// Restored onto a larger partition, NTFS is grown to fill it where the platform can:
// a grow that fails leaves the restore a success with a notice; less than a cluster
// of room is not worth a grow that Windows would refuse.
TEST(NtfsGrow, IsAskedForWithAClusterOfRoomAndAFailureIsANoticeOfASuccess) {
  if (access("/usr/sbin/mkntfs", X_OK) != 0) GTEST_SKIP() << "no mkntfs";
  const std::uint64_t sourceSectors = 16384;  // 8 MiB; mkntfs leaves the last sector to the backup boot sector
  const std::vector<std::uint8_t> volume = mkntfsVolume(sourceSectors);
  ASSERT_EQ(volume.size(), sourceSectors * 512);
  using Outcome = ghost::NtfsGrowth::Outcome;
  struct Case {
    const char* what;
    std::uint64_t extraSectors;
    Outcome outcome;
    int calls;
    std::string printed;
  };
  const Case cases[] = {
      {"grown", 8, Outcome::Grown, 1, ""},
      {"refused", 8 * 100, Outcome::Failed, 1,
       "提示: 分区已还原,但未能把 NTFS 扩展到整个分区(错误 87),分区容量仍为映像的原始大小,可在磁盘管理中扩展该卷。\r\n"},
      {"platform cannot", 8, Outcome::Unsupported, 1, ""},
      {"seven sectors of room", 7, Outcome::Failed, 0, ""},
      {"same size", 0, Outcome::Failed, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeBackend backend;
    backend.partitions["1:1"].bytes = volume;
    RecordingProgress progress;
    toolio::CapturedOut quiet;
    ASSERT_EQ(ghost::runCommand(backupCommand("1:1", "D:\\ntfs.gho"), backend, progress, quiet), 0) << quiet.text();
    backend.partitions["1:2"].bytes.assign((sourceSectors + c.extraSectors) * 512, 0);
    backend.growth = {c.outcome, 87};
    toolio::CapturedOut out;
    EXPECT_EQ(ghost::runCommand(restoreCommand("D:\\ntfs.gho", "1:2"), backend, progress, out), 0);
    EXPECT_EQ(backend.extendCalls, c.calls);
    EXPECT_EQ(out.text(), c.printed);
    EXPECT_TRUE(std::equal(volume.begin() + 512, volume.end() - 512, backend.partitions["1:2"].bytes.begin() + 512))
        << "the data is there whatever became of the grow";
  }
}

// Run alone, the engine asks nothing: it notes the risky state it finds, as notices
// the program counts as a success, and goes on.
TEST(RiskNotes, TheEngineNotesWhatItFindsAndGoesOn) {
  if (access("/usr/sbin/mkntfs", X_OK) != 0) GTEST_SKIP() << "no mkntfs";
  // Marked dirty as a scheduled check leaves it (ntfsresize), then a hibernation file.
  const std::vector<std::uint8_t> volume =
      mkntfsVolume(65536, "echo y | ntfsresize -f -s 24M \"$1\" >/dev/null 2>&1 && printf HIBR > \"$1.h\" && "
                          "ntfscp -f -q \"$1\" \"$1.h\" hiberfil.sys >/dev/null 2>&1; s=$?; rm -f \"$1.h\"; exit $s");
  ASSERT_EQ(volume.size(), 65536u * 512) << "mkntfs, ntfsresize or ntfscp failed";
  FakeBackend backend;
  backend.partitions["1:1"].bytes = volume;
  RecordingProgress progress;
  toolio::CapturedOut backedUp;
  EXPECT_EQ(ghost::runCommand(backupCommand("1:1", "D:\\ntfs.gho"), backend, progress, backedUp), 0);
  EXPECT_EQ(backedUp.text(),
            "提示: 该分区上的Windows处于休眠或快速启动状态,映像中是休眠时留在磁盘上的文件,可能不完整。\r\n"
            "提示: 该分区的NTFS被标记为需要检查,空间位图可能与文件不符,映像可能漏掉数据;建议运行 chkdsk /f 后重新备份。\r\n");
  // Restored over the same hibernated, dirty volume: the dirty flag goes with it.
  backend.partitions["1:2"].bytes = volume;
  toolio::CapturedOut restored;
  EXPECT_EQ(ghost::runCommand(restoreCommand("D:\\ntfs.gho", "1:2"), backend, progress, restored), 0);
  EXPECT_EQ(restored.text(), "提示: 目标分区上原有的Windows处于休眠或快速启动状态,它休眠时未保存的内容已随还原丢失。\r\n");

  // BitLocker, by its boot sector's name, both ways.
  std::vector<std::uint8_t> encrypted = samplePartition(2 << 20, 3);
  std::memcpy(encrypted.data() + 3, "-FVE-FS-", 8);
  backend.partitions["1:3"].bytes = encrypted;
  toolio::CapturedOut bitLockerBackup;
  EXPECT_EQ(ghost::runCommand(backupCommand("1:3", "D:\\fve.gho"), backend, progress, bitLockerBackup), 0);
  EXPECT_EQ(bitLockerBackup.text(), "提示: 该分区是BitLocker加密卷,映像逐个扇区保存了加密的数据,只能原样还原成加密卷,"
                                    "要用原来的密钥才能打开。\r\n");
  backend.partitions["1:4"].bytes = encrypted;
  toolio::CapturedOut bitLockerRestore;
  EXPECT_EQ(ghost::runCommand(restoreCommand("D:\\fve.gho", "1:4"), backend, progress, bitLockerRestore), 0);
  EXPECT_EQ(bitLockerRestore.text(), "提示: 目标分区原是BitLocker加密卷,已被映像覆盖,原来加密的数据不再存在。\r\n");
  EXPECT_TRUE(backend.partitions["1:4"].bytes == encrypted);
  // A restore refused before writing leaves the volume as it was, and says only why.
  backend.partitions["1:5"].bytes.assign(1 << 20, 0);
  std::memcpy(backend.partitions["1:5"].bytes.data() + 3, "-FVE-FS-", 8);
  toolio::CapturedOut refused;
  EXPECT_EQ(ghost::runCommand(restoreCommand("D:\\fve.gho", "1:5"), backend, progress, refused), 1);
  EXPECT_EQ(refused.text().find("提示"), std::string::npos) << refused.text();
}

// Boot sectors the restore must recognise without reading a volume behind them: an
// exFAT one (its backup boot region at sector 12) and an NTFS one (its copy in the
// partition's last sector).
void giveExFatBootSector(std::vector<std::uint8_t>& partition) {
  std::uint8_t* boot = partition.data();
  std::memset(boot, 0, 512);
  boot[0] = 0xEB;
  std::memcpy(boot + 3, "EXFAT   ", 8);
  boot[0x6C] = 9, boot[0x6D] = 3;  // 512-byte sectors, 4 KiB clusters
  boot[510] = 0x55, boot[511] = 0xAA;
  std::memcpy(partition.data() + 12 * 512, boot, 512);
}

void giveNtfsBootSector(std::vector<std::uint8_t>& partition) {
  std::uint8_t* boot = partition.data();
  std::memset(boot, 0, 512);
  std::memcpy(boot + 3, "NTFS    ", 8);
  boot[12] = 0x02, boot[13] = 8;  // 512-byte sectors, 4 KiB clusters
  const std::uint64_t total = partition.size() / 512 - 1;
  for (int i = 0; i < 8; ++i) boot[0x28 + i] = std::uint8_t(total >> (8 * i));
  boot[510] = 0x55, boot[511] = 0xAA;
  std::memcpy(partition.data() + total * 512, boot, 512);
}

TEST_F(EngineTest, TheBootSectorsAreClearedFirstAndWrittenLast) {
  auto& source = backend.partitions["1:1"].bytes;
  giveExFatBootSector(source);
  ASSERT_EQ(backup(), Problem::None);
  auto& target = backend.partitions["1:2"];
  giveNtfsBootSector(target.bytes);  // the target's own volume, its copy at its end
  const std::uint64_t targetCopy = target.bytes.size() - 512;
  ASSERT_EQ(restore().problem, Problem::None);
  const auto& order = target.writeOffsets;
  ASSERT_GT(order.size(), 4u);
  EXPECT_EQ(order[0], 0u) << "the target's boot sector is cleared before anything else";
  EXPECT_EQ(order[1], targetCopy) << "and so is its copy";
  const auto last = std::find(order.begin() + 2, order.end(), 0u);
  ASSERT_NE(last, order.end());
  ASSERT_EQ(order.end() - last, 2) << "the image's boot sector and its copy come after every chunk";
  EXPECT_EQ(*(last + 1), 12u * 512);
  for (auto at = order.begin() + 2; at != last; ++at) EXPECT_NE(*at, 12u * 512) << "the copy is held back too";
  EXPECT_TRUE(std::equal(source.begin(), source.end(), target.bytes.begin()));
}

TEST_F(EngineTest, ATargetLeftHalfWayHasNoBootSector) {
  auto& source = backend.partitions["1:1"].bytes;
  giveExFatBootSector(source);
  ASSERT_EQ(backup(), Problem::None);
  auto& target = backend.partitions["1:2"];
  giveExFatBootSector(target.bytes);
  target.failWritesFrom = source.size() / 2;  // as a kill or a dead disk would stop it
  const auto failed = restore();
  EXPECT_EQ(failed.problem, Problem::PartitionUnwritable);
  EXPECT_EQ(failed.target, ghost::TargetState::PartlyWritten);
  for (std::uint64_t at : {0u, 12u * 512}) {
    EXPECT_TRUE(std::all_of(target.bytes.begin() + at, target.bytes.begin() + at + 512, [](std::uint8_t b) { return b == 0; }))
        << "no boot sector at " << at;
  }
  EXPECT_TRUE(std::equal(source.begin() + 8192, source.begin() + 65536, target.bytes.begin() + 8192))
      << "the data before the failure is written";
}

TEST_F(EngineTest, BytesAfterACorrectEndRecordAreNoDamage) {
  ASSERT_EQ(backup(), Problem::None);
  image().insert(image().end(), 4096, 0);
  EXPECT_EQ(check().problem, Problem::None);
  ASSERT_EQ(restore().problem, Problem::None);
  const auto& source = backend.partitions["1:1"].bytes;
  EXPECT_TRUE(std::equal(source.begin(), source.end(), backend.partitions["1:2"].bytes.begin()));
}

TEST_F(EngineTest, AnotherSectorSizeIsRefusedBeforeWriting) {
  backend.partitions["1:1"].bytes.resize(5 * 1024 * 1024);  // whole 4096-byte sectors
  for (auto sizes : {std::pair<std::uint32_t, std::uint32_t>{512, 4096}, {4096, 512}}) {
    backend.partitions["1:1"].sectorSize = sizes.first;
    backend.partitions["1:2"].sectorSize = sizes.second;
    ASSERT_EQ(backup(), Problem::None);
    const auto refused = restore();
    EXPECT_EQ(refused.problem, Problem::SectorSizeMismatch);
    EXPECT_EQ(refused.imageSectorSize, sizes.first);
    EXPECT_EQ(refused.targetSectorSize, sizes.second);
    EXPECT_EQ(backend.partitions["1:2"].writes, 0);
  }
}

TEST_F(EngineTest, EachImagePathFaultIsNamedAndNothingIsWritten) {
  ASSERT_EQ(backup(), Problem::None);
  const auto good = image();
  backend.files.specials["D:\\folder"] = ghost::PathKind::Folder;
  backend.files.specials["D:\\pipe"] = ghost::PathKind::Other;
  backend.files.byPath["D:\\short.gho"].assign(good.begin(), good.begin() + 100);
  backend.files.byPath["D:\\magic.gho"].assign(good.begin(), good.begin() + 8);
  backend.files.byPath["D:\\seven.gho"].assign(good.begin(), good.begin() + 7);
  const struct {
    const char* path;
    Problem expected;
  } cases[] = {
      {"D:\\folder", Problem::ImageIsFolder},   {"D:\\pipe", Problem::ImageNotAFile},
      {"D:\\short.gho", Problem::ImageTruncated}, {"D:\\magic.gho", Problem::ImageTruncated},
      {"D:\\seven.gho", Problem::ImageNotOurs},  {"D:\\none.gho", Problem::ImageMissing},
  };
  RecordingProgress progress;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(ghost::runCheck(checkCommand(c.path), backend, progress).problem, c.expected);
    const auto restored = ghost::runRestore(restoreCommand(c.path, "1:2"), backend, progress);
    EXPECT_EQ(restored.problem, c.expected);
    EXPECT_EQ(restored.target, ghost::TargetState::Untouched);
  }
  backend.files.failReadsFrom = good.size() / 2;
  EXPECT_EQ(check().problem, Problem::ImageReadError);
  EXPECT_EQ(backend.partitions["1:2"].writes, 0);
}

TEST_F(EngineTest, ABackupReplacesOnlyARegularFile) {
  backend.files.specials["D:\\folder"] = ghost::PathKind::Folder;
  backend.files.specials["NUL"] = ghost::PathKind::Other;
  RecordingProgress progress;
  EXPECT_EQ(ghost::runBackup(backupCommand("1:1", "D:\\folder"), backend, progress).problem,
            Problem::DestinationIsFolder);
  EXPECT_EQ(ghost::runBackup(backupCommand("1:1", "NUL"), backend, progress).problem, Problem::DestinationNotAFile);
  EXPECT_TRUE(backend.files.byPath.empty()) << "not even a scratch file";
  backend.files.byPath["D:\\bak.gho"] = {1, 2, 3};
  EXPECT_EQ(backup(), Problem::None) << "an older image is replaced";
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
    // Sector 0 twice: cleared before the first chunk, the image's own after the last.
    ASSERT_EQ(target.timesWritten[i], known ? 0 : i < 512 ? 2 : 1) << "byte " << i;
  }
}

// A chunk of zeros over the boot sector takes the same way as data: the target's old
// volume is cleared first, the image's first sector (zeros here) comes last, and what
// the target knows as zeros is not written.
TEST_F(EngineTest, ZerosOverTheBootSectorAreHeldBackAndKnownZerosSkipped) {
  constexpr std::size_t kChunk = 256 * 1024;
  auto& source = backend.partitions["1:1"].bytes;
  std::fill(source.begin(), source.begin() + kChunk, 0);  // no file system: sector by sector
  ASSERT_EQ(backup(), Problem::None);
  ASSERT_EQ(chunkMethods(image()).front(), 2u);
  auto& target = backend.partitions["1:2"];
  giveNtfsBootSector(target.bytes);
  std::fill(target.bytes.begin() + 4096, target.bytes.begin() + kChunk, 0);
  target.holes = {{4096, kChunk - 4096}};
  ASSERT_EQ(restore().problem, Problem::None);
  EXPECT_TRUE(std::equal(source.begin(), source.end(), target.bytes.begin()));
  const auto& order = target.writeOffsets;
  ASSERT_GE(order.size(), 3u);
  EXPECT_EQ(order.front(), 0u);
  EXPECT_EQ(order.back(), 0u) << "the image's first sector comes last";
  for (std::uint64_t at : order) EXPECT_FALSE(at >= 4096 && at < kChunk) << "known zeros written at " << at;
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
  ignored.target = ghost::TargetState::PartlyWritten;
  ghost::Failure small = failure(Problem::TargetTooSmall);
  small.neededBytes = (3u << 20) / 2;
  small.availableBytes = 1u << 20;
  ghost::Failure loops = failure(Problem::DiskUnreadable);
  loops.diskError = disk::errorOf(disk::Fault::ChainLoops);
  loops.diskError.onDisk = 2;
  ghost::Failure touched = failure(Problem::PartitionUnwritable);
  touched.target = ghost::TargetState::PartlyWritten;
  ghost::Failure untouched = failure(Problem::ImageChunkDamaged);
  untouched.damagedChunks = 1;
  untouched.target = ghost::TargetState::Untouched;
  ghost::Failure lastSector = failure(Problem::PartitionUnwritable);
  lastSector.target = ghost::TargetState::DataWritten;
  ghost::Failure sectors = failure(Problem::SectorSizeMismatch);
  sectors.imageSectorSize = 4096;
  sectors.targetSectorSize = 512;
  sectors.target = ghost::TargetState::Untouched;
  ghost::Failure mft = failure(Problem::SourceUnmappable);
  mft.diskError = disk::errorOf(disk::Fault::NtfsRecordTorn, 37);
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
      {touched, {"错误: 写入目标分区失败。", "目标分区已被部分写入,其中的数据不可用(引导扇区已清除),请重新还原。"}},
      {untouched, {"错误: 映像中的数据块已损坏(校验失败)。", "目标分区没有被改动。"}},
      {lastSector,
       {"错误: 写入目标分区失败。", "映像的数据已全部写入目标分区,但最后写入引导扇区时失败,目标分区可能无法使用,请重新还原。"}},
      {sectors,
       {"错误: 映像来自扇区大小为 4096 字节的磁盘,目标磁盘的扇区大小为 512 字节,不能还原。", "目标分区没有被改动。"}},
      {mft, {"错误: 不能确定源分区中哪些数据在使用,没有创建映像: NTFS 文件系统损坏: 主文件表记录 37 不完整。"}},
      {failure(Problem::ImageReadError), {"错误: 读取映像文件时出错(保存映像的磁盘或网络读取失败)。"}},
      {failure(Problem::ImageUnreadable), {"错误: 无法打开映像文件(拒绝访问或文件正被使用)。"}},
      {failure(Problem::ImageIsFolder), {"错误: 映像路径是一个文件夹,不是映像文件。"}},
      {failure(Problem::ImageNotAFile), {"错误: 映像路径不是普通文件(是设备、管道或其他特殊文件)。"}},
      {failure(Problem::DestinationIsFolder), {"错误: 保存位置是一个文件夹,请给出映像文件的名称。"}},
      {failure(Problem::DestinationNotAFile),
       {"错误: 保存位置已存在且不是普通文件(是设备、管道或其他特殊文件),不能用映像替换它。"}},
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

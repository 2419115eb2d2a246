#include "tools/bootice/bootice.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "platform/gbk.h"
#include "tests/support/gbk_text.h"
#include "tools/bootice/boot_records.h"

namespace bootice {
namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

struct Entry {
  std::uint8_t flag;
  std::uint8_t type;
  std::uint32_t startSector;
  std::uint32_t sectors;
};

void putU32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = std::uint8_t(value >> (8 * i));
}

// An 8 MiB MBR disk with the given primary entries, old boot code of 0xCC bytes and
// the signature 0xA1B2C3D4.
std::unique_ptr<disk::MemoryDevice> mbrDisk(std::initializer_list<Entry> entries) {
  auto disk = std::make_unique<disk::MemoryDevice>(8 * kMiB);
  auto& bytes = disk->bytes();
  std::memset(bytes.data(), 0xCC, kBootCodeSize);
  putU32(bytes, 0x1B8, 0xA1B2C3D4);
  std::size_t at = kTableOffset;
  for (const Entry& e : entries) {
    bytes[at] = e.flag;
    bytes[at + 4] = e.type;
    putU32(bytes, at + 8, e.startSector);
    putU32(bytes, at + 12, e.sectors);
    at += kEntrySize;
  }
  bytes[510] = 0x55;
  bytes[511] = 0xAA;
  return disk;
}

// Wraps a disk so that tests can make writes fail or vanish.
class FlakyDevice : public disk::Device {
 public:
  explicit FlakyDevice(disk::Device& inner) : inner_(inner) {}
  std::uint64_t size() const override { return inner_.size(); }
  bool read(std::uint64_t offset, void* buffer, std::size_t length) override {
    return inner_.read(offset, buffer, length);
  }
  bool write(std::uint64_t offset, const void* buffer, std::size_t length) override {
    ++writes;
    if (failWrites) return false;
    if (dropWrites) return true;
    return inner_.write(offset, buffer, length);
  }
  bool flush() override { return true; }
  bool failWrites = false;
  bool dropWrites = false;
  int writes = 0;

 private:
  disk::Device& inner_;
};

class FakeTarget : public Target {
 public:
  FakeTarget(disk::Device& disk, int partition, int& locks, int& tableChanges)
      : disk_(disk), partition_(partition), locks_(locks), tableChanges_(tableChanges) {}
  disk::Device& disk() override { return disk_; }
  int partitionNumber() const override { return partition_; }
  bool lockVolume() override {
    ++locks_;
    return false;  // something holds the volume: sector 0 is still written
  }
  void tableChanged() override { ++tableChanges_; }

 private:
  disk::Device& disk_;
  int partition_;
  int& locks_;
  int& tableChanges_;
};

// Devices "C:" (partition 1), "D:" (2), "E:" (3) and "Z:" (9, not in any table).
class FakeBackend : public Backend {
 public:
  explicit FakeBackend(disk::Device& disk) : disk_(disk) {}
  std::unique_ptr<Target> open(const std::string& device, bootice::Report& failure) override {
    ++opens;
    static const std::map<std::string, int> kPartitions = {{"C:", 1}, {"D:", 2}, {"E:", 3}, {"Z:", 9}};
    auto found = kPartitions.find(device);
    if (found == kPartitions.end()) {
      failure = bootice::report(bootice::Result::NoDevice, device);
      return nullptr;
    }
    return std::make_unique<FakeTarget>(disk_, found->second, locks, tableChanges);
  }
  int opens = 0;
  int locks = 0;
  int tableChanges = 0;

 private:
  disk::Device& disk_;
};

struct ToolRun {
  int code;
  std::string text;
};

ToolRun run(disk::Device& disk, const std::string& line, FakeBackend* backendOut = nullptr) {
  FakeBackend local(disk);
  FakeBackend& backend = backendOut ? *backendOut : local;
  std::vector<std::string> args = gbk::split(line, " ");
  toolio::CapturedOut out;
  const int code = runBootice(args, backend, out);
  return {code, out.text()};
}

TEST(BooticeTool, ActivationMovesTheFlag) {
  auto disk = mbrDisk({{0x80, 0x07, 2048, 4096}, {0x00, 0x07, 8192, 4096}, {0x00, 0x0C, 12288, 2048}});
  FakeBackend backend(*disk);
  ToolRun result = run(*disk, "/DEVICE=E: /partitions /activate /quiet", &backend);
  EXPECT_EQ(result.code, 0) << gbktest::toUtf8(result.text);
  const auto& bytes = disk->bytes();
  EXPECT_EQ(bytes[0x1BE], 0x00);
  EXPECT_EQ(bytes[0x1CE], 0x00);
  EXPECT_EQ(bytes[0x1DE], 0x80);
  EXPECT_EQ(bytes[0x1B8], 0xD4) << "signature kept";
  EXPECT_EQ(bytes[0], 0xCC) << "activation leaves the boot code alone";
  EXPECT_EQ(backend.tableChanges, 1);
  EXPECT_EQ(backend.locks, 1);

  // Already active: nothing to write, nothing for the system to re-read.
  FlakyDevice watched(*disk);
  FakeBackend again(watched);
  EXPECT_EQ(run(watched, "/DEVICE=E: /partitions /activate", &again).code, 0);
  EXPECT_EQ(watched.writes, 0);
  EXPECT_EQ(again.tableChanges, 0);
}

TEST(BooticeTool, CommandLineErrorsOpenNoDevice) {
  auto disk = mbrDisk({{0x80, 0x07, 2048, 4096}});
  FakeBackend backend(*disk);
  ToolRun result = run(*disk, "/DEVICE=C: /mbr /install /type=ntldr", &backend);
  EXPECT_EQ(result.code, 2);
  EXPECT_TRUE(gbk::contains(result.text, "用法")) << gbktest::toUtf8(result.text);
  EXPECT_EQ(backend.opens, 0);
}

TEST(BooticeTool, FailedOrLostWritesAreReported) {
  auto disk = mbrDisk({{0x80, 0x07, 2048, 4096}});
  FlakyDevice failing(*disk);
  failing.failWrites = true;
  ToolRun result = run(failing, "/DEVICE=C: /mbr /install");
  EXPECT_EQ(result.code, 1);
  EXPECT_TRUE(gbk::contains(result.text, "写入磁盘失败")) << gbktest::toUtf8(result.text);

  FlakyDevice dropping(*disk);
  dropping.dropWrites = true;
  result = run(dropping, "/DEVICE=C: /partitions /activate");
  EXPECT_EQ(result.code, 0) << "already active: no write needed";
  result = run(dropping, "/DEVICE=C: /mbr /install");
  EXPECT_EQ(result.code, 1);
  EXPECT_TRUE(gbk::contains(result.text, "不一致")) << gbktest::toUtf8(result.text);
}

// Writes a FAT16-like boot sector at partition 1 (sector 2048) with the given name
// in its code, and a root directory entry "BOOTMGR" in the sector after it.
void putBootSector(disk::MemoryDevice& disk, const char* nameInCode) {
  auto& bytes = disk.bytes();
  const std::size_t at = 2048 * kSectorSize;
  bytes[at] = 0xEB;
  std::memcpy(&bytes[at + 0x36], "FAT16   ", 8);
  bytes[at + 0x0E] = 1;  // one reserved sector: the FAT follows at once
  if (nameInCode) std::memcpy(&bytes[at + 0x1A0], nameInCode, std::strlen(nameInCode));
  bytes[at + 510] = 0x55;
  bytes[at + 511] = 0xAA;
  std::memcpy(&bytes[at + kSectorSize], "BOOTMGR    ", 11);
}

TEST(BooticeTool, PbrCheckNamesWhatTheBootSectorLoads) {
  const struct {
    const char* nameInCode;
    const char* type;
    int code;
    const char* textPart;
  } cases[] = {
      {"BOOTMGR", "bootmgr", 0, "加载 BOOTMGR"},
      {"NTLDR", "ntldr", 0, "加载 NTLDR"},
      {"NTLDR", "bootmgr", 1, "加载的是 NTLDR"},
      {"BOOTMGR", "ntldr", 1, "加载的是 BOOTMGR"},
      // The directory entry after the one-sector boot area is no boot code.
      {nullptr, "bootmgr", 1, "不是 Windows 引导代码"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.nameInCode ? c.nameInCode : "none") + " " + c.type);
    auto disk = mbrDisk({{0x80, 0x06, 2048, 4096}});
    putBootSector(*disk, c.nameInCode);
    FlakyDevice watched(*disk);
    ToolRun result = run(watched, std::string("/DEVICE=C: /pbr /install  /type=") + c.type + "  /quiet");
    EXPECT_EQ(result.code, c.code);
    EXPECT_TRUE(gbk::contains(result.text, c.textPart)) << gbktest::toUtf8(result.text);
    EXPECT_TRUE(gbk::contains(result.text, "FAT16")) << gbktest::toUtf8(result.text);
    EXPECT_EQ(watched.writes, 0);
  }
}

}  // namespace
}  // namespace bootice

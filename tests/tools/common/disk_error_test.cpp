// The disk layer's texts, as the lister, the engine and the boot-record writer print them.
#include <gtest/gtest.h>

#include "tools/common/disk_error.h"

namespace {

disk::Error opened(const char* path, const char* system) {
  disk::Error e = disk::errorOf(disk::Fault::DeviceUnopenable);
  e.path = path;
  e.system = system;
  return e;
}

TEST(DiskErrorTexts, NamesTheirNumbersAndPathsAsTheToolsPrintThem) {
  disk::Error gpt = disk::errorOf(disk::Fault::GptHeaderChecksum);
  gpt.backupBad = true;
  disk::Error onDisk = disk::errorOf(disk::Fault::ChainLoops);
  onDisk.onDisk = 3;
  const struct {
    disk::Error error;
    const char* text;
  } cases[] = {
      {disk::errorOf(disk::Fault::PartitionsOverlap, 1, 2), "分区表损坏: 分区 1 与分区 2 重叠。"},
      {disk::errorOf(disk::Fault::NoSuchPartition, 2, 7), "分区 2:7 不存在。"},
      {disk::errorOf(disk::Fault::SectorUnreadable, 4294967296ull), "无法读取磁盘扇区 4294967296。"},
      {disk::errorOf(disk::Fault::NtfsRecordTorn, 6), "NTFS 文件系统损坏: 主文件表记录 6 不完整。"},
      {gpt, "分区表损坏: GPT 分区表头校验和错误。 (备份分区表头也无效)"},
      {onDisk, "磁盘 3: 分区表损坏: 扩展分区链接成环。"},
      // A path is never read as markers, however it is spelt.
      {opened("/tmp/100%1 %p.img", "No such file"), "无法打开磁盘 /tmp/100%1 %p.img: No such file"},
      {disk::errorOf(disk::Fault::NotADiskImage), "无法打开磁盘 : 不是磁盘映像文件或块设备。"},
  };
  for (const auto& c : cases) EXPECT_EQ(disk::describe(c.error), c.text);
  EXPECT_FALSE(disk::Error{});
  EXPECT_TRUE(disk::errorOf(disk::Fault::FatTooSmall));
}

}  // namespace

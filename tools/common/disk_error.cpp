#include "tools/common/disk_error.h"

#include "tools/common/text_markers.h"


namespace disk {

namespace {

// %1 and %2 stand for the numbers, %p for the path, %s for the system's words.
const struct {
  Fault key;
  const char* text;
} kTexts[] = {
    {Fault::DeviceUnopenable, "无法打开磁盘 %p: %s"},
    {Fault::NotADiskImage, "无法打开磁盘 %p: 不是磁盘映像文件或块设备。"},
    {Fault::NoSuchDisk, "磁盘 %1 不存在。"},
    {Fault::NoSuchPartition, "分区 %1:%2 不存在。"},
    {Fault::SectorSizeInvalid, "磁盘扇区大小无效。"},
    {Fault::SectorUnreadable, "无法读取磁盘扇区 %1。"},
    {Fault::BadActiveFlag, "分区表损坏: 第 %1 个分区表项的活动标志无效。"},
    {Fault::StartsAtSectorZero, "分区表损坏: 分区 %1 从扇区 0 开始。"},
    {Fault::PastDiskEnd, "分区表损坏: 分区 %1 超出磁盘末尾。"},
    {Fault::LogicalOutsideExtended, "分区表损坏: 逻辑分区 %1 超出扩展分区范围。"},
    {Fault::ExtendedPastDiskEnd, "分区表损坏: 扩展分区超出磁盘末尾。"},
    {Fault::OverlapsExtended, "分区表损坏: 分区 %1 与扩展分区重叠。"},
    {Fault::PartitionsOverlap, "分区表损坏: 分区 %1 与分区 %2 重叠。"},
    {Fault::ChainLoops, "分区表损坏: 扩展分区链接成环。"},
    {Fault::TooManyLogicals, "分区表损坏: 逻辑分区过多。"},
    {Fault::BadExtendedTable, "分区表损坏: 扇区 %1 处的扩展分区表无效。"},
    {Fault::LinkOutsideExtended, "分区表损坏: 扩展分区链接指向扩展分区之外。"},
    {Fault::GptHeaderUnreadable, "GPT 分区表头无法读取。"},
    {Fault::GptBadSignature, "GPT 分区表头签名无效。"},
    {Fault::GptBadHeaderSize, "GPT 分区表头长度无效。"},
    {Fault::GptHeaderChecksum, "GPT 分区表头校验和错误。"},
    {Fault::GptHeaderMismatch, "GPT 分区表头与磁盘大小不符。"},
    {Fault::GptBadEntries, "GPT 分区项数量或大小无效。"},
    {Fault::GptEntriesPastEnd, "GPT 分区项数组超出磁盘末尾。"},
    {Fault::GptEntriesUnreadable, "GPT 分区项数组无法读取。"},
    {Fault::GptEntriesChecksum, "GPT 分区项数组校验和错误。"},
    {Fault::GptPartitionOutside, "分区表损坏: GPT 分区 %1 超出可用范围或磁盘末尾。"},
    {Fault::BootSectorUnreadable, "无法读取分区的引导扇区。"},
    {Fault::FatPastPartition, "FAT 文件系统损坏: 大小超出分区。"},
    {Fault::FatTooSmall, "FAT 文件系统损坏: 文件分配表太小。"},
    {Fault::FatUnreadable, "无法读取文件分配表。"},
    {Fault::ExFatBadBoot, "exFAT 文件系统损坏: 引导扇区参数无效。"},
    {Fault::ExFatPastPartition, "exFAT 文件系统损坏: 大小超出分区。"},
    {Fault::ExFatRootUnreadable, "exFAT 文件系统损坏: 根目录无法读取。"},
    {Fault::ExFatBitmapUnreadable, "exFAT 文件系统损坏: 分配位图无法读取。"},
    {Fault::NtfsBadBoot, "NTFS 文件系统损坏: 引导扇区参数无效或超出分区。"},
    {Fault::NtfsBadRecordSize, "NTFS 文件系统损坏: 文件记录大小无效。"},
    {Fault::NtfsMftPastVolume, "NTFS 文件系统损坏: 主文件表位置超出卷。"},
    {Fault::NtfsMftUnreadable, "无法读取 NTFS 主文件表。"},
    {Fault::NtfsRecordInvalid, "NTFS 文件系统损坏: 主文件表记录 %1 无效。"},
    {Fault::NtfsRecordSequence, "NTFS 文件系统损坏: 主文件表记录 %1 的更新序列无效。"},
    {Fault::NtfsRecordTorn, "NTFS 文件系统损坏: 主文件表记录 %1 不完整。"},
    {Fault::NtfsNoBitmap, "NTFS 文件系统损坏: 找不到 $Bitmap 的数据。"},
    {Fault::NtfsBitmapHeader, "NTFS 文件系统损坏: $Bitmap 的属性头无效。"},
    {Fault::NtfsBitmapTooSmall, "NTFS 文件系统损坏: $Bitmap 太小。"},
    {Fault::NtfsBitmapShort, "NTFS 文件系统损坏: $Bitmap 太小或不完整。"},
    {Fault::NtfsBitmapRuns, "NTFS 文件系统损坏: $Bitmap 的数据运行列表无效。"},
    {Fault::NtfsBitmapRunOutside, "NTFS 文件系统损坏: $Bitmap 的数据运行超出卷。"},
    {Fault::NtfsBitmapUnreadable, "无法读取 NTFS 的 $Bitmap。"},
    {Fault::NtfsBitmapIncomplete, "NTFS 文件系统损坏: $Bitmap 不完整。"},
    {Fault::NtfsMftRuns, "NTFS 文件系统损坏: 主文件表自身的数据运行列表无效或不完整。"},
    {Fault::NtfsRunOutside, "NTFS 文件系统损坏: 主文件表记录 %1 的数据运行无效或超出卷。"},
};

bool isGptHeaderFault(Fault f) { return f >= Fault::GptHeaderUnreadable && f <= Fault::GptEntriesChecksum; }


}  // namespace

Error errorOf(Fault fault, std::uint64_t first, std::uint64_t second) {
  Error e;
  e.fault = fault;
  e.first = first;
  e.second = second;
  return e;
}

std::string describe(const Error& error) {
  const auto* row = toolio::rowOf(kTexts, error.fault);
  std::string text = toolio::fillMarkers(row ? row->text : "", [&](char key) -> std::string {
    switch (key) {
      case '1': return std::to_string(error.first);
      case '2': return std::to_string(error.second);
      case 'p': return error.path;
      case 's': return error.system;
    }
    return {};
  });
  // A GPT disk is unreadable only when its backup header fails as well.
  if (isGptHeaderFault(error.fault)) text = "分区表损坏: " + text + (error.backupBad ? " (备份分区表头也无效)" : "");
  if (error.onDisk) text = "磁盘 " + std::to_string(error.onDisk) + ": " + text;
  return text;
}

}  // namespace disk

#include "tools/ghost/errors.h"

namespace ghost {

namespace {

std::string megabytes(std::uint64_t bytes) {
  return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MB";
}

}  // namespace

std::vector<std::string> failureLines(const Failure& f) {
  std::vector<std::string> lines;
  switch (f.problem) {
    case Problem::None: return lines;
    case Problem::ImageMissing: lines.push_back("错误: 找不到映像文件。"); break;
    case Problem::ImageUnreadable: lines.push_back("错误: 无法读取映像文件(拒绝访问或文件正被使用)。"); break;
    case Problem::ImageNotOurs: lines.push_back("错误: 不是本引擎的GHO映像文件(文件标识不符)。"); break;
    case Problem::ImageVersion: lines.push_back("错误: 映像文件的格式版本不受支持。"); break;
    case Problem::ImageHeaderDamaged: lines.push_back("错误: 映像文件头已损坏,映像无法使用。"); break;
    case Problem::ImageMapDamaged: lines.push_back("错误: 映像中的分区块表已损坏,映像无法使用。"); break;
    case Problem::ImageTruncated: lines.push_back("错误: 映像文件不完整(文件被截断或缺少分卷文件)。"); break;
    case Problem::ImageChunkDamaged:
      if (f.damagedChunks > 1)
        lines.push_back("错误: 映像中有 " + std::to_string(f.damagedChunks) + " 个数据块已损坏(校验失败)。");
      else
        lines.push_back("错误: 映像中的数据块已损坏(校验失败)。");
      break;
    case Problem::ImageEndDamaged: lines.push_back("错误: 映像文件的结束记录损坏或整体校验和不符。"); break;
    case Problem::SpanMismatch: lines.push_back("错误: 映像的分卷文件不属于此映像或顺序不对。"); break;
    case Problem::NoSuchImagePartition: lines.push_back("错误: 映像中没有指定的分区,此映像只包含第 1 个分区。"); break;
    case Problem::BadDesignator: lines.push_back("错误: 分区编号不正确,应为 磁盘号:分区号(均从 1 开始)。"); break;
    case Problem::NoSuchDisk: lines.push_back("错误: 找不到指定的磁盘。"); break;
    case Problem::NoSuchPartition: lines.push_back("错误: 指定的磁盘上没有这个分区。"); break;
    case Problem::DiskUnreadable:
      lines.push_back(f.detail.empty() ? "错误: 无法读取磁盘的分区表。" : "错误: " + f.detail);
      break;
    case Problem::PartitionUnreadable: lines.push_back("错误: 读取源分区失败。"); break;
    case Problem::PartitionUnwritable: lines.push_back("错误: 写入目标分区失败。"); break;
    case Problem::VolumeInUse:
      lines.push_back("错误: 无法锁定分区,分区正被使用(请关闭分区上打开的文件和程序后重试)。");
      break;
    case Problem::SystemVolume: lines.push_back("错误: 不能操作正在运行的系统所在的分区。"); break;
    case Problem::AccessDenied: lines.push_back("错误: 没有直接访问磁盘的权限。"); break;
    case Problem::TargetTooSmall:
      lines.push_back("错误: 目标分区小于映像中的源分区,无法还原(需要 " + megabytes(f.neededBytes) +
                      ",目标分区只有 " + megabytes(f.availableBytes) + ")。");
      break;
    case Problem::ImageOnTarget: lines.push_back("错误: 映像文件就在目标分区上,不能还原到映像自身所在的分区。"); break;
    case Problem::DestinationOnSource: lines.push_back("错误: 映像文件不能保存在要备份的分区上。"); break;
    case Problem::DestinationUncreatable:
      lines.push_back("错误: 无法创建映像文件(路径不存在、拒绝访问或只读)。");
      break;
    case Problem::DiskFull: lines.push_back("错误: 保存映像的磁盘空间不足。"); break;
    case Problem::ImageWriteFailed: lines.push_back("错误: 写入映像文件失败。"); break;
    case Problem::Stopped: lines.push_back("错误: 操作已被用户停止。"); break;
    case Problem::OutOfMemory: lines.push_back("错误: 内存不足。"); break;
  }
  if (f.ignoredDamage) {
    lines.push_back("已按 -crcignore 忽略损坏继续还原,目标分区中的数据可能不完整。");
  } else if (f.targetTouched) {
    lines.push_back("目标分区已被部分写入,其中的数据不可用,请重新还原。");
  }
  return lines;
}

}  // namespace ghost

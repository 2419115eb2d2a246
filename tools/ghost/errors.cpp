#include "tools/ghost/errors.h"

#include "tools/common/text_markers.h"

namespace ghost {

namespace {

// %n: the damaged chunks, or the megabytes needed; %a: the megabytes available;
// %s, %t: the image's and the target's sector sizes; %e: the disk layer's words;
// %v: the partition. `many` is said for more than one damaged chunk, when the disk
// layer gave its words, and when the partition is known.
const struct {
  Problem key;
  const char* text;
  const char* many;
} kLines[] = {
    {Problem::ImageMissing, "错误: 找不到映像文件。", nullptr},
    {Problem::ImageUnreadable, "错误: 无法打开映像文件(拒绝访问或文件正被使用)。", nullptr},
    {Problem::ImageReadError, "错误: 读取映像文件时出错(保存映像的磁盘或网络读取失败)。", nullptr},
    {Problem::ImageIsFolder, "错误: 映像路径是一个文件夹,不是映像文件。", nullptr},
    {Problem::ImageNotAFile, "错误: 映像路径不是普通文件(是设备、管道或其他特殊文件)。", nullptr},
    {Problem::ImageNotOurs, "错误: 不是本引擎的GHO映像文件(文件标识不符)。", nullptr},
    {Problem::ImageVersion, "错误: 映像文件的格式版本不受支持。", nullptr},
    {Problem::ImageHeaderDamaged, "错误: 映像文件头已损坏,映像无法使用。", nullptr},
    {Problem::ImageMapDamaged, "错误: 映像中的分区块表已损坏,映像无法使用。", nullptr},
    {Problem::ImageTruncated, "错误: 映像文件不完整(文件被截断或缺少分卷文件)。", nullptr},
    {Problem::ImageChunkDamaged, "错误: 映像中的数据块已损坏(校验失败)。", "错误: 映像中有 %n 个数据块已损坏(校验失败)。"},
    {Problem::ImageEndDamaged, "错误: 映像文件的结束记录损坏或整体校验和不符。", nullptr},
    {Problem::SpanMismatch, "错误: 映像的分卷文件不属于此映像或顺序不对。", nullptr},
    {Problem::NoSuchImagePartition, "错误: 映像中没有指定的分区,此映像只包含第 1 个分区。", nullptr},
    {Problem::BadDesignator, "错误: 分区编号不正确,应为 磁盘号:分区号(均从 1 开始)。", nullptr},
    {Problem::NoSuchDisk, "错误: 找不到指定的磁盘。", nullptr},
    {Problem::NoSuchPartition, "错误: 指定的磁盘上没有这个分区。", nullptr},
    {Problem::DiskUnreadable, "错误: 无法读取磁盘的分区表。", "错误: %e"},
    {Problem::PartitionUnreadable, "错误: 读取源分区失败。", nullptr},
    {Problem::PartitionUnwritable, "错误: 写入目标分区失败。", nullptr},
    {Problem::VolumeInUse, "错误: 无法锁定分区,分区正被使用(请关闭分区上打开的文件和程序后重试)。",
     "错误: 分区 %v 正被其他程序使用(如资源管理器窗口或杀毒软件),无法锁定。请关闭占用该分区的程序后重试。"},
    {Problem::PartitionTailUnreachable,
     "错误: 无法读取目标分区末尾的扇区(系统拒绝越过文件系统边界的读写)。", nullptr},
    {Problem::SystemVolume, "错误: 不能操作正在运行的系统所在的分区。", nullptr},
    {Problem::AccessDenied, "错误: 没有直接访问磁盘的权限。", nullptr},
    {Problem::TargetTooSmall, "错误: 目标分区小于映像中的源分区,无法还原(需要 %n,目标分区只有 %a)。", nullptr},
    {Problem::SectorSizeMismatch, "错误: 映像来自扇区大小为 %s 字节的磁盘,目标磁盘的扇区大小为 %t 字节,不能还原。", nullptr},
    {Problem::SourceUnmappable, "错误: 无法读取源分区的文件系统记录,不能确定哪些数据在使用,没有创建映像。",
     "错误: 不能确定源分区中哪些数据在使用,没有创建映像: %e"},
    {Problem::ImageOnTarget, "错误: 映像文件就在目标分区上,不能还原到映像自身所在的分区。", nullptr},
    {Problem::ImagePlaceUnknown,
     "错误: 无法确定映像文件位于哪个分区,它可能就在目标分区上,为免还原时覆盖映像自身,没有还原。请把映像文件复制到其他分区后重试。",
     nullptr},
    {Problem::DestinationOnSource, "错误: 映像文件不能保存在要备份的分区上。", nullptr},
    {Problem::DestinationIsFolder, "错误: 保存位置是一个文件夹,请给出映像文件的名称。", nullptr},
    {Problem::DestinationNotAFile, "错误: 保存位置已存在且不是普通文件(是设备、管道或其他特殊文件),不能用映像替换它。", nullptr},
    {Problem::DestinationUncreatable, "错误: 无法创建映像文件(路径不存在、拒绝访问或只读)。", nullptr},
    {Problem::DiskFull, "错误: 保存映像的磁盘空间不足。", nullptr},
    {Problem::ImageWriteFailed, "错误: 写入映像文件失败。", nullptr},
    {Problem::Stopped, "错误: 操作已被用户停止。", nullptr},
    {Problem::OutOfMemory, "错误: 内存不足。", nullptr},
};

const char kIgnoredDamage[] = "已按 -crcignore 忽略损坏继续还原,目标分区中的数据可能不完整。";
const struct {
  TargetState key;
  const char* text;
} kTargetLines[] = {
    {TargetState::Untouched, "目标分区没有被改动。"},
    {TargetState::PartlyWritten, "目标分区已被部分写入,其中的数据不可用(引导扇区已清除),请重新还原。"},
    {TargetState::DataWritten, "映像的数据已全部写入目标分区,但最后写入引导扇区时失败,目标分区可能无法使用,请重新还原。"},
};

std::string megabytes(std::uint64_t bytes) {
  return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MB";
}

}  // namespace

std::vector<std::string> failureLines(const Failure& f) {
  std::vector<std::string> lines;
  if (f.problem == Problem::None) {
    if (f.notGrown)
      lines.push_back(std::string(kNoticePrefix) + "分区已还原,但未能把 NTFS 扩展到整个分区(错误 " +
                      std::to_string(f.growError) + "),分区容量仍为映像的原始大小,可在磁盘管理中扩展该卷。");
    return lines;
  }
  const bool many = f.problem == Problem::ImageChunkDamaged ? f.damagedChunks > 1
                    : f.problem == Problem::VolumeInUse      ? !f.partition.empty()
                                                             : bool(f.diskError);
  if (const auto* row = toolio::rowOf(kLines, f.problem)) {
    lines.push_back(toolio::fillMarkers(many && row->many ? row->many : row->text, [&](char key) -> std::string {
      switch (key) {
        case 'n':
          return f.problem == Problem::TargetTooSmall ? megabytes(f.neededBytes) : std::to_string(f.damagedChunks);
        case 'a': return megabytes(f.availableBytes);
        case 's': return std::to_string(f.imageSectorSize);
        case 't': return std::to_string(f.targetSectorSize);
        case 'e': return disk::describe(f.diskError);
        case 'v': return f.partition;
      }
      return {};
    }));
  }
  if (f.ignoredDamage) {
    lines.push_back(kIgnoredDamage);
  } else if (const auto* row = toolio::rowOf(kTargetLines, f.target)) {
    lines.push_back(row->text);
  }
  return lines;
}

std::vector<std::string> riskNotes(const Failure& f, bool restore) {
  std::vector<std::string> lines;
  auto note = [&](bool when, const char* text) {
    if (when) lines.push_back(std::string(kNoticePrefix) + text);
  };
  if (restore) {
    if (f.target == TargetState::Untouched) return lines;
    note(f.risks.bitLocker, "目标分区原是BitLocker加密卷,已被映像覆盖,原来加密的数据不再存在。");
    note(f.risks.hibernated, "目标分区上原有的Windows处于休眠或快速启动状态,它休眠时未保存的内容已随还原丢失。");
    return lines;
  }
  note(f.risks.bitLocker, "该分区是BitLocker加密卷,映像逐个扇区保存了加密的数据,只能原样还原成加密卷,要用原来的密钥才能打开。");
  note(f.risks.hibernated, "该分区上的Windows处于休眠或快速启动状态,映像中是休眠时留在磁盘上的文件,可能不完整。");
  note(f.risks.dirty, "该分区的NTFS被标记为需要检查,空间位图可能与文件不符,映像可能漏掉数据;建议运行 chkdsk /f 后重新备份。");
  return lines;
}

}  // namespace ghost

#include "tools/wimengine/errors.h"

namespace wimengine {

std::string errorLine(const Failure& failure) {
  std::string line;
  switch (failure.kind) {
    case ErrorKind::WimMissing: line = "错误: 找不到映像文件。"; break;
    case ErrorKind::WimUnreadable: line = "错误: 无法读取映像文件(拒绝访问或文件正被使用)。"; break;
    case ErrorKind::WimCorrupt: line = "错误: 映像文件已损坏或不是有效的WIM文件。"; break;
    case ErrorKind::WimUnsupported: line = "错误: 不支持此类WIM文件(拆分或加密的映像)。"; break;
    case ErrorKind::WimSplit: line = "错误: 这是拆分WIM映像(.swm)的一个分卷,不支持直接还原,请先合并为单个WIM文件。"; break;
    case ErrorKind::WimIsFolder: line = "错误: 映像文件路径是一个文件夹,不是WIM文件。"; break;
    case ErrorKind::IndexOutOfRange:
      line = "错误: 映像编号超出范围,此文件共有 " + std::to_string(failure.imageCount) + " 个映像。";
      break;
    case ErrorKind::TargetMissing: line = "错误: 目标路径不存在。"; break;
    case ErrorKind::TargetNotWritable: line = "错误: 无法写入目标位置(拒绝访问或只读)。"; break;
    case ErrorKind::TargetNotFolder: line = "错误: 目标路径是一个文件,不是文件夹或分区。"; break;
    case ErrorKind::SourceMissing: line = "错误: 找不到要备份的源路径。"; break;
    case ErrorKind::SourceUnreadable: line = "错误: 无法读取要备份的文件(拒绝访问或文件正被使用)。"; break;
    case ErrorKind::DestinationNotWritable: line = "错误: 无法创建目标映像文件(路径不存在、拒绝访问或只读)。"; break;
    case ErrorKind::TempDirMissing: line = "错误: 临时目录不存在或无法使用。"; break;
    case ErrorKind::DiskFull: line = "错误: 磁盘空间不足。"; break;
    case ErrorKind::OutOfMemory: line = "错误: 内存不足。"; break;
    case ErrorKind::LibraryMissing: line = "错误: 无法加载 wimgapi.dll,此系统不支持WIM映像操作。"; break;
    case ErrorKind::Other: line = "错误: WIM映像操作失败。"; break;
  }
  std::string detail = failure.library;
  if (failure.code != 0) detail += (detail.empty() ? "代码 " : " 代码 ") + std::to_string(failure.code);
  if (!detail.empty()) line += "(" + detail + ")";
  return line;
}

ErrorKind kindOfWin32Error(std::uint32_t code, Step step) {
  switch (code) {
    case 2:   // ERROR_FILE_NOT_FOUND
    case 3:   // ERROR_PATH_NOT_FOUND
    case 15:  // ERROR_INVALID_DRIVE
    case 21:  // ERROR_NOT_READY
    case 123: // ERROR_INVALID_NAME
      switch (step) {
        case Step::OpenWim: return ErrorKind::WimMissing;
        case Step::ReadWim: return ErrorKind::WimCorrupt;
        case Step::WriteTarget: return ErrorKind::TargetMissing;
        case Step::ReadSource: return ErrorKind::SourceMissing;
        case Step::WriteWim: return ErrorKind::DestinationNotWritable;
      }
      break;
    case 5:   // ERROR_ACCESS_DENIED
    case 19:  // ERROR_WRITE_PROTECT
    case 32:  // ERROR_SHARING_VIOLATION
    case 33:  // ERROR_LOCK_VIOLATION
      switch (step) {
        case Step::OpenWim:
        case Step::ReadWim: return ErrorKind::WimUnreadable;
        case Step::WriteTarget: return ErrorKind::TargetNotWritable;
        case Step::ReadSource: return ErrorKind::SourceUnreadable;
        case Step::WriteWim: return ErrorKind::DestinationNotWritable;
      }
      break;
    case 39:   // ERROR_HANDLE_DISK_FULL
    case 112:  // ERROR_DISK_FULL
    case 1295: // ERROR_DISK_QUOTA_EXCEEDED
      return ErrorKind::DiskFull;
    case 8:   // ERROR_NOT_ENOUGH_MEMORY
    case 14:  // ERROR_OUTOFMEMORY
      return ErrorKind::OutOfMemory;
    case 11:    // ERROR_BAD_FORMAT
    case 13:    // ERROR_INVALID_DATA
    case 23:    // ERROR_CRC
    case 38:    // ERROR_HANDLE_EOF
    case 1392:  // ERROR_FILE_CORRUPT
      // While applying, damaged data comes from the image; while capturing, from the disk.
      return step == Step::ReadSource ? ErrorKind::SourceUnreadable
             : step == Step::WriteWim ? ErrorKind::Other
                                      : ErrorKind::WimCorrupt;
    case 1813:  // ERROR_RESOURCE_TYPE_NOT_FOUND: an image number the file lacks
      if (step == Step::ReadWim) return ErrorKind::IndexOutOfRange;
      break;
    default:
      break;
  }
  return ErrorKind::Other;
}

}  // namespace wimengine

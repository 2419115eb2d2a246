#include "tools/wimengine/errors.h"

#include "tools/common/text_markers.h"

namespace wimengine {

namespace {

// %n: how many images the file has; %p, %t: a part's number and the set's part count;
// %f: a part's file name or the library's version.
const struct {
  ErrorKind key;
  const char* text;
} kLines[] = {
    {ErrorKind::WimMissing, "错误: 找不到映像文件。"},
    {ErrorKind::WimUnreadable, "错误: 无法读取映像文件(拒绝访问或文件正被使用)。"},
    {ErrorKind::WimCorrupt, "错误: 映像文件已损坏或不是有效的WIM文件。"},
    {ErrorKind::WimUnsupported, "错误: 不支持此类WIM文件(拆分或加密的映像)。"},
    {ErrorKind::WimSplit, "错误: 这是拆分WIM映像(.swm)的一个分卷,不支持直接还原,请先合并为单个WIM文件。"},
    {ErrorKind::SplitNotFirstPart, "错误: 这是拆分映像的第 %p 个分卷(共 %t 个),请选择第一个分卷 %f。"},
    {ErrorKind::SplitPartMissing,
     "错误: 拆分映像共 %t 个分卷,缺少第 %p 个分卷 %f。请把全部分卷放在同一文件夹,并用 /ref 指定。"},
    {ErrorKind::SplitPartForeign, "错误: 分卷 %f 不属于这个拆分映像(来自另一个映像)。"},
    {ErrorKind::EsdNeedsNewerWimgapi,
     "错误: 此系统的 wimgapi.dll(版本 %f)不能读取ESD映像(LZMS固实压缩),需要 WinPE 4.0 或更高版本(Windows 8 及以后的 WIMGAPI)。"},
    {ErrorKind::WimIsFolder, "错误: 映像文件路径是一个文件夹,不是WIM文件。"},
    {ErrorKind::WimNotAFile, "错误: 映像文件路径不是普通文件(是设备、管道或其他特殊文件)。"},
    {ErrorKind::IndexOutOfRange, "错误: 映像编号超出范围,此文件共有 %n 个映像。"},
    {ErrorKind::TargetMissing, "错误: 目标路径不存在。"},
    {ErrorKind::TargetNotWritable, "错误: 无法写入目标位置(拒绝访问或只读)。"},
    {ErrorKind::TargetNotFolder, "错误: 目标路径是一个文件,不是文件夹或分区。"},
    {ErrorKind::SourceMissing, "错误: 找不到要备份的源路径。"},
    {ErrorKind::SourceUnreadable, "错误: 无法读取要备份的文件(拒绝访问或文件正被使用)。"},
    {ErrorKind::DestinationNotWritable, "错误: 无法创建目标映像文件(路径不存在、拒绝访问或只读)。"},
    {ErrorKind::DestinationNotAFile, "错误: 目标映像文件的路径已存在且不是普通文件(是设备、管道或其他特殊文件),不能用映像替换它。"},
    {ErrorKind::TempDirMissing, "错误: 临时目录不存在或无法使用。"},
    {ErrorKind::DiskFull, "错误: 磁盘空间不足。"},
    {ErrorKind::OutOfMemory, "错误: 内存不足。"},
    {ErrorKind::WrittenImageDamaged,
     "错误: 映像文件已写完,但读回检查没有通过,映像已损坏,不能用来还原！损坏的映像文件已保留,请重新备份。"},
    {ErrorKind::LibraryMissing, "错误: 无法加载 wimgapi.dll,此系统不支持WIM映像操作。"},
    {ErrorKind::LibraryNotFound, "错误: 系统中没有 wimgapi.dll(找不到此文件),无法用它操作WIM映像。"},
    {ErrorKind::LibraryWrongBitness, "错误: 系统中的 wimgapi.dll 与本程序的位数(32/64位)不符,无法加载。"},
    {ErrorKind::LibraryTooOld, "错误: 系统中的 wimgapi.dll 版本过旧,缺少函数 %f,无法使用。"},
    {ErrorKind::Other, "错误: WIM映像操作失败。"},
};

}  // namespace

Failure failedWith(ErrorKind kind, std::int64_t code) {
  Failure f;
  f.kind = kind;
  f.code = code;
  return f;
}

Failure indexOutOfRange(std::uint32_t imageCount) {
  Failure f = failedWith(ErrorKind::IndexOutOfRange);
  f.imageCount = imageCount;
  return f;
}

Failure libraryLoadFailure(std::uint32_t code, const std::string& missingEntry) {
  if (!missingEntry.empty()) {
    Failure f = failedWith(ErrorKind::LibraryTooOld);
    f.name = missingEntry;
    return f;
  }
  switch (code) {
    case 126: return failedWith(ErrorKind::LibraryNotFound);     // ERROR_MOD_NOT_FOUND
    case 193: return failedWith(ErrorKind::LibraryWrongBitness);  // ERROR_BAD_EXE_FORMAT
    default: return failedWith(ErrorKind::LibraryMissing, code);
  }
}

std::string errorLine(const Failure& failure) {
  const auto* row = toolio::rowOf(kLines, failure.kind);
  std::string line = toolio::fillMarkers(row ? row->text : "错误: WIM映像操作失败。", [&](char key) {
    switch (key) {
      case 'n': return std::to_string(failure.imageCount);
      case 'p': return std::to_string(failure.part);
      case 't': return std::to_string(failure.totalParts);
      case 'f': return failure.name;
      default: return std::string();
    }
  });
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

#include "tools/mark/mark.h"

namespace mark {

namespace {

// The library's callback commands.
enum Command {
  kProgress = 0,
  kIncompatibleFileSystem = 3,
  kAccessDenied = 6,
  kMediaWriteProtected = 7,
  kVolumeInUse = 8,
  kCantQuickFormat = 9,
  kDone = 11,
  kBadLabel = 12,
  kClusterSizeTooSmall = 16,
  kClusterSizeTooBig = 17,
  kVolumeTooSmall = 18,
  kVolumeTooBig = 19,
  kNoMediaInDrive = 20,
  kDeviceNotReady = 24,
  kReadOnlyMode = 32,
};

bool isError(int command) {
  switch (command) {
    case kIncompatibleFileSystem:
    case kAccessDenied:
    case kMediaWriteProtected:
    case kVolumeInUse:
    case kCantQuickFormat:
    case kBadLabel:
    case kClusterSizeTooSmall:
    case kClusterSizeTooBig:
    case kVolumeTooSmall:
    case kVolumeTooBig:
    case kNoMediaInDrive:
    case kDeviceNotReady:
    case kReadOnlyMode:
      return true;
    default:
      return false;
  }
}

}  // namespace

char parseDrive(std::string_view tail) {
  while (!tail.empty() && (tail.back() == ' ' || tail.back() == '\t')) tail.remove_suffix(1);
  if (tail.size() == 3 && tail[2] == '\\') tail.remove_suffix(1);
  if (tail.size() != 2 || tail[1] != ':') return 0;
  char c = tail[0];
  if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return (c >= 'A' && c <= 'Z') ? c : 0;
}

bool FormatReport::onCallback(int command, unsigned value) {
  if (command == kProgress) {
    percent_ = int(value > 100 ? 100 : value);
  } else if (command == kDone) {
    done_ = true;
    doneFlag_ = value != 0;
  } else if (isError(command)) {
    error_ = command;
    return false;
  }
  return error_ < 0;
}

int formatMediaFor(int mediaType) { return mediaType == 11 ? 11 : 12; }

std::string failureLine(const FormatReport& report) {
  switch (report.lastError()) {
    case kIncompatibleFileSystem: return "错误: 该分区无法格式化为NTFS文件系统。";
    case kAccessDenied: return "错误: 拒绝访问,无法格式化该分区。";
    case kMediaWriteProtected:
    case kReadOnlyMode: return "错误: 该分区处于写保护(只读)状态,无法格式化。";
    case kVolumeInUse: return "错误: 该分区正在使用中,请关闭占用它的程序后重试。";
    case kCantQuickFormat: return "错误: 该分区无法快速格式化。";
    case kBadLabel: return "错误: 卷标无效。";
    case kClusterSizeTooSmall:
    case kClusterSizeTooBig: return "错误: 簇大小不适合该分区。";
    case kVolumeTooSmall: return "错误: 分区太小,无法格式化为NTFS。";
    case kVolumeTooBig: return "错误: 分区太大,无法格式化为NTFS。";
    case kNoMediaInDrive: return "错误: 驱动器中没有介质。";
    case kDeviceNotReady: return "错误: 设备未就绪。";
  }
  return "错误: 格式化未能完成。";
}

int runMark(std::string_view tail, Backend& backend, toolio::LineSink& out) {
  char letter = parseDrive(tail);
  if (!letter) {
    out.line("错误: 参数无效。用法: MARK.exe 盘符: (例如 MARK.exe D:)");
    return 2;
  }
  if (letter == backend.windowsDriveLetter()) {
    out.line("错误: 不能格式化当前运行的系统所在的分区。");
    return 1;
  }
  if (!backend.driveExists(letter)) {
    out.line("错误: 找不到要格式化的分区。");
    return 1;
  }
  if (!backend.loadLibrary()) {
    out.line("错误: 无法加载格式化库 fmifs.dll,此系统不支持格式化。");
    return 1;
  }
  FormatReport report;
  backend.format(letter, formatMediaFor(backend.mediaType(letter)), report);
  if (!report.succeeded()) {
    out.line(failureLine(report));
    return 1;
  }
  out.line("Format success.");
  return 0;
}

}  // namespace mark

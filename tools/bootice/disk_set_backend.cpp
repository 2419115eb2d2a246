#include "tools/bootice/disk_set_backend.h"

#include "platform/gbk.h"

namespace bootice {

char driveLetterOf(const std::string& device) {
  if (device.empty() || device.size() > 3) return 0;
  const char letter = gbk::asciiUpper(device[0]);
  if (letter < 'A' || letter > 'Z') return 0;
  if (device.size() >= 2 && device[1] != ':') return 0;
  if (device.size() == 3 && device[2] != '\\' && device[2] != '/') return 0;
  return letter;
}

std::unique_ptr<Target> DiskSetBackend::open(const std::string& device, std::string& error) {
  const std::string text = gbk::trimBlanks(device);
  const std::optional<disk::Designator> where = disk::parseDesignator(text);
  if (!where && driveLetterOf(text)) {
    error = "错误: 找不到设备 " + text + ",这里的磁盘是磁盘映像,没有盘符,请用 磁盘号:分区号(如 1:2)指定。";
    return nullptr;
  }
  if (!where) {
    error = "错误: 无法识别的设备 " + text + ",应为 磁盘号:分区号(如 1:2)。";
    return nullptr;
  }
  std::string why;
  std::unique_ptr<disk::Device> opened = disks_.open(where->disk, true, why);
  if (!opened) {
    error = "错误: 无法打开磁盘 " + std::to_string(where->disk) + ": " + why;
    return nullptr;
  }
  return std::make_unique<DiskTarget>(std::move(opened), where->partition);
}

}  // namespace bootice

#include "tools/bootice/backend_win32.h"

#include <windows.h>
#include <winioctl.h>

#include "platform/gbk.h"
#include "tools/bootice/disk_set_backend.h"
#include "tools/common/handles_win32.h"
#include "tools/common/volumes_win32.h"

namespace bootice {

namespace {

std::string physicalDrivePath(DWORD number) { return "\\\\.\\PhysicalDrive" + std::to_string(number); }

// A volume on a partition of a physical disk: the disk is written whole, the volume
// handle is kept for the lock.
class VolumeTarget : public Target {
 public:
  VolumeTarget(toolio::UniqueHandle volume, std::unique_ptr<disk::Device> disk, DWORD diskNumber, int partitionNumber)
      : volume_(std::move(volume)), disk_(std::move(disk)), diskNumber_(diskNumber), partitionNumber_(partitionNumber) {}
  ~VolumeTarget() override {
    DWORD got = 0;
    if (locked_) DeviceIoControl(volume_.get(), FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &got, nullptr);
  }
  disk::Device& disk() override { return *disk_; }
  int partitionNumber() const override { return partitionNumber_; }
  bool lockVolume() override {
    DWORD got = 0;
    if (!locked_)
      locked_ = DeviceIoControl(volume_.get(), FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &got, nullptr) != 0;
    return locked_;
  }
  // The system keeps its own copy of the table; it reads the new one back from disk.
  void tableChanged() override {
    toolio::UniqueHandle drive(CreateFileA(physicalDrivePath(diskNumber_).c_str(), GENERIC_READ | GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    DWORD got = 0;
    if (drive)
      DeviceIoControl(drive.get(), IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &got, nullptr);
  }

 private:
  toolio::UniqueHandle volume_;
  std::unique_ptr<disk::Device> disk_;
  DWORD diskNumber_;
  int partitionNumber_;
  bool locked_ = false;
};

std::unique_ptr<Target> openVolume(char letter, const std::string& shown, std::string& error) {
  const std::string root = std::string(1, letter) + ":\\";
  const UINT type = GetDriveTypeA(root.c_str());
  if (type == DRIVE_NO_ROOT_DIR || type == DRIVE_UNKNOWN) {
    error = "错误: 找不到设备 " + shown + "。";
    return nullptr;
  }
  if (type != DRIVE_FIXED && type != DRIVE_REMOVABLE) {
    error = "错误: " + shown + " 不是硬盘上的分区(光驱、网络驱动器或内存盘没有引导记录)。";
    return nullptr;
  }
  const std::string volumePath = "\\\\.\\" + std::string(1, letter) + ":";
  toolio::UniqueHandle volume(CreateFileA(volumePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!volume) {
    const DWORD code = GetLastError();
    error = code == ERROR_ACCESS_DENIED ? "错误: 无法打开 " + shown + ",需要管理员权限。"
                                        : "错误: 无法打开 " + shown + "(代码 " + std::to_string(code) + ")。";
    return nullptr;
  }
  const std::optional<disk::DeviceNumber> number = disk::deviceNumberOf(volume.get());
  if (!number) {
    error = "错误: 无法确定 " + shown + " 所在的磁盘和分区(跨越多个磁盘的动态卷不受支持)。";
    return nullptr;
  }
  if (number->type != FILE_DEVICE_DISK) {
    error = "错误: " + shown + " 不是硬盘上的分区。";
    return nullptr;
  }
  if (number->partition == 0) {
    error = "错误: " + shown + " 所在的磁盘没有分区表(整个磁盘就是一个卷),未做任何修改。";
    return nullptr;
  }
  std::string why;
  std::unique_ptr<disk::Device> drive = disk::openDevice(physicalDrivePath(number->number), true, why);
  if (!drive) {
    error = "错误: 无法打开 " + shown + " 所在的磁盘: " + why;
    return nullptr;
  }
  return std::make_unique<VolumeTarget>(std::move(volume), std::move(drive), number->number, int(number->partition));
}

}  // namespace

std::unique_ptr<Target> Win32Backend::open(const std::string& device, std::string& error) {
  const std::string text = gbk::trimBlanks(device);
  if (const char letter = driveLetterOf(text)) return openVolume(letter, text, error);
  if (disk::parseDesignator(text)) {
    std::unique_ptr<disk::DiskSet> drives = disk::physicalDiskSet();
    return DiskSetBackend(*drives).open(text, error);
  }
  error = "错误: 无法识别的设备 " + text + ",应为盘符(如 C:\\)或 磁盘号:分区号(如 1:2)。";
  return nullptr;
}

}  // namespace bootice

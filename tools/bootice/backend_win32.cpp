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

std::unique_ptr<Target> openVolume(char letter, const std::string& shown, Report& failure) {
  const std::string root = std::string(1, letter) + ":\\";
  const UINT type = GetDriveTypeA(root.c_str());
  if (type == DRIVE_NO_ROOT_DIR || type == DRIVE_UNKNOWN) {
    failure = report(Result::NoDevice, shown);
    return nullptr;
  }
  if (type != DRIVE_FIXED && type != DRIVE_REMOVABLE) {
    failure = report(Result::NotAHardDisk, shown);
    return nullptr;
  }
  const std::string volumePath = "\\\\.\\" + std::string(1, letter) + ":";
  toolio::UniqueHandle volume(CreateFileA(volumePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!volume) {
    const DWORD code = GetLastError();
    failure = report(code == ERROR_ACCESS_DENIED ? Result::NeedsAdministrator : Result::Unopenable, shown);
    failure.code = code;
    return nullptr;
  }
  const std::optional<disk::DeviceNumber> number = disk::deviceNumberOf(volume.get());
  if (!number || number->type != FILE_DEVICE_DISK || number->partition == 0) {
    failure = report(!number                           ? Result::SpansDisks
                     : number->type != FILE_DEVICE_DISK ? Result::NotOnHardDisk
                                                        : Result::WholeDiskVolume,
                     shown);
    return nullptr;
  }
  disk::Error why;
  std::unique_ptr<disk::Device> drive = disk::openDevice(physicalDrivePath(number->number), true, why);
  if (!drive) {
    failure = report(Result::DiskOfVolumeUnopenable, shown);
    failure.detail = disk::describe(why);
    return nullptr;
  }
  return std::make_unique<VolumeTarget>(std::move(volume), std::move(drive), number->number, int(number->partition));
}

}  // namespace

std::unique_ptr<Target> Win32Backend::open(const std::string& device, Report& failure) {
  const std::string text = gbk::trimBlanks(device);
  if (const char letter = driveLetterOf(text)) return openVolume(letter, text, failure);
  if (disk::parseDesignator(text)) {
    std::unique_ptr<disk::DiskSet> drives = disk::physicalDiskSet();
    return DiskSetBackend(*drives).open(text, failure);
  }
  failure = report(Result::UnknownDevice, text);
  return nullptr;
}

}  // namespace bootice

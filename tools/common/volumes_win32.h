// The system's volumes and the device each lies on: the one place where the tools
// ask which volume is partition M of disk N (or which CD-ROM), and on which disk and
// partition a path or a drive letter lies.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace disk {

struct DeviceNumber {
  DWORD type = 0;       // FILE_DEVICE_DISK, FILE_DEVICE_CD_ROM, ...
  DWORD number = 0;     // N of \\.\PhysicalDriveN or \\.\CdRomN
  DWORD partition = 0;  // the partition's number on that disk (0: the disk itself)
};

// Nothing when the system gives no single device (a dynamic volume over several disks).
std::optional<DeviceNumber> deviceNumberOf(HANDLE device);

struct SystemVolume {
  std::wstring name;  // \\?\Volume{...}\ as the system names it
  std::optional<DeviceNumber> device;
  // The name without its final backslash: the form that opens the volume itself.
  std::wstring path() const;
};

std::vector<SystemVolume> systemVolumes();

// \\?\Volume{...} (no final backslash) of partition `partition` of PhysicalDrive(drive),
// or of the volume that holds `path`; empty when there is none.
std::wstring volumeOfPartition(DWORD drive, DWORD partition);
std::wstring volumeOfPath(const std::wstring& path);

// Whether a path lies on partition `partition` of PhysicalDrive(drive).
bool pathIsOnPartition(const std::wstring& path, DWORD drive, DWORD partition);

// Whether \\.\PhysicalDrive(drive) exists.
bool physicalDriveExists(DWORD drive);

}  // namespace disk

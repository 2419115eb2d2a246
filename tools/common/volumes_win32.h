// The system's volumes and the device each lies on: the one place where the tools
// ask which volume is partition M of disk N (or which CD-ROM), and on which disk and
// partition a path or a drive letter lies.
#pragma once

#include <windows.h>

#include <cstddef>
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

// Every path the volume (\\?\Volume{...}\, with its final backslash) is mounted on,
// drive roots and folders; the buffer grows for as long as the system says
// ERROR_MORE_DATA. Empty when it has none or the system does not answer.
std::vector<std::wstring> mountPathsOf(const std::wstring& volumeName, std::size_t initialChars = MAX_PATH + 1);
// Its first drive letter such as D:, empty when it has none.
std::wstring driveLetterOfVolume(const std::wstring& volumeName);

// Where a path lies against partition `partition` of PhysicalDrive(drive). The volume
// is found through the opened file's final path (which sees through a letter defined
// onto a folder, DefineDosDevice), else through such a letter's own target, else the
// path's mount point. A network path is elsewhere; Unknown when none of them answers.
enum class PathPlace { Elsewhere, OnPartition, Unknown };
PathPlace placeOfPath(const std::wstring& path, DWORD drive, DWORD partition);

// \\?\Volume{...} (no final backslash) at the start of a path in that form, such as
// GetFinalPathNameByHandleW returns with VOLUME_NAME_GUID; empty for any other form.
std::wstring volumeOfGuidPath(const std::wstring& path);

// A path through a letter defined onto a folder, with the folder in its place: for
// Z:\a.wim and Z: standing for \??\D:\iso, D:\iso\a.wim. Empty when the target
// (what QueryDosDevice names) is not such a folder.
std::wstring throughMappedLetter(const std::wstring& path, const std::wstring& target);

// Whether \\.\PhysicalDrive(drive) exists.
bool physicalDriveExists(DWORD drive);

// A disk's (or a volume's disk's) sector sizes, 0 where the system does not answer:
// the logical one from IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, the unit of every offset;
// the physical one from IOCTL_STORAGE_QUERY_PROPERTY (StorageAccessAlignmentProperty,
// Vista on), which uncached buffers should be aligned to (a 512e disk: 512 and 4096).
struct SectorSizes {
  DWORD logical = 0;
  DWORD physical = 0;
  // What raw requests are aligned to: the larger of the two, at least 512.
  DWORD alignment() const;
};
SectorSizes sectorSizesOf(HANDLE device);

}  // namespace disk

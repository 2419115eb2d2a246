#include "tools/common/volumes_win32.h"

#include <winioctl.h>

#include <cstddef>

#include <cwchar>

#include "platform/grow_buffer.h"
#include "tools/common/handles_win32.h"

namespace disk {

namespace {

// A volume search, closed with FindVolumeClose.
class VolumeSearch {
 public:
  explicit VolumeSearch(wchar_t* first) : h_(FindFirstVolumeW(first, MAX_PATH)) {}
  ~VolumeSearch() {
    if (h_ != INVALID_HANDLE_VALUE) FindVolumeClose(h_);
  }
  VolumeSearch(const VolumeSearch&) = delete;
  VolumeSearch& operator=(const VolumeSearch&) = delete;
  explicit operator bool() const { return h_ != INVALID_HANDLE_VALUE; }
  bool next(wchar_t* name) { return FindNextVolumeW(h_, name, MAX_PATH) != 0; }

 private:
  HANDLE h_;
};

std::wstring withoutFinalBackslash(std::wstring path) {
  if (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}

// Opened for no access at all: enough to ask, and never refused for a volume in use.
std::optional<DeviceNumber> deviceNumberOfPath(const std::wstring& device) {
  toolio::UniqueHandle h(
      CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!h) return std::nullopt;
  return deviceNumberOf(h.get());
}

}  // namespace

std::optional<DeviceNumber> deviceNumberOf(HANDLE device) {
  STORAGE_DEVICE_NUMBER info{};
  DWORD got = 0;
  if (!DeviceIoControl(device, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &info, sizeof info, &got, nullptr))
    return std::nullopt;
  return DeviceNumber{info.DeviceType, info.DeviceNumber, info.PartitionNumber};
}

std::wstring SystemVolume::path() const { return withoutFinalBackslash(name); }

std::vector<SystemVolume> systemVolumes() {
  std::vector<SystemVolume> volumes;
  wchar_t name[MAX_PATH + 1] = {};
  VolumeSearch search(name);
  if (!search) return volumes;
  do {
    SystemVolume volume;
    volume.name = name;
    volume.device = deviceNumberOfPath(volume.path());
    volumes.push_back(volume);
  } while (search.next(name));
  return volumes;
}

std::wstring volumeOfPartition(DWORD drive, DWORD partition) {
  for (const SystemVolume& volume : systemVolumes()) {
    const auto& d = volume.device;
    if (d && d->type == FILE_DEVICE_DISK && d->number == drive && d->partition == partition) return volume.path();
  }
  return {};
}

std::wstring volumeOfPath(const std::wstring& path) {
  wchar_t root[MAX_PATH + 1];
  wchar_t name[MAX_PATH + 1];
  if (!GetVolumePathNameW(path.c_str(), root, MAX_PATH)) return {};
  if (!GetVolumeNameForVolumeMountPointW(root, name, MAX_PATH)) return {};
  return withoutFinalBackslash(name);
}

std::vector<std::wstring> mountPathsOf(const std::wstring& volumeName, std::size_t initialChars) {
  std::vector<wchar_t> list;
  const bool filled = platform::fillGrowing(list, initialChars, 1u << 20, [&](std::vector<wchar_t>& b, std::size_t& needed) {
    DWORD length = 0;
    if (GetVolumePathNamesForVolumeNameW(volumeName.c_str(), b.data(), static_cast<DWORD>(b.size()), &length))
      return platform::FillResult::Filled;
    needed = length;
    return GetLastError() == ERROR_MORE_DATA ? platform::FillResult::TooSmall : platform::FillResult::Failed;
  });
  std::vector<std::wstring> paths;
  if (!filled) return paths;
  list.push_back(L'\0');  // a list cut short still ends
  for (const wchar_t* p = list.data(); *p; p += wcslen(p) + 1) paths.emplace_back(p);
  return paths;
}

std::wstring driveLetterOfVolume(const std::wstring& volumeName) {
  for (const std::wstring& path : mountPathsOf(volumeName))
    if (path.size() == 3 && path[1] == L':' && path[2] == L'\\') return path.substr(0, 2);
  return {};
}

bool pathIsOnPartition(const std::wstring& path, DWORD drive, DWORD partition) {
  const std::wstring volume = volumeOfPath(path);
  if (volume.empty()) return false;
  const auto d = deviceNumberOfPath(volume);
  return d && d->type == FILE_DEVICE_DISK && d->number == drive && d->partition == partition;
}

DWORD SectorSizes::alignment() const {
  DWORD a = logical > physical ? logical : physical;
  return a < 512 ? 512 : a;
}

SectorSizes sectorSizesOf(HANDLE device) {
  SectorSizes sizes;
  DWORD got = 0;
  DISK_GEOMETRY_EX geometry = {};
  if (DeviceIoControl(device, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, &geometry, sizeof geometry, &got, nullptr) &&
      geometry.Geometry.BytesPerSector >= 512)
    sizes.logical = geometry.Geometry.BytesPerSector;
  STORAGE_PROPERTY_QUERY query = {};
  query.PropertyId = StorageAccessAlignmentProperty;
  query.QueryType = PropertyStandardQuery;
  STORAGE_ACCESS_ALIGNMENT_DESCRIPTOR alignment = {};
  if (DeviceIoControl(device, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, &alignment, sizeof alignment, &got,
                      nullptr) &&
      got >= offsetof(STORAGE_ACCESS_ALIGNMENT_DESCRIPTOR, BytesPerPhysicalSector) + sizeof(DWORD) &&
      alignment.BytesPerPhysicalSector >= 512 && alignment.BytesPerPhysicalSector <= 65536 &&
      (alignment.BytesPerPhysicalSector & (alignment.BytesPerPhysicalSector - 1)) == 0)
    sizes.physical = alignment.BytesPerPhysicalSector;
  return sizes;
}

bool physicalDriveExists(DWORD drive) {
  const std::wstring path = L"\\\\.\\PhysicalDrive" + std::to_wstring(drive);
  return bool(toolio::UniqueHandle(
      CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr)));
}

}  // namespace disk

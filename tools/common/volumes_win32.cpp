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

std::wstring volumeOfGuidPath(const std::wstring& path) {
  static const wchar_t kPrefix[] = L"\\\\?\\Volume{";
  if (path.compare(0, wcslen(kPrefix), kPrefix) != 0) return {};
  const std::size_t end = path.find(L'\\', wcslen(kPrefix));
  const std::wstring volume = path.substr(0, end);
  return volume.back() == L'}' ? volume : std::wstring();
}

std::wstring throughMappedLetter(const std::wstring& path, const std::wstring& target) {
  if (path.size() < 2 || path[1] != L':') return {};
  if (target.size() < 6 || target.compare(0, 4, L"\\??\\") != 0 || target[5] != L':') return {};
  std::wstring folder = target.substr(4);
  std::wstring rest = path.substr(2);
  if (!folder.empty() && folder.back() == L'\\' && !rest.empty() && rest.front() == L'\\') folder.pop_back();
  return folder + rest;
}

namespace {

// The volume that holds an existing file or folder, through the opened file itself.
std::wstring volumeOfOpenedFile(const std::wstring& path) {
  toolio::UniqueHandle h(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h) return {};
  std::vector<wchar_t> name;
  const bool filled = platform::fillGrowing(name, MAX_PATH + 1, 1u << 16, [&](std::vector<wchar_t>& b, std::size_t& needed) {
    const DWORD n = GetFinalPathNameByHandleW(h.get(), b.data(), static_cast<DWORD>(b.size()), VOLUME_NAME_GUID);
    if (n == 0) return platform::FillResult::Failed;
    if (n < b.size()) return platform::FillResult::Filled;
    needed = n;  // the size it needs, its final NUL counted
    return platform::FillResult::TooSmall;
  });
  if (!filled) return {};
  return volumeOfGuidPath(std::wstring(name.data()));
}

bool isNetworkPath(const std::wstring& path) {
  if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return true;
  return path.size() > 2 && path[0] == L'\\' && path[1] == L'\\' && path[2] != L'?' && path[2] != L'.';
}

std::wstring dosDeviceOf(wchar_t letter) {
  const wchar_t drive[] = {letter, L':', 0};
  wchar_t target[4096] = {};
  if (!QueryDosDeviceW(drive, target, 4095)) return {};
  return target;
}

PathPlace placeOfVolume(const std::wstring& volume, DWORD drive, DWORD partition) {
  const std::wstring target = volumeOfPartition(drive, partition);
  if (!target.empty() && _wcsicmp(target.c_str(), volume.c_str()) == 0) return PathPlace::OnPartition;
  const auto d = deviceNumberOfPath(volume);
  return d && d->type == FILE_DEVICE_DISK && d->number == drive && d->partition == partition ? PathPlace::OnPartition
                                                                                             : PathPlace::Elsewhere;
}

}  // namespace

PathPlace placeOfPath(const std::wstring& path, DWORD drive, DWORD partition) {
  std::wstring volume = volumeOfOpenedFile(path);
  if (!volume.empty()) return placeOfVolume(volume, drive, partition);
  if (isNetworkPath(path)) return PathPlace::Elsewhere;
  // A letter defined onto a folder, perhaps of another such letter: a few steps, never a loop.
  std::wstring through = path;
  for (int step = 0; step < 8; ++step) {
    if (through.size() < 2 || through[1] != L':') break;
    const std::wstring next = throughMappedLetter(through, dosDeviceOf(through[0]));
    if (next.empty() || _wcsicmp(next.c_str(), through.c_str()) == 0) break;
    through = next;
  }
  volume = volumeOfPath(through);
  if (!volume.empty()) return placeOfVolume(volume, drive, partition);
  if (through.size() >= 2 && through[1] == L':') {
    const wchar_t root[] = {through[0], L':', L'\\', 0};
    if (GetDriveTypeW(root) == DRIVE_REMOTE) return PathPlace::Elsewhere;
  }
  return PathPlace::Unknown;
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

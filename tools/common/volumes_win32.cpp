#include "tools/common/volumes_win32.h"

#include <winioctl.h>

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

bool pathIsOnPartition(const std::wstring& path, DWORD drive, DWORD partition) {
  const std::wstring volume = volumeOfPath(path);
  if (volume.empty()) return false;
  const auto d = deviceNumberOfPath(volume);
  return d && d->type == FILE_DEVICE_DISK && d->number == drive && d->partition == partition;
}

bool physicalDriveExists(DWORD drive) {
  const std::wstring path = L"\\\\.\\PhysicalDrive" + std::to_wstring(drive);
  return bool(toolio::UniqueHandle(
      CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr)));
}

}  // namespace disk

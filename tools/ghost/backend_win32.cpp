#include "tools/ghost/backend_win32.h"

#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <ctime>
#include <vector>

namespace ghost {

namespace {

struct VolumeNumber {
  DWORD disk = 0xFFFFFFFF;  // PhysicalDriveN
  DWORD partition = 0;
};

bool numberOfVolume(HANDLE volume, VolumeNumber& number) {
  STORAGE_DEVICE_NUMBER info{};
  DWORD bytes = 0;
  if (!DeviceIoControl(volume, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &info, sizeof info, &bytes, nullptr))
    return false;
  if (info.DeviceType != FILE_DEVICE_DISK) return false;
  number.disk = info.DeviceNumber;
  number.partition = info.PartitionNumber;
  return true;
}

// \\?\Volume{...}\ of the volume that holds path, without the final backslash.
std::wstring volumeOfPath(const std::wstring& path) {
  wchar_t root[MAX_PATH + 1];
  wchar_t name[MAX_PATH + 1];
  if (!GetVolumePathNameW(path.c_str(), root, MAX_PATH)) return {};
  if (!GetVolumeNameForVolumeMountPointW(root, name, MAX_PATH)) return {};
  std::wstring volume(name);
  if (!volume.empty() && volume.back() == L'\\') volume.pop_back();
  return volume;
}

// Finds the volume device of PhysicalDrive(disk) partition `partition`.
std::wstring findVolume(DWORD disk, DWORD partition) {
  wchar_t name[MAX_PATH + 1];
  HANDLE find = FindFirstVolumeW(name, MAX_PATH);
  if (find == INVALID_HANDLE_VALUE) return {};
  std::wstring found;
  do {
    std::wstring volume(name);
    if (!volume.empty() && volume.back() == L'\\') volume.pop_back();
    HANDLE handle = CreateFileW(volume.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    if (handle == INVALID_HANDLE_VALUE) continue;
    VolumeNumber number;
    bool match = numberOfVolume(handle, number) && number.disk == disk && number.partition == partition;
    CloseHandle(handle);
    if (match) {
      found = volume;
      break;
    }
  } while (FindNextVolumeW(find, name, MAX_PATH));
  FindVolumeClose(find);
  return found;
}

// A locked, dismounted volume read and written directly. Raw volume I/O must be
// whole sectors: unaligned requests go through a sector-aligned buffer.
class VolumeDevice : public disk::Device {
 public:
  VolumeDevice(HANDLE handle, std::wstring path, std::uint64_t size, std::uint32_t sectorSize)
      : handle_(handle), path_(std::move(path)), size_(size), sectorSize_(sectorSize) {}
  ~VolumeDevice() override { release(); }

  std::uint64_t size() const override { return size_; }
  std::uint32_t sectorSize() const override { return sectorSize_; }

  bool read(std::uint64_t offset, void* buffer, std::size_t length) override {
    if (offset + length > size_) return false;
    if (aligned(offset, length)) return raw(offset, buffer, length, false);
    return throughBounce(offset, buffer, length, false);
  }
  bool write(std::uint64_t offset, const void* buffer, std::size_t length) override {
    if (offset + length > size_) return false;
    if (aligned(offset, length)) return raw(offset, const_cast<void*>(buffer), length, true);
    return throughBounce(offset, const_cast<void*>(buffer), length, true);
  }
  bool flush() override { return FlushFileBuffers(handle_) != 0; }

  // Unlocks and closes, so the file system can mount again.
  void release() {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    DWORD bytes = 0;
    DeviceIoControl(handle_, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &bytes, nullptr);
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }
  const std::wstring& path() const { return path_; }

 private:
  bool aligned(std::uint64_t offset, std::size_t length) const {
    return offset % sectorSize_ == 0 && length % sectorSize_ == 0;
  }
  bool raw(std::uint64_t offset, void* buffer, std::size_t length, bool writing) {
    auto* p = static_cast<char*>(buffer);
    while (length > 0) {
      DWORD piece = length > (1u << 24) ? (1u << 24) : DWORD(length);
      OVERLAPPED at{};
      at.Offset = DWORD(offset);
      at.OffsetHigh = DWORD(offset >> 32);
      DWORD done = 0;
      BOOL ok = writing ? WriteFile(handle_, p, piece, &done, &at) : ReadFile(handle_, p, piece, &done, &at);
      if (!ok || done != piece) return false;
      p += piece;
      offset += piece;
      length -= piece;
    }
    return true;
  }
  bool throughBounce(std::uint64_t offset, void* buffer, std::size_t length, bool writing) {
    std::uint64_t start = offset / sectorSize_ * sectorSize_;
    std::uint64_t end = (offset + length + sectorSize_ - 1) / sectorSize_ * sectorSize_;
    if (end > size_) return false;
    std::vector<char> bounce(std::size_t(end - start));
    if (!raw(start, bounce.data(), bounce.size(), false)) return false;
    if (!writing) {
      std::memcpy(buffer, bounce.data() + (offset - start), length);
      return true;
    }
    std::memcpy(bounce.data() + (offset - start), buffer, length);
    return raw(start, bounce.data(), bounce.size(), true);
  }

  HANDLE handle_;
  std::wstring path_;
  std::uint64_t size_;
  std::uint32_t sectorSize_;
};

bool splitDesignator(const std::string& text, unsigned& disk, unsigned& partition) {
  auto where = disk::parseDesignator(text);
  if (!where) return false;
  disk = unsigned(where->disk);
  partition = unsigned(where->partition);
  return true;
}

}  // namespace

Problem Win32Backend::openPartition(const std::string& designator, bool forWriting, OpenedPartition& out) {
  unsigned diskNumber = 0, partitionNumber = 0;
  if (!splitDesignator(designator, diskNumber, partitionNumber)) return Problem::BadDesignator;
  std::wstring drive = L"\\\\.\\PhysicalDrive" + std::to_wstring(diskNumber - 1);
  HANDLE diskHandle = CreateFileW(drive.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                  nullptr);
  if (diskHandle == INVALID_HANDLE_VALUE) return Problem::NoSuchDisk;
  CloseHandle(diskHandle);
  std::wstring volume = findVolume(diskNumber - 1, partitionNumber);
  if (volume.empty()) return Problem::NoSuchPartition;

  wchar_t windows[MAX_PATH + 1];
  if (GetWindowsDirectoryW(windows, MAX_PATH) && volumeOfPath(windows) == volume) return Problem::SystemVolume;

  DWORD access = GENERIC_READ | (forWriting ? GENERIC_WRITE : 0);
  HANDLE handle = CreateFileW(volume.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return GetLastError() == ERROR_ACCESS_DENIED ? Problem::AccessDenied : Problem::VolumeInUse;
  DWORD bytes = 0;
  // Nobody may use the volume while its blocks are read or replaced underneath.
  if (!DeviceIoControl(handle, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &bytes, nullptr)) {
    CloseHandle(handle);
    return Problem::VolumeInUse;
  }
  DeviceIoControl(handle, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &bytes, nullptr);
  // The last sectors (NTFS's backup boot sector) lie outside the file system's extent.
  DeviceIoControl(handle, FSCTL_ALLOW_EXTENDED_DASD_IO, nullptr, 0, nullptr, 0, &bytes, nullptr);

  PARTITION_INFORMATION_EX info{};
  DISK_GEOMETRY geometry{};
  if (!DeviceIoControl(handle, IOCTL_DISK_GET_PARTITION_INFO_EX, nullptr, 0, &info, sizeof info, &bytes, nullptr)) {
    DeviceIoControl(handle, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &bytes, nullptr);
    CloseHandle(handle);
    return Problem::PartitionUnreadable;
  }
  std::uint32_t sectorSize = 512;
  if (DeviceIoControl(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry, sizeof geometry, &bytes,
                      nullptr) &&
      geometry.BytesPerSector >= 512)
    sectorSize = geometry.BytesPerSector;
  out.startByte = std::uint64_t(info.StartingOffset.QuadPart);
  out.lengthBytes = std::uint64_t(info.PartitionLength.QuadPart);
  out.device = std::make_unique<VolumeDevice>(handle, volume, out.lengthBytes, sectorSize);
  return Problem::None;
}

bool Win32Backend::isOnPartition(const std::string& path, const std::string& designator) {
  unsigned diskNumber = 0, partitionNumber = 0;
  if (!splitDesignator(designator, diskNumber, partitionNumber)) return false;
  std::wstring volume = volumeOfPath(widePath(path));
  if (volume.empty()) return false;
  HANDLE handle = CreateFileW(volume.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  VolumeNumber number;
  bool same = numberOfVolume(handle, number) && number.disk == diskNumber - 1 && number.partition == partitionNumber;
  CloseHandle(handle);
  return same;
}

bool Win32Backend::extendNtfs(OpenedPartition& partition, std::uint64_t) {
  auto* device = dynamic_cast<VolumeDevice*>(partition.device.get());
  if (!device) return false;
  std::wstring volume = device->path();
  std::uint32_t sectorSize = device->sectorSize();
  // The file system must be mounted again to grow itself.
  device->release();
  HANDLE handle = CreateFileW(volume.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  LONGLONG sectors = LONGLONG(partition.lengthBytes / sectorSize);
  DWORD bytes = 0;
  BOOL ok = DeviceIoControl(handle, FSCTL_EXTEND_VOLUME, &sectors, sizeof sectors, nullptr, 0, &bytes, nullptr);
  CloseHandle(handle);
  return ok != 0;
}

std::uint64_t Win32Backend::newImageId() {
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  std::uint64_t id = std::uint64_t(counter.QuadPart) * 0x9E3779B97F4A7C15ull;
  id ^= std::uint64_t(GetCurrentProcessId()) << 32 ^ GetTickCount();
  return id;
}

std::uint64_t Win32Backend::nowUnix() { return std::uint64_t(std::time(nullptr)); }

}  // namespace ghost

#include "tools/ghost/backend_win32.h"

#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <ctime>
#include <vector>

#include "tools/common/handles_win32.h"
#include "tools/common/utf.h"
#include "tools/common/volumes_win32.h"

namespace ghost {

namespace {

// A locked, dismounted volume read and written directly. Raw volume I/O must be
// whole sectors: unaligned requests go through a sector-aligned buffer.
class VolumeDevice : public disk::Device {
 public:
  VolumeDevice(toolio::UniqueHandle handle, std::wstring path, std::uint64_t size, std::uint32_t sectorSize)
      : handle_(std::move(handle)), path_(std::move(path)), size_(size), sectorSize_(sectorSize) {}
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
  bool flush() override { return FlushFileBuffers(handle_.get()) != 0; }

  // Unlocks and closes, so the file system can mount again.
  void release() {
    if (!handle_) return;
    DWORD bytes = 0;
    DeviceIoControl(handle_.get(), FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &bytes, nullptr);
    handle_.reset();
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
      BOOL ok = writing ? WriteFile(handle_.get(), p, piece, &done, &at) : ReadFile(handle_.get(), p, piece, &done, &at);
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

  toolio::UniqueHandle handle_;
  std::wstring path_;
  std::uint64_t size_;
  std::uint32_t sectorSize_;
};

// The locked volume unlocks again when opening it fails half-way.
class VolumeLock {
 public:
  explicit VolumeLock(HANDLE volume) : volume_(volume) {
    DWORD bytes = 0;
    locked_ = DeviceIoControl(volume_, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &bytes, nullptr) != 0;
  }
  ~VolumeLock() {
    DWORD bytes = 0;
    if (locked_) DeviceIoControl(volume_, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &bytes, nullptr);
  }
  VolumeLock(const VolumeLock&) = delete;
  VolumeLock& operator=(const VolumeLock&) = delete;
  bool locked() const { return locked_; }
  // The device keeps the lock from here on.
  void handOver() { locked_ = false; }

 private:
  HANDLE volume_;
  bool locked_;
};

}  // namespace

Problem Win32Backend::openPartition(const std::string& designator, bool forWriting, OpenedPartition& out,
                                    disk::Error&) {
  auto where = disk::parseDesignator(designator);
  if (!where) return Problem::BadDesignator;
  const DWORD drive = DWORD(where->disk - 1), partition = DWORD(where->partition);
  if (!disk::physicalDriveExists(drive)) return Problem::NoSuchDisk;
  std::wstring volume = disk::volumeOfPartition(drive, partition);
  if (volume.empty()) return Problem::NoSuchPartition;

  wchar_t windows[MAX_PATH + 1];
  if (GetWindowsDirectoryW(windows, MAX_PATH) && disk::volumeOfPath(windows) == volume) return Problem::SystemVolume;

  DWORD access = GENERIC_READ | (forWriting ? GENERIC_WRITE : 0);
  toolio::UniqueHandle handle(
      CreateFileW(volume.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!handle) return GetLastError() == ERROR_ACCESS_DENIED ? Problem::AccessDenied : Problem::VolumeInUse;
  // Nobody may use the volume while its blocks are read or replaced underneath.
  VolumeLock lock(handle.get());
  if (!lock.locked()) return Problem::VolumeInUse;
  DWORD bytes = 0;
  DeviceIoControl(handle.get(), FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &bytes, nullptr);
  // The last sectors (NTFS's backup boot sector) lie outside the file system's extent.
  DeviceIoControl(handle.get(), FSCTL_ALLOW_EXTENDED_DASD_IO, nullptr, 0, nullptr, 0, &bytes, nullptr);

  PARTITION_INFORMATION_EX info{};
  DISK_GEOMETRY geometry{};
  if (!DeviceIoControl(handle.get(), IOCTL_DISK_GET_PARTITION_INFO_EX, nullptr, 0, &info, sizeof info, &bytes,
                       nullptr))
    return Problem::PartitionUnreadable;
  std::uint32_t sectorSize = 512;
  if (DeviceIoControl(handle.get(), IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry, sizeof geometry, &bytes,
                      nullptr) &&
      geometry.BytesPerSector >= 512)
    sectorSize = geometry.BytesPerSector;
  out.startByte = std::uint64_t(info.StartingOffset.QuadPart);
  out.lengthBytes = std::uint64_t(info.PartitionLength.QuadPart);
  out.sectorSize = sectorSize;
  lock.handOver();
  out.device = std::make_unique<VolumeDevice>(std::move(handle), volume, out.lengthBytes, sectorSize);
  return Problem::None;
}

bool Win32Backend::isOnPartition(const std::string& path, const std::string& designator) {
  auto where = disk::parseDesignator(designator);
  return where &&
         disk::pathIsOnPartition(toolio::wideFromUtf8(path), DWORD(where->disk - 1), DWORD(where->partition));
}

bool Win32Backend::extendNtfs(OpenedPartition& partition, std::uint64_t) {
  auto* device = dynamic_cast<VolumeDevice*>(partition.device.get());
  if (!device) return false;
  std::wstring volume = device->path();
  std::uint32_t sectorSize = device->sectorSize();
  // The file system must be mounted again to grow itself.
  device->release();
  toolio::UniqueHandle handle(CreateFileW(volume.c_str(), GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!handle) return false;
  LONGLONG sectors = LONGLONG(partition.lengthBytes / sectorSize);
  DWORD bytes = 0;
  return DeviceIoControl(handle.get(), FSCTL_EXTEND_VOLUME, &sectors, sizeof sectors, nullptr, 0, &bytes, nullptr) != 0;
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

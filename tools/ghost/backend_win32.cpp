#include "tools/ghost/backend_win32.h"

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <ctime>

#include "tools/common/aligned_io.h"
#include "tools/common/handles_win32.h"
#include "tools/common/utf.h"
#include "tools/common/volumes_win32.h"
#include "tools/ghost/volume_lock.h"

namespace ghost {

namespace {

// A locked, dismounted volume read and written directly, in whole aligned sectors
// (aligned_io.h): the engine's own buffers go through an aligned bounce buffer.
class VolumeDevice : public disk::Device {
 public:
  VolumeDevice(toolio::UniqueHandle handle, std::wstring path, std::uint64_t size, std::uint32_t sectorSize,
               std::uint32_t alignment)
      : handle_(std::move(handle)),
        path_(std::move(path)),
        size_(size),
        sectorSize_(sectorSize),
        // The engine's chunks are 4 MiB: one bounce round each.
        aligned_(alignment, size, [this](std::uint64_t offset, std::uint8_t* p, std::size_t length,
                                         bool writing) { return direct(offset, p, length, writing); },
                 4u << 20) {}
  ~VolumeDevice() override { release(); }

  std::uint64_t size() const override { return size_; }
  std::uint32_t sectorSize() const override { return sectorSize_; }

  bool read(std::uint64_t offset, void* buffer, std::size_t length) override {
    return handle_ && aligned_.read(offset, buffer, length);
  }
  bool write(std::uint64_t offset, const void* buffer, std::size_t length) override {
    return handle_ && aligned_.write(offset, buffer, length);
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
  bool direct(std::uint64_t offset, std::uint8_t* p, std::size_t length, bool writing) {
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

  toolio::UniqueHandle handle_;
  std::wstring path_;
  std::uint64_t size_;
  std::uint32_t sectorSize_;
  disk::AlignedTransfer aligned_;
};

// The volume's answers to the steps of taking it.
class Win32VolumeControl : public VolumeControl {
 public:
  explicit Win32VolumeControl(HANDLE volume) : volume_(volume) {}
  bool allowExtendedIo() override { return control(FSCTL_ALLOW_EXTENDED_DASD_IO); }
  bool lock() override { return locked_ = control(FSCTL_LOCK_VOLUME); }
  bool dismount() override { return control(FSCTL_DISMOUNT_VOLUME); }
  void pause(unsigned milliseconds) override { Sleep(milliseconds); }
  // Unlocks again unless the device has taken the lock over.
  ~Win32VolumeControl() override {
    if (locked_) control(FSCTL_UNLOCK_VOLUME);
  }
  void handOver() { locked_ = false; }

 private:
  bool control(DWORD code) {
    DWORD bytes = 0;
    return DeviceIoControl(volume_, code, nullptr, 0, nullptr, 0, &bytes, nullptr) != 0;
  }
  HANDLE volume_;
  bool locked_ = false;
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
  Win32VolumeControl control(handle.get());
  if (!takeVolume(control, forWriting).locked) return Problem::VolumeInUse;

  PARTITION_INFORMATION_EX info{};
  DWORD bytes = 0;
  if (!DeviceIoControl(handle.get(), IOCTL_DISK_GET_PARTITION_INFO_EX, nullptr, 0, &info, sizeof info, &bytes,
                       nullptr))
    return Problem::PartitionUnreadable;
  const disk::SectorSizes sizes = disk::sectorSizesOf(handle.get());
  const std::uint32_t sectorSize = sizes.logical ? sizes.logical : 512;
  out.startByte = std::uint64_t(info.StartingOffset.QuadPart);
  out.lengthBytes = std::uint64_t(info.PartitionLength.QuadPart);
  out.sectorSize = sectorSize;
  control.handOver();
  out.device = std::make_unique<VolumeDevice>(std::move(handle), volume, out.lengthBytes, sectorSize,
                                              std::max<std::uint32_t>(sectorSize, sizes.physical));
  return Problem::None;
}

std::string Win32Backend::driveLetterOf(const std::string& designator) {
  auto where = disk::parseDesignator(designator);
  if (!where) return {};
  const std::wstring volume = disk::volumeOfPartition(DWORD(where->disk - 1), DWORD(where->partition));
  return volume.empty() ? std::string() : toolio::utf8FromWide(disk::driveLetterOfVolume(volume + L"\\"));
}

Backend::Placement Win32Backend::placeOf(const std::string& path, const std::string& designator) {
  auto where = disk::parseDesignator(designator);
  // No such partition: the run stops when it opens it.
  if (!where) return Placement::Elsewhere;
  switch (disk::placeOfPath(toolio::wideFromUtf8(path), DWORD(where->disk - 1), DWORD(where->partition))) {
    case disk::PathPlace::Elsewhere: break;
    case disk::PathPlace::OnPartition: return Placement::OnPartition;
    case disk::PathPlace::Unknown: return Placement::Unknown;
  }
  return Placement::Elsewhere;
}

NtfsGrowth Win32Backend::extendNtfs(OpenedPartition& partition, std::uint64_t) {
  auto* device = dynamic_cast<VolumeDevice*>(partition.device.get());
  if (!device) return {};
  const std::wstring volume = device->path();
  const LONGLONG sectors = LONGLONG(partition.lengthBytes / device->sectorSize());
  // The file system must be mounted again to grow itself.
  device->release();
  NtfsGrowth growth;
  const bool grown = growWithRetries(
      [&](std::uint32_t& error) {
        toolio::UniqueHandle handle(CreateFileW(volume.c_str(), GENERIC_READ | GENERIC_WRITE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!handle) {
          error = GetLastError();
          return false;
        }
        // Not mounted as NTFS yet (RAW for the moment): the grow would be refused.
        wchar_t fileSystem[MAX_PATH + 1] = {};
        if (!GetVolumeInformationByHandleW(handle.get(), nullptr, 0, nullptr, nullptr, nullptr, fileSystem,
                                           MAX_PATH + 1)) {
          error = GetLastError();
          return false;
        }
        if (lstrcmpiW(fileSystem, L"NTFS") != 0) {
          error = ERROR_UNRECOGNIZED_VOLUME;
          return false;
        }
        DWORD bytes = 0;
        if (DeviceIoControl(handle.get(), FSCTL_EXTEND_VOLUME, const_cast<LONGLONG*>(&sectors), sizeof sectors,
                            nullptr, 0, &bytes, nullptr))
          return true;
        error = GetLastError();
        return false;
      },
      [](unsigned milliseconds) { Sleep(milliseconds); }, growth.systemError);
  growth.outcome = grown ? NtfsGrowth::Outcome::Grown : NtfsGrowth::Outcome::Failed;
  return growth;
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

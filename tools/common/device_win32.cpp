// Disk image files, physical drives and volumes on Windows. Raw devices take only
// whole sectors at sector-aligned offsets from sector-aligned memory (aligned_io.h).
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstring>

#include "platform/grow_buffer.h"
#include "tools/common/aligned_io.h"
#include "tools/common/disk.h"
#include "tools/common/handles_win32.h"
#include "tools/common/utf.h"
#include "tools/common/volumes_win32.h"

namespace disk {
namespace {

std::string systemMessage(DWORD code) {
  char* text = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = text ? text : "";
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
    message.pop_back();
  if (message.empty()) message = "错误代码 " + std::to_string(code);
  return message;
}

bool isRawPath(const std::string& path) { return path.rfind("\\\\.\\", 0) == 0 || path.rfind("\\\\?\\", 0) == 0; }
bool isPhysicalDrive(const std::string& path) {
  return path.size() > 4 && _strnicmp(path.c_str() + 4, "PhysicalDrive", 13) == 0;
}
// \\.\C: or \\?\Volume{...}: a volume, with a file system in front of its sectors.
bool isVolumePath(const std::string& path) {
  return (path.size() == 6 && path[5] == ':') || (path.size() > 4 && _strnicmp(path.c_str() + 4, "Volume{", 7) == 0);
}

class Win32Device : public Device {
 public:
  Win32Device(toolio::UniqueHandle handle, std::uint64_t size, std::uint32_t sector, std::uint32_t alignment, bool raw,
              bool physical)
      : handle_(std::move(handle)),
        size_(size),
        sector_(sector),
        raw_(raw),
        physical_(physical),
        aligned_(alignment, size, [this](std::uint64_t offset, std::uint8_t* p, std::size_t length, bool writing) {
          return direct(offset, p, length, writing);
        }) {}
  std::uint64_t size() const override { return size_; }
  std::uint32_t sectorSize() const override { return sector_; }

  bool read(std::uint64_t offset, void* buffer, std::size_t length) override {
    if (raw_) return aligned_.read(offset, buffer, length);
    if (offset > size_ || length > size_ - offset) return false;
    return direct(offset, static_cast<std::uint8_t*>(buffer), length, false);
  }
  bool write(std::uint64_t offset, const void* buffer, std::size_t length) override {
    if (raw_) return aligned_.write(offset, buffer, length);
    if (offset > size_ || length > size_ - offset) return false;
    return direct(offset, static_cast<std::uint8_t*>(const_cast<void*>(buffer)), length, true);
  }
  bool flush() override { return FlushFileBuffers(handle_.get()) != 0; }

  bool systemLayout(Layout& layout) override {
    if (!physical_) return false;
    // The storage stack says "too small" in any of three ways; the size it does not say.
    std::vector<std::uint8_t> buffer;
    if (!platform::fillGrowing(buffer, 64 * 1024, 16u << 20, [&](std::vector<std::uint8_t>& b, std::size_t&) {
          DWORD got = 0;
          if (DeviceIoControl(handle_.get(), IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, b.data(),
                              static_cast<DWORD>(b.size()), &got, nullptr))
            return platform::FillResult::Filled;
          const DWORD code = GetLastError();
          return code == ERROR_INSUFFICIENT_BUFFER || code == ERROR_BAD_LENGTH || code == ERROR_MORE_DATA
                     ? platform::FillResult::TooSmall
                     : platform::FillResult::Failed;
        }))
      return false;
    const auto* info = reinterpret_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(buffer.data());
    // The table's own bytes give what the IOCTL leaves out (entry offsets, GPT names).
    Layout bytes;
    Error ignored;
    readTableBytes(*this, bytes, ignored);
    layout = Layout{};
    if (info->PartitionStyle == PARTITION_STYLE_MBR) {
      layout.style = TableStyle::Mbr;
      layout.mbrSignature = info->Mbr.Signature;
    } else if (info->PartitionStyle == PARTITION_STYLE_GPT) {
      layout.style = TableStyle::Gpt;
    }
    for (DWORD i = 0; i < info->PartitionCount; ++i) {
      const PARTITION_INFORMATION_EX& e = info->PartitionEntry[i];
      if (e.PartitionNumber == 0 || e.PartitionLength.QuadPart == 0) continue;
      Partition p;
      p.number = static_cast<int>(e.PartitionNumber);
      p.startByte = static_cast<std::uint64_t>(e.StartingOffset.QuadPart);
      p.lengthBytes = static_cast<std::uint64_t>(e.PartitionLength.QuadPart);
      if (e.PartitionStyle == PARTITION_STYLE_MBR) {
        if (e.Mbr.PartitionType == 0 || e.Mbr.PartitionType == 0x05 || e.Mbr.PartitionType == 0x0F ||
            e.Mbr.PartitionType == 0x85)
          continue;
        p.mbrType = e.Mbr.PartitionType;
        p.active = e.Mbr.BootIndicator != FALSE;
        p.logical = i >= 4;
      } else if (e.PartitionStyle == PARTITION_STYLE_GPT) {
        std::memcpy(p.gptType.data(), &e.Gpt.PartitionType, 16);
        std::memcpy(p.gptId.data(), &e.Gpt.PartitionId, 16);
        p.gptAttributes = e.Gpt.Attributes;
        for (int c = 0; c < 36 && e.Gpt.Name[c]; ++c) p.gptName.push_back(static_cast<char16_t>(e.Gpt.Name[c]));
      }
      for (const Partition& b : bytes.partitions)
        if (b.startByte == p.startByte) p.tableEntryOffset = b.tableEntryOffset;
      layout.partitions.push_back(p);
    }
    std::sort(layout.partitions.begin(), layout.partitions.end(),
              [](const Partition& a, const Partition& b) { return a.number < b.number; });
    return true;
  }

 private:
  bool direct(std::uint64_t offset, std::uint8_t* p, std::size_t length, bool writing) {
    while (length > 0) {
      DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(length, 32u << 20));
      OVERLAPPED at = {};
      at.Offset = static_cast<DWORD>(offset);
      at.OffsetHigh = static_cast<DWORD>(offset >> 32);
      DWORD done = 0;
      BOOL ok = writing ? WriteFile(handle_.get(), p, chunk, &done, &at) : ReadFile(handle_.get(), p, chunk, &done, &at);
      if (!ok || done == 0) return false;
      p += done;
      offset += done;
      length -= done;
    }
    return true;
  }

  toolio::UniqueHandle handle_;
  std::uint64_t size_;
  std::uint32_t sector_;
  bool raw_;
  bool physical_;
  AlignedTransfer aligned_;
};

class PhysicalDiskSet : public DiskSet {
 public:
  std::vector<int> diskNumbers() override {
    std::vector<int> numbers;
    for (DWORD n = 0; n < 64; ++n)
      if (physicalDriveExists(n)) numbers.push_back(int(n) + 1);
    return numbers;
  }
  std::unique_ptr<Device> open(int diskNumber, bool writable, Error& error) override {
    if (diskNumber < 1) {
      error = errorOf(Fault::NoSuchDisk, std::uint64_t(diskNumber));
      return nullptr;
    }
    return openDevice("\\\\.\\PhysicalDrive" + std::to_string(diskNumber - 1), writable, error);
  }
};

}  // namespace

std::unique_ptr<Device> openDevice(const std::string& path, bool writable, Error& error) {
  const bool raw = isRawPath(path);
  DWORD access = GENERIC_READ | (writable ? GENERIC_WRITE : 0);
  // Named before the call: a temporary's release would come between the failure and its code.
  const std::wstring wide = toolio::wideFromUtf8(path);
  toolio::UniqueHandle handle(CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, raw ? 0 : FILE_FLAG_RANDOM_ACCESS, nullptr));
  const HANDLE h = handle.get();
  if (!handle) {
    const DWORD code = GetLastError();  // before anything else can reset it
    error = errorOf(Fault::DeviceUnopenable);
    error.path = path;
    error.system = systemMessage(code);
    return nullptr;
  }
  std::uint64_t size = 0;
  std::uint32_t sector = 512;
  std::uint32_t alignment = 512;
  DWORD got = 0;
  if (raw) {
    GET_LENGTH_INFORMATION length = {};
    LARGE_INTEGER fileLength = {};
    if (DeviceIoControl(h, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &got, nullptr))
      size = static_cast<std::uint64_t>(length.Length.QuadPart);
    else if (GetFileSizeEx(h, &fileLength))  // a file opened as a device path (tests)
      size = static_cast<std::uint64_t>(fileLength.QuadPart);
    const SectorSizes sizes = sectorSizesOf(h);
    if (sizes.logical) {
      sector = sizes.logical;
    } else if (isVolumePath(path) && path.size() == 6) {
      // A volume such as \\.\C: may not answer for its disk's geometry; its root does.
      DWORD perCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
      std::wstring root = toolio::wideFromUtf8(path.substr(4)) + L"\\";
      if (GetDiskFreeSpaceW(root.c_str(), &perCluster, &bytesPerSector, &freeClusters, &clusters) &&
          bytesPerSector >= 512)
        sector = bytesPerSector;
    }
    alignment = std::max<std::uint32_t>(sector, sizes.physical);
    // A volume's last sectors (the NTFS backup boot sector) lie past its file system;
    // a disk has no file system to ask.
    if (isVolumePath(path)) DeviceIoControl(h, FSCTL_ALLOW_EXTENDED_DASD_IO, nullptr, 0, nullptr, 0, &got, nullptr);
  } else {
    LARGE_INTEGER length = {};
    if (GetFileSizeEx(h, &length)) size = static_cast<std::uint64_t>(length.QuadPart);
  }
  return std::make_unique<Win32Device>(std::move(handle), size, sector, alignment, raw, raw && isPhysicalDrive(path));
}

std::unique_ptr<DiskSet> physicalDiskSet() { return std::make_unique<PhysicalDiskSet>(); }

}  // namespace disk

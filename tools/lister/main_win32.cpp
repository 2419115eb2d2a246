// The shipped lister: the system's physical drives and volumes. Partition numbers
// and extents come from the drive layout; letter, file system, label and free space
// from the volume mounted on each partition, or from our own readers where none is.
#include <windows.h>
#include <winioctl.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tools/common/fs.h"
#include "tools/lister/lister.h"

namespace {

using lister::VolumeFacts;

std::string toAnsi(const wchar_t* text, int length = -1) {
  int n = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, length, out.data(), n, nullptr, nullptr);
  if (length < 0 && !out.empty()) out.pop_back();  // the terminating zero
  return out;
}

std::string utf8ToAnsi(const std::string& utf8) {
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), n);
  return toAnsi(wide.c_str());
}

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (valid()) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

VolumeFacts factsOf(const std::wstring& volume) {
  VolumeFacts facts;
  std::vector<wchar_t> paths(1024);
  DWORD length = 0;
  if (GetVolumePathNamesForVolumeNameW(volume.c_str(), paths.data(), static_cast<DWORD>(paths.size()), &length)) {
    for (const wchar_t* p = paths.data(); *p; p += wcslen(p) + 1) {
      if (wcslen(p) == 3 && p[1] == L':') {
        facts.letter = toAnsi(p).substr(0, 2);
        break;
      }
    }
  }
  wchar_t label[MAX_PATH + 1] = {}, fileSystem[MAX_PATH + 1] = {};
  if (GetVolumeInformationW(volume.c_str(), label, MAX_PATH, nullptr, nullptr, nullptr, fileSystem, MAX_PATH)) {
    facts.fileSystem = toAnsi(fileSystem);
    facts.label = toAnsi(label);
    ULARGE_INTEGER available, total, totalFree;
    if (GetDiskFreeSpaceExW(volume.c_str(), &available, &total, &totalFree)) facts.freeBytes = totalFree.QuadPart;
  }
  return facts;
}

struct Volumes {
  std::map<std::pair<unsigned long, unsigned long>, VolumeFacts> byPartition;  // (drive number, partition number)
  std::vector<lister::DynamicVolumeLine> dynamic;
};

Volumes enumerateVolumes() {
  Volumes out;
  wchar_t name[MAX_PATH + 1] = {};
  HANDLE find = FindFirstVolumeW(name, MAX_PATH);
  if (find == INVALID_HANDLE_VALUE) return out;
  do {
    std::wstring volume = name;
    std::wstring device = volume;
    if (!device.empty() && device.back() == L'\\') device.pop_back();
    Handle h(CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!h.valid()) continue;
    DWORD got = 0;
    STORAGE_DEVICE_NUMBER number = {};
    if (DeviceIoControl(h.get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number, &got,
                        nullptr)) {
      if (number.DeviceType == FILE_DEVICE_DISK && number.PartitionNumber != 0)
        out.byPartition[{number.DeviceNumber, number.PartitionNumber}] = factsOf(volume);
      continue;
    }
    // No single partition behind it: a volume of a dynamic disk, listed by its extents.
    std::vector<std::uint8_t> buffer(sizeof(VOLUME_DISK_EXTENTS) + 32 * sizeof(DISK_EXTENT));
    if (!DeviceIoControl(h.get(), IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, buffer.data(),
                         static_cast<DWORD>(buffer.size()), &got, nullptr))
      continue;
    const auto* extents = reinterpret_cast<const VOLUME_DISK_EXTENTS*>(buffer.data());
    lister::DynamicVolumeLine line;
    for (DWORD i = 0; i < extents->NumberOfDiskExtents && i < 32; ++i)
      line.totalBytes += static_cast<std::uint64_t>(extents->Extents[i].ExtentLength.QuadPart);
    VolumeFacts facts = factsOf(volume);
    line.letter = facts.letter;
    line.freeBytes = facts.freeBytes;
    line.fileSystem = facts.fileSystem.empty() ? "RAW" : facts.fileSystem;
    line.label = facts.label;
    out.dynamic.push_back(line);
  } while (FindNextVolumeW(find, name, MAX_PATH));
  FindVolumeClose(find);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  toolio::ConsoleOut out;
  auto diagnostic = [](const std::string& text) {
    std::string line = lister::diagnosticText(text) + "\r\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
  };
  if (!lister::acceptsArguments(std::vector<std::string>(argv + 1, argv + argc))) {
    diagnostic("用法: pzdir.exe -tavrin");
    return 2;
  }
  Volumes volumes = enumerateVolumes();
  auto disks = disk::physicalDiskSet();
  std::vector<lister::SystemDisk> layouts;
  std::map<int, std::unique_ptr<disk::Device>> devices;
  for (int number : disks->diskNumbers()) {
    std::string error;
    auto device = disks->open(number, false, error);
    lister::SystemDisk d;
    d.number = number;
    if (!device || !disk::readLayout(*device, d.layout, error)) continue;  // an empty card reader, say
    layouts.push_back(d);
    devices[number] = std::move(device);
  }
  auto readOwn = [&](const lister::SystemDisk& d, const disk::Partition& p) {
    disk::PartitionDevice window(*devices[d.number], p.startByte, p.lengthBytes);
    fs::Volume volume;
    std::string error;
    lister::OwnReading own;
    if (fs::Volume::open(window, volume, error)) {
      own.freeBytes = volume.freeBytes();
      own.label = utf8ToAnsi(volume.label());
    }
    own.fileSystem = fs::kindName(volume.kind());
    return own;
  };
  for (const std::string& line : lister::systemLines(layouts, volumes.byPartition, volumes.dynamic, readOwn))
    out.line(line);
  return 0;
}

// The shipped lister: the system's physical drives and volumes. Partition numbers
// and extents come from the drive layout; letter, file system, label and free space
// from the volume mounted on each partition, or from our own readers where none is.
#include <windows.h>
#include <winioctl.h>

#include <cstddef>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "platform/grow_buffer.h"
#include "platform/win32/error_mode_win32.h"
#include "tools/common/codepage_win32.h"
#include "tools/common/fs.h"
#include "tools/common/handles_win32.h"
#include "tools/common/volumes_win32.h"
#include "tools/lister/lister.h"

namespace {

using lister::VolumeFacts;

using toolio::ansiFromUtf8;
using toolio::ansiFromWide;

VolumeFacts factsOf(const std::wstring& volume) {
  VolumeFacts facts;
  facts.letter = ansiFromWide(disk::driveLetterOfVolume(volume));
  wchar_t label[MAX_PATH + 1] = {}, fileSystem[MAX_PATH + 1] = {};
  if (GetVolumeInformationW(volume.c_str(), label, MAX_PATH, nullptr, nullptr, nullptr, fileSystem, MAX_PATH)) {
    facts.fileSystem = ansiFromWide(fileSystem);
    facts.label = ansiFromWide(label);
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
  for (const disk::SystemVolume& system : disk::systemVolumes()) {
    const std::wstring& volume = system.name;
    if (const auto& number = system.device) {
      if (number->type == FILE_DEVICE_DISK && number->partition != 0)
        out.byPartition[{number->number, number->partition}] = factsOf(volume);
      continue;
    }
    // No single partition behind it: a volume of a dynamic disk, listed by its extents.
    toolio::UniqueHandle h(
        CreateFileW(system.path().c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!h) continue;
    // Room for one extent first: a volume over more answers ERROR_MORE_DATA with the
    // number it has, and is asked again with room for them all.
    std::vector<std::uint8_t> buffer;
    const bool read = platform::fillGrowing(
        buffer, sizeof(VOLUME_DISK_EXTENTS), 1u << 20, [&](std::vector<std::uint8_t>& b, std::size_t& needed) {
          DWORD got = 0;
          if (DeviceIoControl(h.get(), IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, b.data(),
                              static_cast<DWORD>(b.size()), &got, nullptr))
            return platform::FillResult::Filled;
          if (GetLastError() != ERROR_MORE_DATA) return platform::FillResult::Failed;
          const DWORD count = reinterpret_cast<const VOLUME_DISK_EXTENTS*>(b.data())->NumberOfDiskExtents;
          needed = offsetof(VOLUME_DISK_EXTENTS, Extents) + std::size_t(count) * sizeof(DISK_EXTENT);
          return platform::FillResult::TooSmall;
        });
    if (!read) continue;
    const auto* extents = reinterpret_cast<const VOLUME_DISK_EXTENTS*>(buffer.data());
    const std::size_t room = (buffer.size() - offsetof(VOLUME_DISK_EXTENTS, Extents)) / sizeof(DISK_EXTENT);
    lister::DynamicVolumeLine line;
    for (DWORD i = 0; i < extents->NumberOfDiskExtents && i < room; ++i)
      line.totalBytes += static_cast<std::uint64_t>(extents->Extents[i].ExtentLength.QuadPart);
    VolumeFacts facts = factsOf(volume);
    line.letter = facts.letter;
    line.freeBytes = facts.freeBytes;
    line.fileSystem = facts.fileSystem.empty() ? "RAW" : facts.fileSystem;
    line.label = facts.label;
    out.dynamic.push_back(line);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  win32::failCriticalErrorsSilently();
  toolio::ConsoleOut out;
  if (!lister::acceptsArguments(std::vector<std::string>(argv + 1, argv + argc))) {
    lister::printDiagnostic(lister::usageLine());
    return 2;
  }
  Volumes volumes = enumerateVolumes();
  auto disks = disk::physicalDiskSet();
  std::vector<lister::SystemDisk> layouts;
  std::map<int, std::unique_ptr<disk::Device>> devices;
  bool allRead = true;
  for (int number : disks->diskNumbers()) {
    disk::Error error;
    auto device = disks->open(number, false, error);
    lister::SystemDisk d;
    d.number = number;
    if (!device || !disk::readLayout(*device, d.layout, error)) {
      // An empty card reader, say: the user still learns that a disk is there.
      lister::printDiagnostic(lister::diskProblem(number, error));
      allRead = false;
      continue;
    }
    layouts.push_back(d);
    devices[number] = std::move(device);
  }
  auto readOwn = [&](const lister::SystemDisk& d, const disk::Partition& p) {
    disk::PartitionDevice window(*devices[d.number], p.startByte, p.lengthBytes);
    fs::Volume volume;
    disk::Error error;
    lister::OwnReading own;
    if (fs::Volume::open(window, volume, error)) {
      own.freeBytes = volume.freeBytes();
      own.label = ansiFromUtf8(volume.label());
    }
    own.fileSystem = fs::kindName(volume.kind());
    return own;
  };
  auto readRisks = [&](const lister::SystemDisk& d, const disk::Partition& p) {
    disk::PartitionDevice window(*devices[d.number], p.startByte, p.lengthBytes);
    return fs::readRisks(window);
  };
  for (const std::string& line :
       lister::systemLines(layouts, volumes.byPartition, volumes.dynamic, readOwn, readRisks))
    out.line(line);
  return allRead ? 0 : 1;
}

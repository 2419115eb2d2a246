// Which file system a partition holds, and the work every file system shares.
#include "tools/common/fs.h"

#include <cstring>
#include <vector>

#include "tools/common/file_system.h"
#include "tools/common/le_bytes.h"

namespace fs {

namespace {

bool readBoot(disk::Device& d, std::vector<std::uint8_t>& boot) {
  boot.assign(512, 0);
  return d.size() >= 512 && d.read(0, boot.data(), 512);
}

// NTFS and exFAT carry a name in their boot sector; FAT is what is left.
const FileSystem* recognise(const std::uint8_t* boot, Kind& kind) {
  kind = Kind::Raw;
  if (!hasBootMark(boot)) return nullptr;
  for (const FileSystem* candidate : {&ntfs(), &exfat(), &fat()}) {
    kind = candidate->recognise(boot);
    if (kind != Kind::Raw) return candidate;
  }
  return nullptr;
}

}  // namespace

bool isPowerOfTwo(std::uint64_t v) { return v && !(v & (v - 1)); }

bool hasBootMark(const std::uint8_t* sector) { return sector[510] == 0x55 && sector[511] == 0xAA; }

std::string trimRight(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  return text;
}

void countUsed(Volume::Facts& v) {
  v.used.resize(static_cast<std::size_t>((v.clusterCount + 7) / 8));
  if (v.clusterCount % 8) v.used.back() &= static_cast<std::uint8_t>((1u << (v.clusterCount % 8)) - 1);
  std::uint64_t count = 0;
  for (std::uint8_t byte : v.used) count += static_cast<unsigned>(__builtin_popcount(byte));
  v.usedCount = count;
}

MoveFix fixHiddenSectors(disk::Device& partition, const FileSystem& fileSystem, const std::uint8_t* boot,
                         std::uint32_t bytesPerSector, std::uint64_t backupSector, std::uint64_t startByte) {
  const Kind kind = fileSystem.recognise(boot);
  const std::uint64_t wanted = startByte / bytesPerSector;
  if (wanted > 0xFFFFFFFFull) return MoveFix::Failed;
  if (toolio::le32(boot + 0x1C) == wanted) return MoveFix::NotNeeded;
  auto patch = [&](std::uint64_t sectorNumber) {
    const std::uint64_t offset = sectorNumber * bytesPerSector;
    std::vector<std::uint8_t> copy(512);
    if (offset + 512 > partition.size() || !partition.read(offset, copy.data(), copy.size())) return false;
    if (!hasBootMark(copy.data()) || fileSystem.recognise(copy.data()) != kind) return true;
    toolio::putLe32(copy.data() + 0x1C, static_cast<std::uint32_t>(wanted));
    return partition.write(offset, copy.data(), copy.size());
  };
  if (!patch(0)) return MoveFix::Failed;
  if (backupSector && !patch(backupSector)) return MoveFix::Failed;
  return partition.flush() ? MoveFix::Fixed : MoveFix::Failed;
}

const char* kindName(Kind kind) {
  switch (kind) {
    case Kind::Ntfs: return "NTFS";
    case Kind::Fat12: return "FAT12";
    case Kind::Fat16: return "FAT16";
    case Kind::Fat32: return "FAT32";
    case Kind::ExFat: return "exFAT";
    case Kind::Raw: break;
  }
  return "RAW";
}

Kind kindOfBootSector(const std::uint8_t* boot) {
  Kind kind = Kind::Raw;
  recognise(boot, kind);
  return kind;
}

Kind detect(disk::Device& partition) {
  std::vector<std::uint8_t> boot;
  Kind kind = Kind::Raw;
  if (readBoot(partition, boot)) recognise(boot.data(), kind);
  return kind;
}

Risks readRisks(disk::Device& partition) {
  Risks risks;
  std::vector<std::uint8_t> boot;
  if (!readBoot(partition, boot)) return risks;
  // BitLocker writes its own boot sector with this name in place of the file system's.
  risks.bitLocker = std::memcmp(boot.data() + 3, "-FVE-FS-", 8) == 0;
  Kind kind = Kind::Raw;
  if (const FileSystem* fileSystem = recognise(boot.data(), kind)) fileSystem->readRisks(partition, boot.data(), risks);
  return risks;
}

bool Volume::open(disk::Device& partition, Volume& volume, disk::Error& error, Scan scan) {
  volume = Volume{};
  error = disk::Error{};
  std::vector<std::uint8_t> boot;
  Kind kind = Kind::Raw;
  if (!readBoot(partition, boot)) {
    // A boot sector that cannot be read says nothing of what the partition holds.
    if (partition.size() < 512) return true;
    error = disk::errorOf(disk::Fault::BootSectorUnreadable);
    return false;
  }
  const FileSystem* fileSystem = recognise(boot.data(), kind);
  if (!fileSystem) return true;
  Facts facts;
  facts.kind = kind;
  facts.bootCopies = fileSystem->bootCopies(boot.data());
  if (!fileSystem->read(partition, boot.data(), facts, scan, error)) {
    volume.f_.kind = kind;
    return false;
  }
  volume = Volume(std::move(facts));
  return true;
}

std::vector<std::uint64_t> bootSectorCopies(const std::uint8_t* boot) {
  Kind kind = Kind::Raw;
  const FileSystem* fileSystem = recognise(boot, kind);
  return fileSystem ? fileSystem->bootCopies(boot) : std::vector<std::uint64_t>{0};
}

MoveFix fixStart(disk::Device& partition, std::uint64_t startByte) {
  std::vector<std::uint8_t> boot;
  if (!readBoot(partition, boot)) return MoveFix::Failed;
  Kind kind = Kind::Raw;
  const FileSystem* fileSystem = recognise(boot.data(), kind);
  return fileSystem ? fileSystem->fixStart(partition, boot.data(), startByte) : MoveFix::Unknown;
}

bool growable(disk::Device& partition) {
  std::vector<std::uint8_t> boot;
  if (!readBoot(partition, boot)) return false;
  Kind kind = Kind::Raw;
  const FileSystem* fileSystem = recognise(boot.data(), kind);
  return fileSystem && fileSystem->growable(partition, boot.data());
}

bool fixGrown(disk::Device& partition) {
  std::vector<std::uint8_t> boot;
  if (!readBoot(partition, boot)) return false;
  Kind kind = Kind::Raw;
  const FileSystem* fileSystem = recognise(boot.data(), kind);
  return !fileSystem || fileSystem->fixGrown(partition, boot.data());
}

}  // namespace fs

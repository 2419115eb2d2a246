#include "tools/bootice/boot_records.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "tools/common/le_bytes.h"

namespace bootice {

namespace {

bool fieldIs(const Sector& sector, std::size_t offset, std::string_view text) {
  return std::memcmp(sector.data() + offset, text.data(), text.size()) == 0;
}

// Loader names appear as ASCII in the code and messages, and as UTF-16 where an
// NTFS boot sector looks the file up by name.
bool names(const std::vector<std::uint8_t>& area, std::string_view name) {
  auto ascii = std::search(area.begin(), area.end(), name.begin(), name.end());
  if (ascii != area.end()) return true;
  std::vector<std::uint8_t> wide;
  for (char c : name) {
    wide.push_back(std::uint8_t(c));
    wide.push_back(0);
  }
  return std::search(area.begin(), area.end(), wide.begin(), wide.end()) != area.end();
}

std::string fileSystemOf(const Sector& first) {
  if (fieldIs(first, 3, "NTFS    ")) return "NTFS";
  if (fieldIs(first, 3, "EXFAT   ")) return "exFAT";
  if (fieldIs(first, 0x52, "FAT32   ")) return "FAT32";
  if (fieldIs(first, 0x36, "FAT16   ")) return "FAT16";
  if (fieldIs(first, 0x36, "FAT12   ")) return "FAT12";
  return "";
}

}  // namespace

bool hasBootMark(const Sector& sector) { return sector[510] == 0x55 && sector[511] == 0xAA; }

Sector withOurBootCode(const Sector& sector) {
  Sector result = sector;
  std::memcpy(result.data(), mbrBootCode(), kBootCodeSize);
  return result;
}

Sector withActiveEntry(const Sector& sector, int index) {
  Sector result = sector;
  for (int i = 0; i < 4; ++i) result[kTableOffset + std::size_t(i) * kEntrySize] = i == index ? 0x80 : 0x00;
  return result;
}

std::size_t bootAreaSectors(const Sector& first) {
  const std::string fileSystem = fileSystemOf(first);
  if (fileSystem == "NTFS") return 16;  // $Boot
  if (fileSystem == "exFAT") return 9;  // boot sector and the eight extended boot sectors
  if (fileSystem.rfind("FAT", 0) == 0) {
    const std::size_t reserved = toolio::le16(first.data() + 0x0E);
    return std::clamp<std::size_t>(reserved, 1, 16);
  }
  return 1;
}

BootAreaFacts inspectBootArea(const std::vector<std::uint8_t>& area) {
  BootAreaFacts facts;
  if (area.size() < kSectorSize) return facts;
  Sector first;
  std::copy_n(area.begin(), kSectorSize, first.begin());
  facts.hasBootMark = hasBootMark(first);
  facts.blank = std::all_of(first.begin(), first.end(), [](std::uint8_t b) { return b == 0; });
  facts.fileSystem = fileSystemOf(first);
  facts.namesBootmgr = names(area, "BOOTMGR");
  facts.namesNtldr = names(area, "NTLDR");
  return facts;
}

}  // namespace bootice

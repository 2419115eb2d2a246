// MBR (with extended chains) and GPT reading, numbered as Windows numbers them:
// MBR primaries in slot order, then logicals in chain order, containers and unused
// slots skipped; GPT entries in array order, unused ones skipped.
#include <algorithm>
#include <cstring>
#include <set>

#include "tools/common/crc32.h"
#include "tools/common/disk.h"
#include "tools/common/le_bytes.h"

namespace disk {
namespace {

using toolio::crc32;
using toolio::le16;
using toolio::le32;
using toolio::le64;

bool isContainer(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

// Chains longer than this are damaged: Windows itself handles no more than 128 entries.
constexpr int kMaxLogicals = 256;

struct Extent {
  std::uint64_t start, end;  // bytes, end exclusive
  int number;
};

bool checkOverlaps(std::vector<Extent> extents, Error& error) {
  std::sort(extents.begin(), extents.end(), [](const Extent& a, const Extent& b) { return a.start < b.start; });
  for (std::size_t i = 1; i < extents.size(); ++i) {
    if (extents[i].start < extents[i - 1].end) {
      error = errorOf(Fault::PartitionsOverlap, std::uint64_t(extents[i - 1].number), std::uint64_t(extents[i].number));
      return false;
    }
  }
  return true;
}

// A boot sector of a file system written to sector 0 itself, not a partition table.
bool isSuperfloppy(const std::vector<std::uint8_t>& s) {
  std::uint16_t bytesPerSector = le16(&s[11]);
  if (!(s[0] == 0xEB || s[0] == 0xE9)) return false;
  if (bytesPerSector < 512 || bytesPerSector > 4096 || (bytesPerSector & (bytesPerSector - 1)) != 0) {
    return std::memcmp(&s[3], "EXFAT   ", 8) == 0;  // exFAT keeps no BPB
  }
  return std::memcmp(&s[3], "NTFS    ", 8) == 0 || std::memcmp(&s[0x36], "FAT1", 4) == 0 ||
         std::memcmp(&s[0x52], "FAT32   ", 8) == 0;
}

class MbrReader {
 public:
  MbrReader(Device& disk, Layout& layout, Error& error)
      : disk_(disk), layout_(layout), error_(error), sector_(disk.sectorSize()) {}

  // Reads the four entries of the table at sector `lba`; false on a read error or a bad signature.
  bool readTable(std::uint64_t lba, std::vector<std::uint8_t>& bytes) {
    bytes.assign(std::max<std::uint32_t>(sector_, 512), 0);
    if (!disk_.read(lba * sector_, bytes.data(), bytes.size())) {
      error_ = errorOf(Fault::SectorUnreadable, lba);
      return false;
    }
    return bytes[510] == 0x55 && bytes[511] == 0xAA;
  }

  bool addPartition(const std::uint8_t* entry, std::uint64_t base, std::uint64_t entryOffset, bool logical,
                    std::uint64_t limitStart, std::uint64_t limitEnd) {
    std::uint64_t start = base + le32(entry + 8);
    std::uint64_t count = le32(entry + 12);
    Partition p;
    p.number = static_cast<int>(layout_.partitions.size()) + 1;
    p.startByte = start * sector_;
    p.lengthBytes = count * sector_;
    p.mbrType = entry[4];
    p.active = entry[0] == 0x80;
    p.logical = logical;
    p.tableEntryOffset = entryOffset;
    if (le32(entry + 8) == 0 && !logical) {
      error_ = errorOf(Fault::StartsAtSectorZero, std::uint64_t(p.number));
      return false;
    }
    if (start < limitStart || start + count > limitEnd) {
      error_ = errorOf(logical ? Fault::LogicalOutsideExtended : Fault::PastDiskEnd, std::uint64_t(p.number));
      return false;
    }
    layout_.partitions.push_back(p);
    return true;
  }

  bool read() {
    std::vector<std::uint8_t> mbr;
    const std::uint64_t diskSectors = disk_.size() / sector_;
    if (!readTable(0, mbr)) return !error_;  // no signature: an empty disk, not an error
    if (isSuperfloppy(mbr)) {
      // A file system on the whole disk, as on some USB sticks: Windows shows one partition.
      layout_.style = TableStyle::Mbr;
      Partition p;
      p.number = 1;
      p.lengthBytes = diskSectors * sector_;
      p.mbrType = std::memcmp(&mbr[0x52], "FAT32   ", 8) == 0 ? 0x0C : std::memcmp(&mbr[0x36], "FAT1", 4) == 0 ? 0x0E : 0x07;
      layout_.partitions.push_back(p);
      return true;
    }
    layout_.mbrSignature = le32(&mbr[0x1B8]);
    for (int slot = 0; slot < 4; ++slot) {
      const std::uint8_t* e = &mbr[446 + 16 * slot];
      if (e[0] != 0 && e[0] != 0x80) {
        error_ = errorOf(Fault::BadActiveFlag, std::uint64_t(slot + 1));
        return false;
      }
    }
    layout_.style = TableStyle::Mbr;
    std::uint64_t extStart = 0, extEnd = 0;
    std::vector<Extent> extents;
    for (int slot = 0; slot < 4; ++slot) {
      const std::uint8_t* e = &mbr[446 + 16 * slot];
      if (e[4] == 0 || le32(e + 12) == 0) continue;
      if (e[4] == 0xEE) {
        // GPT's protective entry: on disks over 2 TiB it claims more than the disk holds.
        protective_ = true;
        continue;
      }
      if (isContainer(e[4])) {
        if (extEnd != 0) continue;  // Windows follows the first container only
        extStart = le32(e + 8);
        extEnd = extStart + le32(e + 12);
        if (extStart == 0 || extEnd > diskSectors) {
          error_ = errorOf(Fault::ExtendedPastDiskEnd);
          return false;
        }
        continue;
      }
      if (!addPartition(e, 0, 446 + 16 * slot, false, 1, diskSectors)) return false;
    }
    if (protective_) return true;
    if (extEnd != 0 && !readChain(extStart, extEnd)) return false;
    for (const Partition& p : layout_.partitions)
      extents.push_back({p.startByte, p.startByte + p.lengthBytes, p.number});
    // The container itself must not cut into a primary.
    if (extEnd != 0) {
      for (const Partition& p : layout_.partitions) {
        if (p.logical) continue;
        std::uint64_t s = p.startByte / sector_, end = s + p.lengthBytes / sector_;
        if (s < extEnd && extStart < end) {
          error_ = errorOf(Fault::OverlapsExtended, std::uint64_t(p.number));
          return false;
        }
      }
    }
    return checkOverlaps(extents, error_);
  }

  bool protective() const { return protective_; }

  bool readChain(std::uint64_t extStart, std::uint64_t extEnd) {
    std::set<std::uint64_t> visited;
    std::uint64_t ebr = extStart;
    std::vector<std::uint8_t> bytes;
    for (int count = 0;; ++count) {
      if (!visited.insert(ebr).second) {
        error_ = errorOf(Fault::ChainLoops);
        return false;
      }
      if (count >= kMaxLogicals) {
        error_ = errorOf(Fault::TooManyLogicals);
        return false;
      }
      if (!readTable(ebr, bytes)) {
        if (!error_) error_ = errorOf(Fault::BadExtendedTable, ebr);
        return false;
      }
      const std::uint8_t* first = &bytes[446];
      const std::uint8_t* link = &bytes[446 + 16];
      if (first[4] != 0 && le32(first + 12) != 0 && !isContainer(first[4])) {
        if (!addPartition(first, ebr, ebr * sector_ + 446, true, ebr + 1, extEnd)) return false;
      }
      if (link[4] == 0 || !isContainer(link[4]) || le32(link + 12) == 0) return true;
      std::uint64_t next = extStart + le32(link + 8);
      if (next < extStart || next >= extEnd) {
        error_ = errorOf(Fault::LinkOutsideExtended);
        return false;
      }
      ebr = next;
    }
  }

 private:
  Device& disk_;
  Layout& layout_;
  Error& error_;
  std::uint64_t sector_;
  bool protective_ = false;
};

struct GptHeader {
  std::uint64_t myLba = 0, alternateLba = 0, firstUsable = 0, lastUsable = 0, entriesLba = 0;
  std::uint32_t entryCount = 0, entrySize = 0, entriesCrc = 0;
  std::vector<std::uint8_t> entries;
};

// Reads and checks the header at `lba` and its entry array; false with a message when
// either fails its checks.
bool readGptHeader(Device& disk, std::uint64_t lba, GptHeader& h, Error& error) {
  const std::uint32_t sector = disk.sectorSize();
  const std::uint64_t diskSectors = disk.size() / sector;
  std::vector<std::uint8_t> b(std::max<std::uint32_t>(sector, 512));
  if (lba == 0 || lba >= diskSectors || !disk.read(lba * sector, b.data(), b.size())) {
    error = errorOf(Fault::GptHeaderUnreadable);
    return false;
  }
  if (std::memcmp(b.data(), "EFI PART", 8) != 0) {
    error = errorOf(Fault::GptBadSignature);
    return false;
  }
  std::uint32_t headerSize = le32(&b[12]);
  if (headerSize < 92 || headerSize > b.size()) {
    error = errorOf(Fault::GptBadHeaderSize);
    return false;
  }
  std::uint32_t stored = le32(&b[16]);
  std::memset(&b[16], 0, 4);
  if (crc32(b.data(), headerSize) != stored) {
    error = errorOf(Fault::GptHeaderChecksum);
    return false;
  }
  h.myLba = le64(&b[24]);
  h.alternateLba = le64(&b[32]);
  h.firstUsable = le64(&b[40]);
  h.lastUsable = le64(&b[48]);
  h.entriesLba = le64(&b[72]);
  h.entryCount = le32(&b[80]);
  h.entrySize = le32(&b[84]);
  h.entriesCrc = le32(&b[88]);
  if (h.myLba != lba || h.firstUsable > h.lastUsable || h.lastUsable >= diskSectors) {
    error = errorOf(Fault::GptHeaderMismatch);
    return false;
  }
  if (h.entrySize < 128 || h.entrySize % 8 != 0 || h.entryCount == 0 ||
      static_cast<std::uint64_t>(h.entryCount) * h.entrySize > (1u << 20)) {
    error = errorOf(Fault::GptBadEntries);
    return false;
  }
  std::uint64_t arrayBytes = static_cast<std::uint64_t>(h.entryCount) * h.entrySize;
  std::uint64_t arraySectors = (arrayBytes + sector - 1) / sector;
  if (h.entriesLba < 2 || h.entriesLba + arraySectors > diskSectors) {
    error = errorOf(Fault::GptEntriesPastEnd);
    return false;
  }
  h.entries.assign(static_cast<std::size_t>(arrayBytes), 0);
  if (!disk.read(h.entriesLba * sector, h.entries.data(), h.entries.size())) {
    error = errorOf(Fault::GptEntriesUnreadable);
    return false;
  }
  if (crc32(h.entries.data(), h.entries.size()) != h.entriesCrc) {
    error = errorOf(Fault::GptEntriesChecksum);
    return false;
  }
  return true;
}

bool readGpt(Device& disk, Layout& layout, Error& error) {
  const std::uint32_t sector = disk.sectorSize();
  const std::uint64_t diskSectors = disk.size() / sector;
  GptHeader h;
  Error primaryError;
  if (!readGptHeader(disk, 1, h, primaryError)) {
    // Windows falls back on the backup header at the disk's last sector, so do we.
    Error backupError;
    if (diskSectors < 2 || !readGptHeader(disk, diskSectors - 1, h, backupError)) {
      error = primaryError;
      error.backupBad = true;
      return false;
    }
  }
  layout.style = TableStyle::Gpt;
  std::vector<Extent> extents;
  for (std::uint32_t i = 0; i < h.entryCount; ++i) {
    const std::uint8_t* e = &h.entries[static_cast<std::size_t>(i) * h.entrySize];
    Partition p;
    std::memcpy(p.gptType.data(), e, 16);
    if (p.gptType == std::array<std::uint8_t, 16>{}) continue;
    std::memcpy(p.gptId.data(), e + 16, 16);
    std::uint64_t first = le64(e + 32), last = le64(e + 40);
    p.gptAttributes = le64(e + 48);
    for (int c = 0; c < 36; ++c) {
      char16_t ch = static_cast<char16_t>(le16(e + 56 + 2 * c));
      if (ch == 0) break;
      p.gptName.push_back(ch);
    }
    p.number = static_cast<int>(layout.partitions.size()) + 1;
    p.tableEntryOffset = h.entriesLba * sector + static_cast<std::uint64_t>(i) * h.entrySize;
    if (last < first || first < h.firstUsable || last > h.lastUsable) {
      error = errorOf(Fault::GptPartitionOutside, std::uint64_t(p.number));
      return false;
    }
    p.startByte = first * sector;
    p.lengthBytes = (last - first + 1) * sector;
    extents.push_back({p.startByte, p.startByte + p.lengthBytes, p.number});
    layout.partitions.push_back(p);
  }
  return checkOverlaps(extents, error);
}

}  // namespace

const Partition* Layout::find(int number) const {
  for (const Partition& p : partitions)
    if (p.number == number) return &p;
  return nullptr;
}

bool readLayout(Device& disk, Layout& layout, Error& error) {
  layout = Layout{};
  error = Error{};
  if (disk.systemLayout(layout)) return true;
  return readTableBytes(disk, layout, error);
}

bool readTableBytes(Device& disk, Layout& layout, Error& error) {
  layout = Layout{};
  error = Error{};
  if (disk.sectorSize() < 512 || disk.sectorSize() % 512 != 0) {
    error = errorOf(Fault::SectorSizeInvalid);
    return false;
  }
  MbrReader mbr(disk, layout, error);
  if (!mbr.read()) {
    layout.partitions.clear();
    return false;
  }
  if (!mbr.protective()) return true;
  std::uint32_t signature = layout.mbrSignature;
  layout = Layout{};
  layout.mbrSignature = signature;
  if (!readGpt(disk, layout, error)) {
    layout.partitions.clear();
    return false;
  }
  return true;
}

std::array<std::uint8_t, 16> guidBytes(std::string_view text) {
  std::array<std::uint8_t, 16> out{};
  std::uint8_t raw[16] = {};
  int n = 0;
  for (std::size_t i = 0; i + 1 < text.size() && n < 16;) {
    if (text[i] == '-') {
      ++i;
      continue;
    }
    auto hex = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    raw[n++] = static_cast<std::uint8_t>(hex(text[i]) << 4 | hex(text[i + 1]));
    i += 2;
  }
  // The first three groups are stored little-endian.
  const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  for (int i = 0; i < 16; ++i) out[i] = raw[order[i]];
  return out;
}

GptKind gptKindOf(const std::array<std::uint8_t, 16>& type) {
  static const struct {
    std::array<std::uint8_t, 16> guid;
    GptKind kind;
  } kKinds[] = {
      {guidBytes("EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"), GptKind::BasicData},
      {guidBytes("C12A7328-F81F-11D2-BA4B-00A0C93EC93B"), GptKind::Esp},
      {guidBytes("E3C9E316-0B5C-4DB8-817D-F92DF00215AE"), GptKind::Msr},
      {guidBytes("DE94BBA4-06D1-4D40-A16A-BFD50179D6AC"), GptKind::Recovery},
      {guidBytes("5808C8AA-7E8F-42E0-85D2-E1E90434CFB3"), GptKind::LdmMetadata},
      {guidBytes("AF9B60A0-1431-4F62-BC68-3311714A69AD"), GptKind::LdmData},
  };
  for (const auto& k : kKinds)
    if (k.guid == type) return k.kind;
  return GptKind::Other;
}

}  // namespace disk

// NTFS: the used clusters are $Bitmap's, read through MFT record 6 from the first,
// always contiguous, part of the MFT. The backup boot sector sits just past the last
// cluster.
#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "tools/common/file_system.h"
#include "tools/common/le_bytes.h"
#include "tools/common/utf.h"

namespace fs {

namespace {

using toolio::le16;
using toolio::le32;
using toolio::le64;

struct NtfsBoot {
  std::uint32_t bytesPerSector = 0;
  std::uint32_t clusterSize = 0;
  std::uint64_t totalSectors = 0;
  std::uint64_t mftCluster = 0;
  std::int8_t recordSizeCode = 0;  // clusters per record, or 2^-n bytes when negative
};

// Sector sizes of 512 to 4096 and clusters up to 2 MiB, as Windows formats them.
// Sectors per cluster above 128 are stored as 256 - n for 2^n sectors.
std::optional<NtfsBoot> parse(const std::uint8_t* b) {
  NtfsBoot n;
  n.bytesPerSector = le16(b + 11);
  const std::uint32_t factor = b[13];
  const std::uint64_t sectors = factor <= 0x80 ? factor : 256 - factor <= 12 ? 1ull << (256 - factor) : 0;
  const std::uint64_t cluster = sectors * n.bytesPerSector;
  n.totalSectors = le64(b + 0x28);
  n.mftCluster = le64(b + 0x30);
  n.recordSizeCode = static_cast<std::int8_t>(b[0x40]);
  if (n.bytesPerSector < 512 || n.bytesPerSector > 4096 || !isPowerOfTwo(n.bytesPerSector) || !isPowerOfTwo(sectors) ||
      cluster > (2u << 20) || n.totalSectors == 0)
    return std::nullopt;
  n.clusterSize = static_cast<std::uint32_t>(cluster);
  return n;
}

struct Mft {
  disk::Device& d;
  std::uint32_t clusterSize, recordSize;
  std::uint64_t offset;
};

// Reads MFT record `number` and applies its update-sequence fixups.
bool readRecord(Mft& m, std::uint32_t number, std::vector<std::uint8_t>& r, disk::Error& error) {
  r.assign(m.recordSize, 0);
  if (!m.d.read(m.offset + static_cast<std::uint64_t>(number) * m.recordSize, r.data(), r.size())) {
    error = disk::errorOf(disk::Fault::NtfsMftUnreadable);
    return false;
  }
  if (std::memcmp(r.data(), "FILE", 4) != 0) {
    error = disk::errorOf(disk::Fault::NtfsRecordInvalid, number);
    return false;
  }
  std::uint16_t usaOffset = le16(&r[4]), usaCount = le16(&r[6]);
  if (usaCount < 2 || usaOffset + usaCount * 2u > r.size() || (usaCount - 1u) * 512 > r.size()) {
    error = disk::errorOf(disk::Fault::NtfsRecordSequence, number);
    return false;
  }
  for (std::uint32_t i = 1; i < usaCount; ++i) {
    std::uint8_t* tail = &r[i * 512 - 2];
    if (std::memcmp(tail, &r[usaOffset], 2) != 0) {
      error = disk::errorOf(disk::Fault::NtfsRecordTorn, number);
      return false;
    }
    std::memcpy(tail, &r[usaOffset + 2 * i], 2);
  }
  return true;
}

// The attribute of `type` without a name; nullptr when absent or malformed.
const std::uint8_t* findAttribute(const std::vector<std::uint8_t>& r, std::uint32_t type) {
  std::size_t at = le16(&r[0x14]);
  while (at + 16 <= r.size()) {
    std::uint32_t t = le32(&r[at]), length = le32(&r[at + 4]);
    if (t == 0xFFFFFFFF || length < 16 || at + length > r.size()) return nullptr;
    if (t == type && r[at + 9] == 0) return &r[at];
    at += length;
  }
  return nullptr;
}

bool readBitmap(Mft& m, Volume::Facts& v, disk::Error& error) {
  std::vector<std::uint8_t> r;
  if (!readRecord(m, 6, r, error)) return false;
  const std::uint8_t* a = findAttribute(r, 0x80);
  const std::size_t need = static_cast<std::size_t>((v.clusterCount + 7) / 8);
  if (!a) {
    error = disk::errorOf(disk::Fault::NtfsNoBitmap);
    return false;
  }
  std::size_t attrLength = le32(a + 4);
  if (attrLength < (a[8] == 0 ? 0x18u : 0x40u)) {
    error = disk::errorOf(disk::Fault::NtfsBitmapHeader);
    return false;
  }
  v.used.assign(need, 0);
  if (a[8] == 0) {  // resident: only on tiny volumes
    std::uint32_t len = le32(a + 0x10), off = le16(a + 0x14);
    if (off + len > attrLength || len < need) {
      error = disk::errorOf(disk::Fault::NtfsBitmapTooSmall);
      return false;
    }
    std::memcpy(v.used.data(), a + off, need);
    return true;
  }
  if (le64(a + 0x10) != 0 || le64(a + 0x30) < need) {
    error = disk::errorOf(disk::Fault::NtfsBitmapShort);
    return false;
  }
  std::size_t at = le16(a + 0x20);
  std::int64_t lcn = 0;
  std::size_t filled = 0;
  while (at < attrLength && a[at] != 0 && filled < need) {
    int lengthBytes = a[at] & 0x0F, offsetBytes = a[at] >> 4;
    if (lengthBytes == 0 || lengthBytes > 8 || offsetBytes > 8 || at + 1 + lengthBytes + offsetBytes > attrLength) {
      error = disk::errorOf(disk::Fault::NtfsBitmapRuns);
      return false;
    }
    std::uint64_t runClusters = 0;
    for (int i = 0; i < lengthBytes; ++i) runClusters |= static_cast<std::uint64_t>(a[at + 1 + i]) << (8 * i);
    std::int64_t delta = 0;
    for (int i = 0; i < offsetBytes; ++i)
      delta |= static_cast<std::int64_t>(static_cast<std::uint64_t>(a[at + 1 + lengthBytes + i]) << (8 * i));
    if (offsetBytes > 0 && offsetBytes < 8 && (a[at + lengthBytes + offsetBytes] & 0x80))
      delta -= static_cast<std::int64_t>(1) << (8 * offsetBytes);  // sign-extend
    at += 1 + lengthBytes + offsetBytes;
    std::uint64_t runBytes = runClusters * m.clusterSize;
    if (runClusters > v.clusterCount) {
      error = disk::errorOf(disk::Fault::NtfsBitmapRunOutside);
      return false;
    }
    std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(runBytes, need - filled));
    if (offsetBytes == 0) {  // sparse: reads as zeros
      filled += take;
      continue;
    }
    lcn += delta;
    if (lcn < 0 || static_cast<std::uint64_t>(lcn) + runClusters > v.clusterCount) {
      error = disk::errorOf(disk::Fault::NtfsBitmapRunOutside);
      return false;
    }
    if (!m.d.read(static_cast<std::uint64_t>(lcn) * m.clusterSize, v.used.data() + filled, take)) {
      error = disk::errorOf(disk::Fault::NtfsBitmapUnreadable);
      return false;
    }
    filled += take;
  }
  if (filled < need) {
    error = disk::errorOf(disk::Fault::NtfsBitmapIncomplete);
    return false;
  }
  return true;
}

std::string volumeLabel(Mft& m) {
  std::vector<std::uint8_t> r;
  disk::Error ignored;
  if (!readRecord(m, 3, r, ignored)) return "";
  const std::uint8_t* a = findAttribute(r, 0x60);
  if (!a || a[8] != 0 || le32(a + 4) < 0x18) return "";
  std::uint32_t len = le32(a + 0x10), off = le16(a + 0x14);
  if (off + len > le32(a + 4)) return "";
  return trimRight(toolio::utf16leBytesToUtf8(a + off, len));
}

class Ntfs : public FileSystem {
 public:
  Kind recognise(const std::uint8_t* boot) const override {
    return std::memcmp(boot + 3, "NTFS    ", 8) == 0 ? Kind::Ntfs : Kind::Raw;
  }

  bool read(disk::Device& d, const std::uint8_t* b, Volume::Facts& v, disk::Error& error) const override {
    const auto boot = parse(b);
    if (!boot || boot->totalSectors > d.size() / boot->bytesPerSector) {
      error = disk::errorOf(disk::Fault::NtfsBadBoot);
      return false;
    }
    Mft m{d, boot->clusterSize, 0, 0};
    const std::int8_t code = boot->recordSizeCode;
    if (code < 0) {
      m.recordSize = -code <= 16 ? 1u << -code : 0;
    } else {
      m.recordSize = static_cast<std::uint32_t>(code) * m.clusterSize;
    }
    if (m.recordSize < 512 || m.recordSize > 65536 || m.recordSize % 512) {
      error = disk::errorOf(disk::Fault::NtfsBadRecordSize);
      return false;
    }
    const std::uint32_t spc = boot->clusterSize / boot->bytesPerSector;
    v.bytesPerSector = boot->bytesPerSector;
    v.clusterSize = boot->clusterSize;
    v.clusterCount = boot->totalSectors / spc;
    v.dataStart = 0;
    if (boot->mftCluster >= v.clusterCount) {
      error = disk::errorOf(disk::Fault::NtfsMftPastVolume);
      return false;
    }
    m.offset = boot->mftCluster * m.clusterSize;
    if (!readBitmap(m, v, error)) return false;
    countUsed(v);
    v.hasMap = true;
    v.freeBytes = (v.clusterCount - v.usedCount) * v.clusterSize;
    // The backup boot sector sits just past the last cluster, outside the bitmap.
    const std::uint64_t end = v.clusterCount * v.clusterSize;
    if (end < d.size()) v.always.push_back({end, d.size() - end});
    v.bootCopies = {0, boot->totalSectors * boot->bytesPerSector};
    v.label = volumeLabel(m);
    return true;
  }

  MoveFix fixStart(disk::Device& partition, const std::uint8_t* boot, std::uint64_t startByte) const override {
    const auto parsed = parse(boot);
    if (!parsed) return MoveFix::Unknown;
    return fixHiddenSectors(partition, *this, boot, parsed->bytesPerSector, parsed->totalSectors, startByte);
  }

  bool fixGrown(disk::Device& partition, const std::uint8_t* boot) const override {
    const auto parsed = parse(boot);
    if (!parsed) return true;
    const std::uint32_t bps = parsed->bytesPerSector;
    const std::uint64_t lastSector = partition.size() / bps - 1;
    if (lastSector <= parsed->totalSectors) return true;  // the backup is already the last sector
    std::vector<std::uint8_t> copy(bps);
    if (!partition.read(0, copy.data(), copy.size())) return false;
    return partition.write(lastSector * bps, copy.data(), copy.size()) && partition.flush();
  }

  bool growable(disk::Device& partition, const std::uint8_t* boot) const override {
    const auto parsed = parse(boot);
    if (!parsed) return false;
    const std::uint64_t partitionSectors = partition.size() / parsed->bytesPerSector;
    const std::uint64_t clusterSectors = parsed->clusterSize / parsed->bytesPerSector;
    return partitionSectors >= parsed->totalSectors + 1 + clusterSectors;
  }
};

}  // namespace

const FileSystem& ntfs() {
  static const Ntfs instance;
  return instance;
}

}  // namespace fs

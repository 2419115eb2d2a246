// NTFS: the used clusters are $Bitmap's, read through MFT record 6 from the first,
// always contiguous, part of the MFT; for an image, also those that the records of
// the MFT name, read through the MFT's own run list. The backup boot sector sits just
// past the last cluster.
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

// Applies a record's update-sequence fixups in place: the last two bytes of each
// 512-byte stride were saved in the sequence array when it was written.
bool applyFixups(std::uint8_t* r, std::size_t size, std::uint64_t number, disk::Error& error) {
  std::uint16_t usaOffset = le16(r + 4), usaCount = le16(r + 6);
  if (usaCount < 2 || usaOffset + usaCount * 2u > size || (usaCount - 1u) * 512 > size) {
    error = disk::errorOf(disk::Fault::NtfsRecordSequence, number);
    return false;
  }
  for (std::uint32_t i = 1; i < usaCount; ++i) {
    std::uint8_t* tail = r + i * 512 - 2;
    if (std::memcmp(tail, r + usaOffset, 2) != 0) {
      error = disk::errorOf(disk::Fault::NtfsRecordTorn, number);
      return false;
    }
    std::memcpy(tail, r + usaOffset + 2 * i, 2);
  }
  return true;
}

// Reads MFT record `number` from the MFT's first extent and applies its fixups.
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
  return applyFixups(r.data(), r.size(), number, error);
}

// Calls each(attribute, length) for every well-formed attribute of a record, in order.
template <typename Each>
void forEachAttribute(const std::uint8_t* r, std::size_t size, Each each) {
  std::size_t at = le16(r + 0x14);
  while (at + 16 <= size) {
    std::uint32_t t = le32(r + at), length = le32(r + at + 4);
    if (t == 0xFFFFFFFF || length < 16 || at + length > size) return;
    each(r + at, length);
    at += length;
  }
}

// The attribute of `type` without a name; nullptr when absent or malformed.
const std::uint8_t* findAttribute(const std::vector<std::uint8_t>& r, std::uint32_t type) {
  const std::uint8_t* found = nullptr;
  forEachAttribute(r.data(), r.size(), [&](const std::uint8_t* a, std::uint32_t) {
    if (!found && le32(a) == type && a[9] == 0) found = a;
  });
  return found;
}

enum class Runs { Ok, Malformed, Outside };

// Decodes the run list of a non-resident attribute: each(lcn, clusters) per run, with
// lcn -1 for a sparse run (no clusters on the disk). Every run must lie inside the
// volume.
template <typename Each>
Runs forEachRun(const std::uint8_t* a, std::size_t attrLength, std::uint64_t clusterCount, Each each) {
  std::size_t at = le16(a + 0x20);
  std::int64_t lcn = 0;
  while (at < attrLength && a[at] != 0) {
    const int lengthBytes = a[at] & 0x0F, offsetBytes = a[at] >> 4;
    if (lengthBytes == 0 || lengthBytes > 8 || offsetBytes > 8 || at + 1 + lengthBytes + offsetBytes > attrLength)
      return Runs::Malformed;
    std::uint64_t runClusters = 0;
    for (int i = 0; i < lengthBytes; ++i) runClusters |= static_cast<std::uint64_t>(a[at + 1 + i]) << (8 * i);
    std::int64_t delta = 0;
    for (int i = 0; i < offsetBytes; ++i)
      delta |= static_cast<std::int64_t>(static_cast<std::uint64_t>(a[at + 1 + lengthBytes + i]) << (8 * i));
    if (offsetBytes > 0 && offsetBytes < 8 && (a[at + lengthBytes + offsetBytes] & 0x80))
      delta -= static_cast<std::int64_t>(1) << (8 * offsetBytes);  // sign-extend
    at += 1 + lengthBytes + offsetBytes;
    if (runClusters > clusterCount) return Runs::Outside;
    if (offsetBytes == 0) {  // sparse: reads as zeros
      if (!each(std::int64_t(-1), runClusters)) return Runs::Ok;
      continue;
    }
    lcn += delta;
    if (lcn < 0 || static_cast<std::uint64_t>(lcn) + runClusters > clusterCount) return Runs::Outside;
    if (!each(lcn, runClusters)) return Runs::Ok;
  }
  return Runs::Ok;
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
  std::size_t filled = 0;
  bool unreadable = false;
  const Runs runs = forEachRun(a, attrLength, v.clusterCount, [&](std::int64_t lcn, std::uint64_t clusters) {
    const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(clusters * m.clusterSize, need - filled));
    if (lcn >= 0 && !m.d.read(static_cast<std::uint64_t>(lcn) * m.clusterSize, v.used.data() + filled, take)) {
      unreadable = true;
      return false;
    }
    filled += take;
    return filled < need;
  });
  if (runs != Runs::Ok) {
    error = disk::errorOf(runs == Runs::Malformed ? disk::Fault::NtfsBitmapRuns : disk::Fault::NtfsBitmapRunOutside);
    return false;
  }
  if (unreadable) {
    error = disk::errorOf(disk::Fault::NtfsBitmapUnreadable);
    return false;
  }
  if (filled < need) {
    error = disk::errorOf(disk::Fault::NtfsBitmapIncomplete);
    return false;
  }
  return true;
}

void markClusters(Volume::Facts& v, std::uint64_t first, std::uint64_t count) {
  for (std::uint64_t c = first; c < first + count; ++c) {
    if (c % 8 == 0 && c + 8 <= first + count) {
      v.used[c / 8] = 0xFF;
      c += 7;
    } else {
      v.used[c / 8] |= static_cast<std::uint8_t>(1u << (c % 8));
    }
  }
}

// Marks the clusters of every non-resident attribute of one record in use, the record
// given as `number` read from the disk. Records not in use, and slots that hold no
// record, name no clusters.
bool markRecordClusters(std::uint8_t* r, std::size_t size, std::uint64_t number, Volume::Facts& v,
                        disk::Error& error) {
  if (std::memcmp(r, "FILE", 4) != 0 || (le16(r + 0x16) & 1) == 0) return true;
  if (!applyFixups(r, size, number, error)) return false;
  bool ok = true;
  forEachAttribute(r, size, [&](const std::uint8_t* a, std::uint32_t length) {
    if (!ok || a[8] == 0 || length < 0x40) return;
    const Runs runs = forEachRun(a, length, v.clusterCount, [&](std::int64_t lcn, std::uint64_t clusters) {
      if (lcn >= 0) markClusters(v, static_cast<std::uint64_t>(lcn), clusters);
      return true;
    });
    if (runs != Runs::Ok) {
      error = disk::errorOf(disk::Fault::NtfsRunOutside, number);
      ok = false;
    }
  });
  return ok;
}

// $Bitmap alone can say a cluster is free that a file still holds (a damaged or badly
// written volume); the files' own records say where their data lies. Every record of
// the MFT is read, through the MFT's own run list, a slice at a time.
bool markFileClusters(Mft& m, Volume::Facts& v, disk::Error& error) {
  std::vector<std::uint8_t> r;
  if (!readRecord(m, 0, r, error)) return false;
  const std::uint8_t* data = findAttribute(r, 0x80);
  if (!data || data[8] == 0 || le32(data + 4) < 0x40 || le64(data + 0x10) != 0) {
    error = disk::errorOf(disk::Fault::NtfsMftRuns);
    return false;
  }
  const std::uint64_t records = le64(data + 0x38) / m.recordSize;  // initialised: the rest reads as zeros
  struct Extent {
    std::uint64_t lcn, clusters;
  };
  std::vector<Extent> extents;
  std::uint64_t mapped = 0;
  const Runs runs = forEachRun(data, le32(data + 4), v.clusterCount, [&](std::int64_t lcn, std::uint64_t clusters) {
    if (lcn < 0) return false;  // the MFT is never sparse
    extents.push_back({static_cast<std::uint64_t>(lcn), clusters});
    mapped += clusters * m.clusterSize;
    return true;
  });
  // A run list in record 0 that stops short of the MFT's end continues in another
  // record (a very fragmented MFT): not read here, so not guessed at either.
  if (runs != Runs::Ok || mapped < records * m.recordSize) {
    error = disk::errorOf(disk::Fault::NtfsMftRuns);
    return false;
  }
  constexpr std::uint64_t kSlice = 1u << 20;
  std::vector<std::uint8_t> slice;
  std::uint64_t number = 0;
  for (const Extent& extent : extents) {
    std::uint64_t offset = extent.lcn * m.clusterSize;
    std::uint64_t left = std::min(extent.clusters * m.clusterSize, (records - number) * m.recordSize);
    left -= left % m.recordSize;
    while (left > 0) {
      const std::uint64_t piece = std::min<std::uint64_t>(left, kSlice / m.recordSize * m.recordSize);
      slice.resize(static_cast<std::size_t>(piece));
      if (!m.d.read(offset, slice.data(), slice.size())) {
        error = disk::errorOf(disk::Fault::NtfsMftUnreadable);
        return false;
      }
      for (std::uint64_t at = 0; at < piece; at += m.recordSize, ++number)
        if (!markRecordClusters(slice.data() + at, m.recordSize, number, v, error)) return false;
      offset += piece;
      left -= piece;
    }
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

  bool read(disk::Device& d, const std::uint8_t* b, Volume::Facts& v, Scan scan, disk::Error& error) const override {
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
    if (scan == Scan::MapAndFiles && !markFileClusters(m, v, error)) return false;
    countUsed(v);
    v.hasMap = true;
    v.freeBytes = (v.clusterCount - v.usedCount) * v.clusterSize;
    // The backup boot sector sits just past the last cluster, outside the bitmap.
    const std::uint64_t end = v.clusterCount * v.clusterSize;
    if (end < d.size()) v.always.push_back({end, d.size() - end});
    v.label = volumeLabel(m);
    return true;
  }

  std::vector<std::uint64_t> bootCopies(const std::uint8_t* boot) const override {
    const auto parsed = parse(boot);
    if (!parsed) return {0};
    return {0, parsed->totalSectors * parsed->bytesPerSector};
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

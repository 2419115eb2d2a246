// NTFS: the used clusters are $Bitmap's, read through MFT record 6 from the first,
// always contiguous, part of the MFT; for an image, also those that the records of
// the MFT name, read through the MFT's own run list. The backup boot sector sits just
// past the last cluster. The risk flags come from $Volume (dirty), and from the root
// folder's hiberfil.sys and $LogFile's restart area (hibernated).
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

// The record size and the MFT's place, checked against the volume.
std::optional<Mft> openMft(disk::Device& d, const NtfsBoot& boot, disk::Error& error) {
  Mft m{d, boot.clusterSize, 0, 0};
  const std::int8_t code = boot.recordSizeCode;
  if (code < 0) {
    m.recordSize = -code <= 16 ? 1u << -code : 0;
  } else {
    m.recordSize = static_cast<std::uint32_t>(code) * m.clusterSize;
  }
  if (m.recordSize < 512 || m.recordSize > 65536 || m.recordSize % 512) {
    error = disk::errorOf(disk::Fault::NtfsBadRecordSize);
    return std::nullopt;
  }
  if (boot.mftCluster >= boot.totalSectors / (boot.clusterSize / boot.bytesPerSector)) {
    error = disk::errorOf(disk::Fault::NtfsMftPastVolume);
    return std::nullopt;
  }
  m.offset = boot.mftCluster * m.clusterSize;
  return m;
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

struct Run {
  std::int64_t lcn;  // -1: sparse, reads as zeros
  std::uint64_t clusters;
};

// The run list of a non-resident attribute as a list, each run checked against the
// volume's `clusterCount` clusters; false when malformed or outside the volume.
bool decodeRuns(const std::uint8_t* a, std::size_t attrLength, std::uint64_t clusterCount, std::vector<Run>& runs) {
  runs.clear();
  return forEachRun(a, attrLength, clusterCount, [&](std::int64_t lcn, std::uint64_t clusters) {
           runs.push_back({lcn, clusters});
           return true;
         }) == Runs::Ok;
}

// Reads up to `limit` bytes of a non-resident attribute's stream, run by run.
bool readStream(Mft& m, const std::uint8_t* a, std::uint64_t clusterCount, std::size_t limit,
                std::vector<std::uint8_t>& out) {
  std::vector<Run> runs;
  if (le32(a + 4) < 0x40 || !decodeRuns(a, le32(a + 4), clusterCount, runs)) return false;
  out.assign(limit, 0);
  std::size_t filled = 0;
  for (const Run& run : runs) {
    if (filled >= limit) break;
    const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(run.clusters * m.clusterSize, limit - filled));
    if (run.lcn >= 0 && !m.d.read(static_cast<std::uint64_t>(run.lcn) * m.clusterSize, out.data() + filled, take))
      return false;
    filled += take;
  }
  out.resize(filled);
  return true;
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

// The attribute of `type` whatever its name (a folder's $I30 index); nullptr when absent.
const std::uint8_t* findNamedAttribute(const std::vector<std::uint8_t>& r, std::uint32_t type) {
  const std::uint8_t* found = nullptr;
  forEachAttribute(r.data(), r.size(), [&](const std::uint8_t* a, std::uint32_t) {
    if (!found && le32(a) == type) found = a;
  });
  return found;
}

// The value of a resident attribute, or nothing when it does not fit its attribute.
std::optional<std::pair<const std::uint8_t*, std::uint32_t>> residentValue(const std::uint8_t* a) {
  if (!a || a[8] != 0 || le32(a + 4) < 0x18) return std::nullopt;
  std::uint32_t len = le32(a + 0x10), off = le16(a + 0x14);
  if (off + static_cast<std::uint64_t>(len) > le32(a + 4)) return std::nullopt;
  return std::make_pair(a + off, len);
}

// $Volume's VOLUME_INFORMATION flags: bit 0 is set while the volume needs a check.
bool markedDirty(Mft& m) {
  std::vector<std::uint8_t> r;
  disk::Error ignored;
  if (!readRecord(m, 3, r, ignored)) return false;
  auto value = residentValue(findAttribute(r, 0x70));
  return value && value->second >= 12 && (le16(value->first + 0x0A) & 0x0001);
}

// Any MFT record: past the first 16, through $MFT's own runs, as the MFT may be
// fragmented once it has grown.
bool readAnyRecord(Mft& m, std::uint64_t clusterCount, std::uint64_t number, std::vector<std::uint8_t>& r) {
  disk::Error ignored;
  if (number < 16) return readRecord(m, static_cast<std::uint32_t>(number), r, ignored);
  std::vector<std::uint8_t> mft;
  if (!readRecord(m, 0, mft, ignored)) return false;
  const std::uint8_t* data = findAttribute(mft, 0x80);
  std::vector<Run> runs;
  if (!data || data[8] == 0 || le32(data + 4) < 0x40 ||
      !decodeRuns(data, le32(data + 4), clusterCount, runs))
    return false;
  const std::uint64_t wanted = number * m.recordSize;
  std::uint64_t skipped = 0;
  for (const Run& run : runs) {
    const std::uint64_t bytes = run.clusters * m.clusterSize;
    if (wanted < skipped + bytes) {
      if (run.lcn < 0) return false;
      Mft at{m.d, m.clusterSize, m.recordSize, static_cast<std::uint64_t>(run.lcn) * m.clusterSize + (wanted - skipped)};
      return readRecord(at, 0, r, ignored);
    }
    skipped += bytes;
  }
  return false;
}

// An attribute of the file whose base record is `base`, also when an attribute list
// moved it into another record (read into `extension`, which must outlive the result).
const std::uint8_t* findInFile(Mft& m, std::uint64_t clusterCount, const std::vector<std::uint8_t>& base,
                               std::uint32_t type, bool anyName, std::vector<std::uint8_t>& extension) {
  if (const std::uint8_t* a = anyName ? findNamedAttribute(base, type) : findAttribute(base, type)) return a;
  const std::uint8_t* list = findAttribute(base, 0x20);
  if (!list) return nullptr;
  std::vector<std::uint8_t> entries;
  if (list[8] == 0) {
    auto value = residentValue(list);
    if (!value) return nullptr;
    entries.assign(value->first, value->first + value->second);
  } else if (!readStream(m, list, clusterCount, 256u << 10, entries)) {
    return nullptr;
  }
  for (std::size_t at = 0; at + 0x1A <= entries.size();) {
    const std::uint32_t t = le32(&entries[at]);
    const std::uint16_t length = le16(&entries[at + 4]);
    if (length < 0x1A || at + length > entries.size()) break;
    if (t == type && (anyName || entries[at + 6] == 0)) {
      const std::uint64_t number = le64(&entries[at + 0x10]) & 0x0000FFFFFFFFFFFFull;
      if (!readAnyRecord(m, clusterCount, number, extension)) return nullptr;
      return anyName ? findNamedAttribute(extension, type) : findAttribute(extension, type);
    }
    at += length;
  }
  return nullptr;
}

bool sameAsciiName(const std::uint8_t* utf16, std::size_t characters, const char* name) {
  if (characters != std::strlen(name)) return false;
  for (std::size_t i = 0; i < characters; ++i) {
    std::uint16_t c = le16(utf16 + 2 * i);
    if (c >= 'A' && c <= 'Z') c = static_cast<std::uint16_t>(c + 32);
    if (c != static_cast<unsigned char>(name[i])) return false;
  }
  return true;
}

// Looks through one index node's entries (header at `header`, `end` its last byte)
// for a file named `name`; its MFT record number, or nothing.
std::optional<std::uint64_t> findInNode(const std::uint8_t* header, const std::uint8_t* end, const char* name) {
  if (end - header < 16) return std::nullopt;
  const std::uint8_t* entry = header + le32(header);
  const std::uint8_t* last = header + std::min<std::uint64_t>(le32(header + 4), static_cast<std::uint64_t>(end - header));
  while (entry >= header && entry + 16 <= last) {
    const std::uint16_t length = le16(entry + 8), keyLength = le16(entry + 10), flags = le16(entry + 12);
    if (flags & 0x02 || length < 16 || entry + length > last) break;
    if (keyLength >= 0x42 && 16u + keyLength <= length) {
      const std::uint8_t* key = entry + 16;
      const std::size_t characters = key[0x40];
      if (0x42 + 2 * characters <= keyLength && sameAsciiName(key + 0x42, characters, name))
        return le64(entry) & 0x0000FFFFFFFFFFFFull;
    }
    entry += length;
  }
  return std::nullopt;
}

// The root folder's entry `name`: its index root, then every block of its index
// allocation (the root folder is small; the whole stream is read, at most 4 MiB).
std::optional<std::uint64_t> findInRoot(Mft& m, std::uint64_t clusterCount, const char* name) {
  std::vector<std::uint8_t> r, rootHolder, allocationHolder;
  if (!readAnyRecord(m, clusterCount, 5, r)) return std::nullopt;
  auto root = residentValue(findInFile(m, clusterCount, r, 0x90, true, rootHolder));
  if (!root || root->second < 0x20) return std::nullopt;
  if (auto found = findInNode(root->first + 0x10, root->first + root->second, name)) return found;
  const std::uint32_t blockSize = le32(root->first + 8);
  const std::uint8_t* allocation = findInFile(m, clusterCount, r, 0xA0, true, allocationHolder);
  if (!allocation || allocation[8] == 0 || blockSize < 512 || blockSize > 65536 || blockSize % 512) return std::nullopt;
  std::vector<std::uint8_t> stream;
  if (!readStream(m, allocation, clusterCount, 4u << 20, stream)) return std::nullopt;
  for (std::size_t at = 0; at + blockSize <= stream.size(); at += blockSize) {
    std::uint8_t* block = &stream[at];
    if (std::memcmp(block, "INDX", 4) != 0) continue;
    disk::Error torn;
    if (!applyFixups(block, blockSize, at / blockSize, torn)) continue;
    if (auto found = findInNode(block + 0x18, block + blockSize, name)) return found;
  }
  return std::nullopt;
}

// A hiberfil.sys in the root folder whose first bytes are a hibernation image's
// signature (Windows leaves the file in place, zeroed or "RSTR", after a resume).
bool hibernated(Mft& m, std::uint64_t clusterCount) {
  const auto number = findInRoot(m, clusterCount, "hiberfil.sys");
  if (!number || *number > 0xFFFFFFFFull) return false;
  std::vector<std::uint8_t> r, extension;
  if (!readAnyRecord(m, clusterCount, *number, r)) return false;
  const std::uint8_t* content = findInFile(m, clusterCount, r, 0x80, false, extension);
  if (!content) return false;
  std::uint8_t first[4] = {};
  if (content[8] == 0) {
    auto value = residentValue(content);
    if (!value || value->second < 4) return false;
    std::memcpy(first, value->first, 4);
  } else {
    std::vector<std::uint8_t> head;
    if (!readStream(m, content, clusterCount, 4, head) || head.size() < 4) return false;
    std::memcpy(first, head.data(), 4);
  }
  for (const char* signature : {"HIBR", "WAKE", "hibr", "wake"})
    if (std::memcmp(first, signature, 4) == 0) return true;
  return false;
}

// $LogFile's newer restart page: a log that still has a client and lacks the
// volume-is-clean flag was never closed. Windows leaves it so when it hibernates
// (fast start-up does, with or without a hibernation image to show for it) or stops
// without shutting down, and replays it over whatever was written meanwhile. A log
// that was never written (all 0xFF, as mkntfs and ntfsfix leave it) is closed.
bool logLeftOpen(Mft& m, std::uint64_t clusterCount) {
  std::vector<std::uint8_t> r, extension, head;
  if (!readAnyRecord(m, clusterCount, 2, r)) return false;
  const std::uint8_t* content = findInFile(m, clusterCount, r, 0x80, false, extension);
  if (!content || content[8] == 0) return false;
  // Two restart pages of at most 64 KiB each.
  if (!readStream(m, content, clusterCount, 128u << 10, head)) return false;
  struct Restart {
    std::uint64_t lsn;
    bool open;
  };
  // The fields read all lie in the page's first sector, before its fixup bytes.
  auto restartAt = [&](std::size_t at) -> std::optional<Restart> {
    if (at + 512 > head.size()) return std::nullopt;
    const std::uint8_t* page = &head[at];
    if (std::memcmp(page, "RSTR", 4) != 0) return std::nullopt;
    const std::uint16_t areaOffset = le16(page + 0x18);
    if (areaOffset < 0x1E || areaOffset % 8 || areaOffset + 0x10u > 510) return std::nullopt;
    const std::uint8_t* area = page + areaOffset;
    const bool hasClient = le16(area + 0x0C) != 0xFFFF;  // client_in_use_list
    const bool clean = le16(area + 0x0E) & 0x0002;        // RESTART_VOLUME_IS_CLEAN
    return Restart{le64(area), hasClient && !clean};
  };
  const std::optional<Restart> first = restartAt(0);
  std::optional<Restart> second;
  if (head.size() >= 512) {
    const std::uint32_t pageSize = first ? le32(&head[0x10]) : 4096;
    if (pageSize >= 512 && pageSize <= 65536 && (pageSize & (pageSize - 1)) == 0) second = restartAt(pageSize);
  }
  if (first && second) return (second->lsn > first->lsn ? second : first)->open;
  if (first) return first->open;
  return second && second->open;
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
    auto mft = openMft(d, *boot, error);
    if (!mft) return false;
    Mft& m = *mft;
    const std::uint32_t spc = boot->clusterSize / boot->bytesPerSector;
    v.bytesPerSector = boot->bytesPerSector;
    v.clusterSize = boot->clusterSize;
    v.clusterCount = boot->totalSectors / spc;
    v.dataStart = 0;
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

  void readRisks(disk::Device& d, const std::uint8_t* b, Risks& risks) const override {
    const auto boot = parse(b);
    disk::Error ignored;
    if (!boot || boot->totalSectors > d.size() / boot->bytesPerSector) return;
    auto mft = openMft(d, *boot, ignored);
    if (!mft) return;
    const std::uint64_t clusterCount = boot->totalSectors / (boot->clusterSize / boot->bytesPerSector);
    risks.dirty = markedDirty(*mft);
    risks.hibernated = hibernated(*mft, clusterCount) || logLeftOpen(*mft, clusterCount);
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

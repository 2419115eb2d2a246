// NTFS and FAT allocation data read from the volumes' own structures. Every size and
// offset taken from the disk is checked before use: a damaged volume gives a message,
// never a read past the partition or an allocation of absurd size.
#include "tools/common/fs.h"

#include <algorithm>
#include <cstring>

#include "tools/common/utf.h"
#include "tools/common/le_bytes.h"

namespace fs {
namespace {

using toolio::le16;
using toolio::le32;
using toolio::le64;

bool isPowerOfTwo(std::uint64_t v) { return v && !(v & (v - 1)); }

std::string trimRight(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  return text;
}

// FAT labels are stored in the OEM code page; only ASCII is certain to survive.
std::string oemLabel(const std::uint8_t* p, std::size_t n) {
  std::string text;
  for (std::size_t i = 0; i < n; ++i) text += p[i] < 0x80 ? static_cast<char>(p[i]) : '?';
  return trimRight(text);
}

bool readBoot(disk::Device& d, std::vector<std::uint8_t>& boot) {
  boot.assign(512, 0);
  return d.size() >= 512 && d.read(0, boot.data(), 512);
}

bool looksLikeFat(const std::uint8_t* b) {
  std::uint16_t bps = le16(b + 11);
  std::uint8_t spc = b[13];
  return (b[0] == 0xEB || b[0] == 0xE9) && bps >= 512 && bps <= 4096 && isPowerOfTwo(bps) && isPowerOfTwo(spc) &&
         le16(b + 14) >= 1 && (b[16] == 1 || b[16] == 2) && (le16(b + 22) != 0 || le32(b + 36) != 0) &&
         (le16(b + 19) != 0 || le32(b + 32) != 0);
}

}  // namespace

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

struct VolumeBuilder {
  // Counts the set bits of the first `clusters` bits of the map.
  static void finishMap(Volume& v) {
    v.used_.resize(static_cast<std::size_t>((v.clusterCount_ + 7) / 8));
    if (v.clusterCount_ % 8) v.used_.back() &= static_cast<std::uint8_t>((1u << (v.clusterCount_ % 8)) - 1);
    std::uint64_t count = 0;
    for (std::uint8_t byte : v.used_) count += static_cast<unsigned>(__builtin_popcount(byte));
    v.usedCount_ = count;
    v.hasMap_ = true;
  }

  // ---- FAT

  static bool openFat(disk::Device& d, const std::vector<std::uint8_t>& b, Volume& v, std::string& error) {
    const std::uint32_t bps = le16(&b[11]);
    const std::uint32_t spc = b[13];
    const std::uint64_t reserved = le16(&b[14]);
    const std::uint32_t fats = b[16];
    const std::uint64_t rootEntries = le16(&b[17]);
    const std::uint64_t total = le16(&b[19]) ? le16(&b[19]) : le32(&b[32]);
    const std::uint64_t fatSectors = le16(&b[22]) ? le16(&b[22]) : le32(&b[36]);
    const std::uint64_t rootSectors = (rootEntries * 32 + bps - 1) / bps;
    const std::uint64_t dataSector = reserved + fats * fatSectors + rootSectors;
    if (total * bps > d.size() || dataSector >= total) {
      error = "FAT 文件系统损坏: 大小超出分区。";
      return false;
    }
    const std::uint64_t clusters = (total - dataSector) / spc;
    v.kind_ = clusters < 4085 ? Kind::Fat12 : clusters < 65525 ? Kind::Fat16 : Kind::Fat32;
    v.bytesPerSector_ = bps;
    v.clusterSize_ = bps * spc;
    v.clusterCount_ = clusters;
    v.dataStart_ = dataSector * bps;
    const int bits = v.kind_ == Kind::Fat12 ? 12 : v.kind_ == Kind::Fat16 ? 16 : 32;
    if (fatSectors * bps * 8 < (clusters + 2) * static_cast<std::uint64_t>(bits)) {
      error = "FAT 文件系统损坏: 文件分配表太小。";
      return false;
    }
    const std::uint32_t bad = bits == 12 ? 0xFF7 : bits == 16 ? 0xFFF7 : 0x0FFFFFF7;
    v.used_.assign(static_cast<std::size_t>((clusters + 7) / 8), 0);
    std::uint64_t freeClusters = 0;
    // The FAT is read in pieces: a large FAT32 one runs to hundreds of megabytes.
    const std::uint64_t fatStart = reserved * bps;
    const std::uint64_t fatBytes = (clusters + 2) * bits / 8 + 2;
    std::vector<std::uint8_t> piece;
    std::uint64_t pieceStart = 0;
    auto byteAt = [&](std::uint64_t at) -> int {
      if (at < pieceStart || at >= pieceStart + piece.size()) {
        pieceStart = at;
        piece.assign(static_cast<std::size_t>(std::min<std::uint64_t>(1u << 20, fatBytes - at + 1)), 0);
        if (!d.read(fatStart + pieceStart, piece.data(), piece.size())) return -1;
      }
      return piece[static_cast<std::size_t>(at - pieceStart)];
    };
    for (std::uint64_t c = 2; c < clusters + 2; ++c) {
      std::uint32_t entry = 0;
      std::uint64_t at = c * bits / 8;
      int nbytes = bits == 12 ? 2 : bits / 8;
      for (int i = 0; i < nbytes; ++i) {
        int byte = byteAt(at + i);
        if (byte < 0) {
          error = "无法读取文件分配表。";
          return false;
        }
        entry |= static_cast<std::uint32_t>(byte) << (8 * i);
      }
      if (bits == 12) entry = (c & 1) ? entry >> 4 : entry & 0xFFF;
      if (bits == 32) entry &= 0x0FFFFFFF;
      if (entry == 0) {
        ++freeClusters;
      } else if (entry != bad) {
        v.used_[static_cast<std::size_t>((c - 2) / 8)] |= static_cast<std::uint8_t>(1u << ((c - 2) % 8));
      }
    }
    finishMap(v);
    v.freeBytes_ = freeClusters * v.clusterSize_;
    v.always_.push_back({0, v.dataStart_});
    // Sectors past the last whole cluster belong to no file; keep them so a copy is exact.
    std::uint64_t end = v.dataStart_ + clusters * v.clusterSize_;
    if (end < d.size()) v.always_.push_back({end, d.size() - end});
    v.bootCopies_.push_back(0);
    if (v.kind_ == Kind::Fat32) {
      std::uint32_t backup = le16(&b[0x32]);
      if (backup != 0 && backup != 0xFFFF && backup < reserved) v.bootCopies_.push_back(backup * bps);
    }
    v.label_ = fatLabel(d, b, v, bits);
    return true;
  }

  // The label Windows shows is the root folder's volume-label entry, not the BPB's.
  static std::string fatLabel(disk::Device& d, const std::vector<std::uint8_t>& b, const Volume& v, int bits) {
    std::vector<std::uint8_t> dir;
    if (bits == 32) {
      std::uint32_t root = le32(&b[0x2C]);
      if (root < 2 || root - 2 >= v.clusterCount_) return "";
      dir.resize(v.clusterSize_);
      if (!d.read(v.clusterOffset(root - 2), dir.data(), dir.size())) return "";
    } else {
      std::uint64_t rootStart = v.dataStart_ - le16(&b[17]) * 32ull;
      dir.resize(static_cast<std::size_t>(std::min<std::uint64_t>(le16(&b[17]) * 32ull, 64 * 1024)));
      if (!d.read(rootStart, dir.data(), dir.size())) return "";
    }
    for (std::size_t at = 0; at + 32 <= dir.size(); at += 32) {
      const std::uint8_t* e = &dir[at];
      if (e[0] == 0) break;
      if (e[0] == 0xE5 || e[11] == 0x0F) continue;  // deleted, long-name piece
      if ((e[11] & 0x18) == 0x08) return oemLabel(e, 11);
    }
    return "";
  }

  // ---- exFAT: free space and label from its allocation bitmap and root folder. No
  // cluster map is offered: an exFAT volume is copied whole.

  static bool openExFat(disk::Device& d, const std::vector<std::uint8_t>& b, Volume& v, std::string& error) {
    const std::uint32_t bpsShift = b[0x6C], spcShift = b[0x6D];
    if (bpsShift < 9 || bpsShift > 12 || spcShift > 25 - bpsShift) {
      error = "exFAT 文件系统损坏: 引导扇区参数无效。";
      return false;
    }
    const std::uint64_t bps = 1u << bpsShift, clusterSize = 1u << (bpsShift + spcShift);
    const std::uint64_t fatStart = le32(&b[0x50]) * bps, heapStart = le32(&b[0x58]) * bps;
    const std::uint64_t clusters = le32(&b[0x5C]);
    if (heapStart + clusters * clusterSize > d.size() || fatStart + (clusters + 2) * 4 > heapStart) {
      error = "exFAT 文件系统损坏: 大小超出分区。";
      return false;
    }
    v.bytesPerSector_ = static_cast<std::uint32_t>(bps);
    v.clusterSize_ = static_cast<std::uint32_t>(clusterSize);
    v.clusterCount_ = clusters;
    v.dataStart_ = heapStart;
    // Reads a cluster chain through the FAT; a chain longer than the volume loops.
    auto chain = [&](std::uint32_t first, std::uint64_t maxBytes, std::vector<std::uint8_t>& out) {
      out.clear();
      std::uint64_t steps = 0;
      for (std::uint32_t c = first; c >= 2 && c - 2 < clusters && out.size() < maxBytes; ++steps) {
        if (steps > clusters) return false;
        std::size_t at = out.size();
        out.resize(at + static_cast<std::size_t>(clusterSize));
        std::uint8_t next[4];
        if (!d.read(heapStart + (c - 2) * clusterSize, &out[at], static_cast<std::size_t>(clusterSize)) ||
            !d.read(fatStart + c * 4ull, next, 4))
          return false;
        c = le32(next);
      }
      return true;
    };
    std::vector<std::uint8_t> root, bitmap;
    if (!chain(le32(&b[0x60]), 1u << 20, root)) {
      error = "exFAT 文件系统损坏: 根目录无法读取。";
      return false;
    }
    std::uint32_t bitmapFirst = 0;
    std::uint64_t bitmapBytes = 0;
    for (std::size_t at = 0; at + 32 <= root.size() && root[at] != 0; at += 32) {
      const std::uint8_t* e = &root[at];
      if (e[0] == 0x81 && bitmapFirst == 0) {
        bitmapFirst = le32(e + 20);
        bitmapBytes = le64(e + 24);
      } else if (e[0] == 0x83) {
        v.label_ = trimRight(toolio::utf16leBytesToUtf8(e + 2, std::min<std::size_t>(e[1], 11) * 2));
      }
    }
    if (bitmapFirst == 0 || bitmapBytes < (clusters + 7) / 8 || !chain(bitmapFirst, bitmapBytes, bitmap) ||
        bitmap.size() < (clusters + 7) / 8) {
      error = "exFAT 文件系统损坏: 分配位图无法读取。";
      return false;
    }
    bitmap.resize(static_cast<std::size_t>((clusters + 7) / 8));
    v.used_ = std::move(bitmap);
    finishMap(v);
    v.hasMap_ = false;
    v.used_.clear();
    v.freeBytes_ = (clusters - v.usedCount_) * clusterSize;
    return true;
  }

  // ---- NTFS

  struct Ntfs {
    disk::Device& d;
    std::uint32_t bps, clusterSize, recordSize;
    std::uint64_t mftOffset, volumeBytes;
  };

  // Reads MFT record `number` (from the first, always contiguous, part of the MFT) and
  // applies its update-sequence fixups.
  static bool readRecord(Ntfs& n, std::uint32_t number, std::vector<std::uint8_t>& r, std::string& error) {
    r.assign(n.recordSize, 0);
    if (!n.d.read(n.mftOffset + static_cast<std::uint64_t>(number) * n.recordSize, r.data(), r.size())) {
      error = "无法读取 NTFS 主文件表。";
      return false;
    }
    if (std::memcmp(r.data(), "FILE", 4) != 0) {
      error = "NTFS 文件系统损坏: 主文件表记录 " + std::to_string(number) + " 无效。";
      return false;
    }
    std::uint16_t usaOffset = le16(&r[4]), usaCount = le16(&r[6]);
    if (usaCount < 2 || usaOffset + usaCount * 2u > r.size() || (usaCount - 1u) * 512 > r.size()) {
      error = "NTFS 文件系统损坏: 主文件表记录 " + std::to_string(number) + " 的更新序列无效。";
      return false;
    }
    for (std::uint32_t i = 1; i < usaCount; ++i) {
      std::uint8_t* tail = &r[i * 512 - 2];
      if (std::memcmp(tail, &r[usaOffset], 2) != 0) {
        error = "NTFS 文件系统损坏: 主文件表记录 " + std::to_string(number) + " 不完整。";
        return false;
      }
      std::memcpy(tail, &r[usaOffset + 2 * i], 2);
    }
    return true;
  }

  // The attribute of `type` without a name; nullptr when absent or malformed.
  static const std::uint8_t* findAttribute(const std::vector<std::uint8_t>& r, std::uint32_t type) {
    std::size_t at = le16(&r[0x14]);
    while (at + 16 <= r.size()) {
      std::uint32_t t = le32(&r[at]), length = le32(&r[at + 4]);
      if (t == 0xFFFFFFFF || length < 16 || at + length > r.size()) return nullptr;
      if (t == type && r[at + 9] == 0) return &r[at];
      at += length;
    }
    return nullptr;
  }

  static bool readBitmap(Ntfs& n, Volume& v, std::string& error) {
    std::vector<std::uint8_t> r;
    if (!readRecord(n, 6, r, error)) return false;
    const std::uint8_t* a = findAttribute(r, 0x80);
    const std::size_t need = static_cast<std::size_t>((v.clusterCount_ + 7) / 8);
    if (!a) {
      error = "NTFS 文件系统损坏: 找不到 $Bitmap 的数据。";
      return false;
    }
    std::size_t attrLength = le32(a + 4);
    if (attrLength < (a[8] == 0 ? 0x18u : 0x40u)) {
      error = "NTFS 文件系统损坏: $Bitmap 的属性头无效。";
      return false;
    }
    v.used_.assign(need, 0);
    if (a[8] == 0) {  // resident: only on tiny volumes
      std::uint32_t len = le32(a + 0x10), off = le16(a + 0x14);
      if (off + len > attrLength || len < need) {
        error = "NTFS 文件系统损坏: $Bitmap 太小。";
        return false;
      }
      std::memcpy(v.used_.data(), a + off, need);
      return true;
    }
    if (le64(a + 0x10) != 0 || le64(a + 0x30) < need) {
      error = "NTFS 文件系统损坏: $Bitmap 太小或不完整。";
      return false;
    }
    std::size_t at = le16(a + 0x20);
    std::int64_t lcn = 0;
    std::size_t filled = 0;
    while (at < attrLength && a[at] != 0 && filled < need) {
      int lengthBytes = a[at] & 0x0F, offsetBytes = a[at] >> 4;
      if (lengthBytes == 0 || lengthBytes > 8 || offsetBytes > 8 || at + 1 + lengthBytes + offsetBytes > attrLength) {
        error = "NTFS 文件系统损坏: $Bitmap 的数据运行列表无效。";
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
      std::uint64_t runBytes = runClusters * n.clusterSize;
      if (runClusters > v.clusterCount_) {
        error = "NTFS 文件系统损坏: $Bitmap 的数据运行超出卷。";
        return false;
      }
      std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(runBytes, need - filled));
      if (offsetBytes == 0) {  // sparse: reads as zeros
        filled += take;
        continue;
      }
      lcn += delta;
      if (lcn < 0 || static_cast<std::uint64_t>(lcn) + runClusters > v.clusterCount_) {
        error = "NTFS 文件系统损坏: $Bitmap 的数据运行超出卷。";
        return false;
      }
      if (!n.d.read(static_cast<std::uint64_t>(lcn) * n.clusterSize, v.used_.data() + filled, take)) {
        error = "无法读取 NTFS 的 $Bitmap。";
        return false;
      }
      filled += take;
    }
    if (filled < need) {
      error = "NTFS 文件系统损坏: $Bitmap 不完整。";
      return false;
    }
    return true;
  }

  static std::string ntfsLabel(Ntfs& n) {
    std::vector<std::uint8_t> r;
    std::string ignored;
    if (!readRecord(n, 3, r, ignored)) return "";
    const std::uint8_t* a = findAttribute(r, 0x60);
    if (!a || a[8] != 0 || le32(a + 4) < 0x18) return "";
    std::uint32_t len = le32(a + 0x10), off = le16(a + 0x14);
    if (off + len > le32(a + 4)) return "";
    return trimRight(toolio::utf16leBytesToUtf8(a + off, len));
  }

  static bool openNtfs(disk::Device& d, const std::vector<std::uint8_t>& b, Volume& v, std::string& error) {
    const std::uint32_t bps = le16(&b[11]);
    std::uint32_t spc = b[13];
    if (spc > 0x80) spc = 1u << (256 - spc);  // 128 KB clusters and beyond
    const std::uint64_t totalSectors = le64(&b[0x28]);
    const std::uint64_t mftLcn = le64(&b[0x30]);
    const std::int8_t perRecord = static_cast<std::int8_t>(b[0x40]);
    if (bps < 512 || bps > 4096 || !isPowerOfTwo(bps) || !isPowerOfTwo(spc) || spc > 4096 ||
        totalSectors == 0 || totalSectors > d.size() / bps) {
      error = "NTFS 文件系统损坏: 引导扇区参数无效或超出分区。";
      return false;
    }
    Ntfs n{d, bps, bps * spc, 0, 0, totalSectors * bps};
    if (perRecord < 0) {
      n.recordSize = -perRecord <= 16 ? 1u << -perRecord : 0;
    } else {
      n.recordSize = static_cast<std::uint32_t>(perRecord) * n.clusterSize;
    }
    if (n.recordSize < 512 || n.recordSize > 65536 || n.recordSize % 512) {
      error = "NTFS 文件系统损坏: 文件记录大小无效。";
      return false;
    }
    v.kind_ = Kind::Ntfs;
    v.bytesPerSector_ = bps;
    v.clusterSize_ = n.clusterSize;
    v.clusterCount_ = totalSectors / spc;
    v.dataStart_ = 0;
    if (mftLcn >= v.clusterCount_) {
      error = "NTFS 文件系统损坏: 主文件表位置超出卷。";
      return false;
    }
    n.mftOffset = mftLcn * n.clusterSize;
    if (!readBitmap(n, v, error)) return false;
    finishMap(v);
    v.freeBytes_ = (v.clusterCount_ - v.usedCount_) * v.clusterSize_;
    // The backup boot sector sits just past the last cluster, outside the bitmap.
    std::uint64_t end = v.clusterCount_ * v.clusterSize_;
    if (end < d.size()) v.always_.push_back({end, d.size() - end});
    v.bootCopies_ = {0, totalSectors * bps};
    v.label_ = ntfsLabel(n);
    return true;
  }
};

Kind detect(disk::Device& partition) {
  std::vector<std::uint8_t> b;
  if (!readBoot(partition, b) || b[510] != 0x55 || b[511] != 0xAA) return Kind::Raw;
  if (std::memcmp(&b[3], "NTFS    ", 8) == 0) return Kind::Ntfs;
  if (std::memcmp(&b[3], "EXFAT   ", 8) == 0) return Kind::ExFat;
  if (!looksLikeFat(b.data())) return Kind::Raw;
  // The FAT type follows from the cluster count, never from the BPB's type text.
  const std::uint32_t bps = le16(&b[11]);
  const std::uint64_t total = le16(&b[19]) ? le16(&b[19]) : le32(&b[32]);
  const std::uint64_t fatSectors = le16(&b[22]) ? le16(&b[22]) : le32(&b[36]);
  const std::uint64_t data = le16(&b[14]) + b[16] * fatSectors + (le16(&b[17]) * 32ull + bps - 1) / bps;
  if (data >= total) return Kind::Raw;
  const std::uint64_t clusters = (total - data) / b[13];
  return clusters < 4085 ? Kind::Fat12 : clusters < 65525 ? Kind::Fat16 : Kind::Fat32;
}

bool Volume::open(disk::Device& partition, Volume& volume, std::string& error) {
  volume = Volume{};
  error.clear();
  Kind kind = detect(partition);
  volume.kind_ = kind;
  std::vector<std::uint8_t> boot;
  if (kind == Kind::Raw || !readBoot(partition, boot)) return true;
  bool ok = kind == Kind::Ntfs    ? VolumeBuilder::openNtfs(partition, boot, volume, error)
            : kind == Kind::ExFat ? VolumeBuilder::openExFat(partition, boot, volume, error)
                                  : VolumeBuilder::openFat(partition, boot, volume, error);
  if (!ok) {
    Kind keep = volume.kind_;
    volume = Volume{};
    volume.kind_ = keep;
  }
  return ok;
}

}  // namespace fs

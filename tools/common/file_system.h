// One file system's own code behind one small interface: recognising its boot
// sector, reading which clusters are in use, and fixing the fields a move of its
// partition changes. fs.cpp picks the implementation: fs_ntfs.cpp, fs_exfat.cpp,
// fs_fat.cpp. Every size and offset taken from a disk is checked before use: a
// damaged volume gives a message, never a read past the partition or an allocation
// of absurd size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/common/fs.h"

namespace fs {

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // The kind the first 512 bytes (their 55AA mark already seen) show, or Raw when they
  // are not this file system's boot sector.
  virtual Kind recognise(const std::uint8_t* boot) const = 0;
  // The allocation: the used-cluster map where there is one, free space, label.
  virtual bool read(disk::Device& partition, const std::uint8_t* boot, Volume::Facts& volume, Scan scan,
                    disk::Error& error) const = 0;
  // Byte offsets of the boot sector (0) and of its copies, from the boot sector alone.
  virtual std::vector<std::uint64_t> bootCopies(const std::uint8_t* boot) const = 0;
  // Points the file system's record of its partition's start at startByte.
  virtual MoveFix fixStart(disk::Device& partition, const std::uint8_t* boot, std::uint64_t startByte) const = 0;
  // The flags that make the volume risky to image or overwrite (dirty, hibernated).
  virtual void readRisks(disk::Device& partition, const std::uint8_t* boot, Risks& risks) const {
    (void)partition;
    (void)boot;
    (void)risks;
  }
  // What the partition's new end needs after a restore onto a larger partition.
  virtual bool fixGrown(disk::Device& partition, const std::uint8_t* boot) const {
    (void)partition;
    (void)boot;
    return true;
  }
  // Whether the partition has room for the file system to grow into (fs.h: growable).
  virtual bool growable(disk::Device& partition, const std::uint8_t* boot) const {
    (void)partition;
    (void)boot;
    return false;
  }
};

const FileSystem& ntfs();
const FileSystem& exfat();
const FileSystem& fat();

// ---- shared by the three

bool isPowerOfTwo(std::uint64_t v);
bool hasBootMark(const std::uint8_t* sector);
std::string trimRight(std::string text);
// Clears the bits past the last cluster and counts the used ones.
void countUsed(Volume::Facts& volume);
// NTFS and FAT name their start in the hidden-sectors field (0x1C) of the boot sector
// and of its backup (0: none). A copy that is no longer that file system's boot
// sector is left alone.
MoveFix fixHiddenSectors(disk::Device& partition, const FileSystem& fileSystem, const std::uint8_t* boot,
                         std::uint32_t bytesPerSector, std::uint64_t backupSector, std::uint64_t startByte);

}  // namespace fs

// Disks and partitions as every carried tool sees them: the lister, the imaging
// engine and the boot-record writer read layouts through this one code, so that
// "2:1" names the same partition in all of them.
//
// Disk N (1-based) is PhysicalDrive(N-1) in the shipped Windows builds, and the
// N-th entry of VREL_DISKS in the Linux and simulated-WinPE builds.
//
// VREL_DISKS lists disk image files or block devices. On Linux the entries are
// separated by ':'; on Windows (simulated builds only: their paths contain ':') by
// ';', as in PATH. Empty entries are dropped.
//
// Failures are a disk::Error (disk_error.h), whose text the tools print as it is.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/common/disk_error.h"

namespace disk {

struct Layout;

// Random access to a whole disk or to one partition of it. Offsets are in bytes;
// implementations over raw Windows devices take care of sector alignment.
class Device {
 public:
  virtual ~Device() = default;
  virtual std::uint64_t size() const = 0;
  virtual std::uint32_t sectorSize() const { return 512; }
  virtual bool read(std::uint64_t offset, void* buffer, std::size_t length) = 0;
  virtual bool write(std::uint64_t offset, const void* buffer, std::size_t length) = 0;
  virtual bool flush() = 0;
  // How many bytes from offset on (at most length) the device knows to read as zeros
  // without reading them: a hole of a sparse disk image. 0 when it cannot tell.
  virtual std::uint64_t knownZerosAt(std::uint64_t offset, std::uint64_t length) {
    (void)offset;
    (void)length;
    return 0;
  }
  // A device that knows its layout from the system (a Windows physical drive) fills
  // it here, so that its partition numbers are the system's own; others return false.
  virtual bool systemLayout(Layout&) { return false; }
};

enum class TableStyle { None, Mbr, Gpt };

struct Partition {
  int number = 0;  // as the system numbers it (1-based)
  std::uint64_t startByte = 0;
  std::uint64_t lengthBytes = 0;
  // MBR
  std::uint8_t mbrType = 0;
  bool active = false;
  bool logical = false;
  std::uint64_t tableEntryOffset = 0;  // byte offset of its 16-byte MBR/EBR entry (GPT: of its array entry)
  // GPT
  std::array<std::uint8_t, 16> gptType{};
  std::array<std::uint8_t, 16> gptId{};
  std::uint64_t gptAttributes = 0;
  std::u16string gptName;
};

struct Layout {
  TableStyle style = TableStyle::None;
  std::uint32_t mbrSignature = 0;  // bytes 0x1B8..0x1BB
  std::vector<Partition> partitions;  // in the system's numbering order

  const Partition* find(int number) const;
};

// ---- devices

// Opens a disk image file or a block device (Linux), or an image file, a
// \\.\PhysicalDriveN or a volume such as \\.\C: (Windows). Paths are UTF-8.
std::unique_ptr<Device> openDevice(const std::string& path, bool writable, Error& error);

// A byte range of another device (a partition), which must outlive the window.
// Access outside the range fails instead of reaching the neighbours.
class PartitionDevice : public Device {
 public:
  PartitionDevice(Device& disk, std::uint64_t startByte, std::uint64_t lengthBytes);
  std::uint64_t size() const override { return length_; }
  std::uint32_t sectorSize() const override { return disk_.sectorSize(); }
  bool read(std::uint64_t offset, void* buffer, std::size_t length) override;
  bool write(std::uint64_t offset, const void* buffer, std::size_t length) override;
  bool flush() override { return disk_.flush(); }
  std::uint64_t knownZerosAt(std::uint64_t offset, std::uint64_t length) override;
  std::uint64_t startByte() const { return start_; }

 private:
  bool inside(std::uint64_t offset, std::size_t length) const;
  Device& disk_;
  std::uint64_t start_;
  std::uint64_t length_;
};

// A disk held in memory: tests, and small scratch areas.
class MemoryDevice : public Device {
 public:
  explicit MemoryDevice(std::uint64_t size, std::uint32_t sectorSize = 512)
      : bytes_(static_cast<std::size_t>(size)), sectorSize_(sectorSize) {}
  std::uint64_t size() const override { return bytes_.size(); }
  std::uint32_t sectorSize() const override { return sectorSize_; }
  bool read(std::uint64_t offset, void* buffer, std::size_t length) override;
  bool write(std::uint64_t offset, const void* buffer, std::size_t length) override;
  bool flush() override { return true; }
  std::vector<std::uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::uint32_t sectorSize_;
};

// ---- partition tables

// Reads the MBR (with its extended chain) or GPT of a disk. A disk without a table
// gives style None and no partitions. A damaged table (overlapping or past-the-end
// entries, a GPT whose primary and backup headers both fail their checks, an
// extended chain that loops or leaves its container) gives false and a message.
bool readLayout(Device& disk, Layout& layout, Error& error);
// The same from the table's bytes alone, never asking the system.
bool readTableBytes(Device& disk, Layout& layout, Error& error);

enum class GptKind { Other, BasicData, Esp, Msr, Recovery, LdmMetadata, LdmData };
GptKind gptKindOf(const std::array<std::uint8_t, 16>& type);
// "C12A7328-F81F-11D2-BA4B-00A0C93EC93B" in its on-disk (mixed-endian) byte order.
std::array<std::uint8_t, 16> guidBytes(std::string_view text);

// ---- naming disks

// "1:2": disk 1, partition 2 (both from 1). Anything else, including blanks, signs,
// leading zeros beyond one digit run and numbers past 999, is refused.
struct Designator {
  int disk = 0;
  int partition = 0;
};
std::optional<Designator> parseDesignator(std::string_view text);

#ifdef _WIN32
inline constexpr char kDiskListSeparator = ';';
#else
inline constexpr char kDiskListSeparator = ':';
#endif
std::vector<std::string> splitDiskList(std::string_view text, char separator = kDiskListSeparator);
// The entries of VREL_DISKS (UTF-8), empty when it is not set.
std::vector<std::string> diskListFromEnvironment();

// Where "disk N" comes from: the system's physical drives, or a list of image files.
class DiskSet {
 public:
  virtual ~DiskSet() = default;
  // The numbers of the disks present, ascending (gaps possible on Windows).
  virtual std::vector<int> diskNumbers() = 0;
  virtual std::unique_ptr<Device> open(int diskNumber, bool writable, Error& error) = 0;
};

// ---- faults on purpose (the disk-image builds only)

// VREL_DISK_FAULTS makes chosen byte ranges of the image disks fail, so that a test can
// build a bad sector, a write that fails or a kill at a chosen point: comma-separated
// entries KIND:WHERE:START+LENGTH (bytes, decimal). KIND r: reads touching the range
// fail; w: writes touching it fail; k: a write touching it ends the process at once,
// as kill -9 would. WHERE: a disk's number in VREL_DISKS, or "image" for the files
// the imaging engine reads and writes (offsets count from the start of each file).
// The shipped builds never read the variable.
struct FaultRange {
  char kind = 'r';
  std::string where;
  std::uint64_t start = 0;
  std::uint64_t length = 0;
  bool touches(std::uint64_t offset, std::uint64_t count) const {
    return count > 0 && offset < start + length && start < offset + count;
  }
};
// Entries that do not parse are dropped.
std::vector<FaultRange> parseFaults(std::string_view text);
std::vector<FaultRange> faultsFromEnvironment();
// The faults of one place, in one small object: the hook of a device or a file.
class FaultHook {
 public:
  FaultHook() = default;
  FaultHook(const std::vector<FaultRange>& all, const std::string& where);
  bool empty() const { return ranges_.empty(); }
  // False when the access must fail; a kill range ends the process here.
  bool allowRead(std::uint64_t offset, std::uint64_t length) const;
  bool allowWrite(std::uint64_t offset, std::uint64_t length) const;

 private:
  std::vector<FaultRange> ranges_;
};

// Disks are the paths; a disk named in `faults` fails where they say.
std::unique_ptr<DiskSet> imageDiskSet(std::vector<std::string> paths, std::vector<FaultRange> faults = {});
// The disks of VREL_DISKS with the faults of VREL_DISK_FAULTS.
std::unique_ptr<DiskSet> environmentDiskSet();
#ifdef _WIN32
// \\.\PhysicalDrive(N-1); never reads VREL_DISKS.
std::unique_ptr<DiskSet> physicalDiskSet();
#endif

// One partition opened for reading or writing: the disk, its layout and a window
// over the partition's bytes.
struct OpenPartition {
  std::unique_ptr<Device> disk;
  Layout layout;
  Partition partition;
  std::unique_ptr<PartitionDevice> device;
};
// A layout that cannot be read gives its error with onDisk set.
bool openPartition(DiskSet& disks, Designator where, bool writable, OpenPartition& out, Error& error);

}  // namespace disk

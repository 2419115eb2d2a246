// Disks and partitions as every carried tool sees them: the lister, the imaging
// engine and the boot-record writer read layouts through this one code, so that
// "2:1" names the same partition in all of them.
//
// Disk N (1-based) is PhysicalDrive(N-1) in the shipped Windows builds, and the
// N-th entry of VREL_DISKS in the Linux and simulated-WinPE builds.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace disk {

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
  std::uint64_t tableEntryOffset = 0;  // byte offset of its 16-byte MBR/EBR entry
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
};

}  // namespace disk

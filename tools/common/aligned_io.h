// Raw disk and volume handles opened without the cache take whole sectors only: the
// offset, the length and the buffer's address must all be multiples of the sector
// size, or the request fails (how strictly depends on the controller). One helper
// for every such device: aligned requests go straight through, the rest through an
// aligned bounce buffer, keeping the neighbours' bytes of partly written sectors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace disk {

// Memory whose address is a multiple of the alignment (a power of two; at least a
// page, which covers every common sector size). data() is nullptr when memory is short.
class AlignedBuffer {
 public:
  explicit AlignedBuffer(std::size_t size, std::size_t alignment = 4096);
  ~AlignedBuffer();
  AlignedBuffer(const AlignedBuffer&) = delete;
  AlignedBuffer& operator=(const AlignedBuffer&) = delete;
  std::uint8_t* data() { return data_; }
  std::size_t size() const { return size_; }

 private:
  std::size_t alignment_;
  std::uint8_t* data_;
  std::size_t size_;
};

// One request the device takes as it is: aligned offset, length and address.
using DirectTransfer = std::function<bool(std::uint64_t offset, std::uint8_t* buffer, std::size_t length, bool writing)>;

// A device of deviceSize bytes whose requests must be aligned to `alignment` (a power
// of two, the larger of the logical and physical sector sizes).
class AlignedTransfer {
 public:
  AlignedTransfer(std::uint32_t alignment, std::uint64_t deviceSize, DirectTransfer direct,
                  std::size_t bounceSize = 1u << 20);
  bool read(std::uint64_t offset, void* buffer, std::size_t length);
  bool write(std::uint64_t offset, const void* buffer, std::size_t length);
  std::uint32_t alignment() const { return alignment_; }

 private:
  bool transfer(std::uint64_t offset, std::uint8_t* p, std::size_t length, bool writing);
  std::uint32_t alignment_;
  std::uint64_t size_;
  DirectTransfer direct_;
  std::size_t bounceSize_;
};

}  // namespace disk

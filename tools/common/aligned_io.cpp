#include "tools/common/aligned_io.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace disk {

AlignedBuffer::AlignedBuffer(std::size_t size, std::size_t alignment)
    : alignment_(std::max<std::size_t>(alignment, 4096)),
      data_(static_cast<std::uint8_t*>(::operator new(size, std::align_val_t(alignment_), std::nothrow))),
      size_(size) {}

AlignedBuffer::~AlignedBuffer() {
  if (data_) ::operator delete(data_, std::align_val_t(alignment_));
}

AlignedTransfer::AlignedTransfer(std::uint32_t alignment, std::uint64_t deviceSize, DirectTransfer direct,
                                 std::size_t bounceSize)
    : alignment_(alignment < 512 ? 512 : alignment),
      size_(deviceSize),
      direct_(std::move(direct)),
      // Whole sectors, at least one.
      bounceSize_(std::max<std::size_t>(bounceSize / alignment_ * alignment_, alignment_)) {}

bool AlignedTransfer::read(std::uint64_t offset, void* buffer, std::size_t length) {
  return transfer(offset, static_cast<std::uint8_t*>(buffer), length, false);
}

bool AlignedTransfer::write(std::uint64_t offset, const void* buffer, std::size_t length) {
  return transfer(offset, static_cast<std::uint8_t*>(const_cast<void*>(buffer)), length, true);
}

bool AlignedTransfer::transfer(std::uint64_t offset, std::uint8_t* p, std::size_t length, bool writing) {
  if (offset > size_ || length > size_ - offset) return false;
  if (length == 0) return true;
  const std::uint64_t s = alignment_;
  if (offset % s == 0 && length % s == 0 && reinterpret_cast<std::uintptr_t>(p) % s == 0)
    return direct_(offset, p, length, writing);
  AlignedBuffer bounce(bounceSize_, alignment_);
  if (!bounce.data()) return false;
  while (length > 0) {
    const std::uint64_t first = offset / s * s;
    const std::size_t skip = static_cast<std::size_t>(offset - first);
    const std::size_t span = std::min<std::size_t>(bounce.size() - skip, length);
    std::size_t whole = static_cast<std::size_t>((skip + span + s - 1) / s * s);
    // A device whose size is not whole sectors: its last part sector is all there is.
    if (first + whole > size_) whole = static_cast<std::size_t>(size_ - first);
    if (writing) {
      if ((skip != 0 || span % s != 0) && !direct_(first, bounce.data(), whole, false)) return false;
      std::memcpy(bounce.data() + skip, p, span);
      if (!direct_(first, bounce.data(), whole, true)) return false;
    } else {
      if (!direct_(first, bounce.data(), whole, false)) return false;
      std::memcpy(p, bounce.data() + skip, span);
    }
    p += span;
    offset += span;
    length -= span;
  }
  return true;
}

}  // namespace disk

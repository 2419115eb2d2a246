#include "tools/ghost/target_writer.h"

#include <algorithm>

#include "tools/common/fs.h"

namespace ghost {

TargetWriter::TargetWriter(disk::Device& target, std::uint32_t sectorSize)
    : target_(target), sector_(std::max<std::uint32_t>(sectorSize, 512)) {}

bool TargetWriter::start(std::uint64_t offset, const std::uint8_t* bytes, std::size_t length) {
  started_ = true;
  const std::uint64_t size = target_.size();
  auto fits = [&](std::uint64_t at) { return at <= size && sector_ <= size - at; };
  // The target's own boot sector, its copies, and a copy in its last sector (left by
  // an earlier restore onto a larger partition), wherever they still look like one.
  std::vector<std::uint64_t> clear = {0};
  std::vector<std::uint8_t> sector(sector_);
  if (fits(0) && target_.read(0, sector.data(), sector.size())) clear = fs::bootSectorCopies(sector.data());
  if (size >= sector_) clear.push_back(size / sector_ * sector_ - sector_);
  for (std::uint64_t at : clear) {
    if (!fits(at)) continue;
    if (at != 0 && !(target_.read(at, sector.data(), sector.size()) && fs::kindOfBootSector(sector.data()) != fs::Kind::Raw))
      continue;
    std::fill(sector.begin(), sector.end(), 0);
    if (!target_.write(at, sector.data(), sector.size())) return false;
  }
  if (!target_.flush()) return false;
  // The image's boot sector and its copies, as its first bytes name them.
  std::vector<std::uint64_t> image = {0};
  if (offset == 0 && length >= 512) image = fs::bootSectorCopies(bytes);
  for (std::uint64_t at : image) {
    if (!fits(at) || at % sector_ != 0) continue;
    Held held;
    held.offset = at;
    held.bytes.assign(sector_, 0);
    const bool cleared = std::find(clear.begin(), clear.end(), at) != clear.end();
    if (!cleared && !target_.read(at, held.bytes.data(), held.bytes.size())) return false;
    held_.push_back(std::move(held));
  }
  return true;
}

bool TargetWriter::write(std::uint64_t offset, const std::uint8_t* bytes, std::size_t length) {
  if (!started_ && !start(offset, bytes, length)) return false;
  const std::uint64_t end = offset + length;
  std::uint64_t at = offset;
  while (at < end) {
    // The next held sector that this write reaches, if any.
    Held* next = nullptr;
    for (Held& held : held_)
      if (held.offset + sector_ > at && held.offset < end && (!next || held.offset < next->offset)) next = &held;
    const std::uint64_t plainEnd = next ? std::max(at, next->offset) : end;
    if (plainEnd > at && !target_.write(at, bytes + (at - offset), std::size_t(plainEnd - at))) return false;
    at = plainEnd;
    if (!next) break;
    Held& held = *next;
    const std::uint64_t heldEnd = std::min(end, held.offset + sector_);
    std::copy(bytes + (at - offset), bytes + (heldEnd - offset), held.bytes.begin() + std::ptrdiff_t(at - held.offset));
    held.filled = true;
    at = heldEnd;
  }
  return true;
}

bool TargetWriter::finish() {
  if (!started_) return true;
  if (!target_.flush()) return false;
  for (const Held& held : held_)
    if (held.filled && !target_.write(held.offset, held.bytes.data(), held.bytes.size())) return false;
  return target_.flush();
}

}  // namespace ghost

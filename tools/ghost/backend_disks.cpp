#include "tools/ghost/backend_disks.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <random>

namespace ghost {

namespace {

// Keeps the disk and its layout alive as long as the partition's window is used.
class OwnedPartition : public disk::Device {
 public:
  explicit OwnedPartition(disk::OpenPartition opened) : opened_(std::move(opened)) {}
  std::uint64_t size() const override { return opened_.device->size(); }
  std::uint32_t sectorSize() const override { return opened_.device->sectorSize(); }
  bool read(std::uint64_t offset, void* buffer, std::size_t length) override {
    return opened_.device->read(offset, buffer, length);
  }
  bool write(std::uint64_t offset, const void* buffer, std::size_t length) override {
    return opened_.device->write(offset, buffer, length);
  }
  bool flush() override { return opened_.device->flush(); }

 private:
  disk::OpenPartition opened_;
};

}  // namespace

ImageDisksBackend::ImageDisksBackend(std::unique_ptr<disk::DiskSet> disks, Files& files)
    : disks_(std::move(disks)), files_(files) {}

Problem ImageDisksBackend::openPartition(const std::string& designator, bool forWriting, OpenedPartition& out) {
  auto where = disk::parseDesignator(designator);
  if (!where) return Problem::BadDesignator;
  auto numbers = disks_->diskNumbers();
  if (std::find(numbers.begin(), numbers.end(), where->disk) == numbers.end()) return Problem::NoSuchDisk;
  disk::OpenPartition opened;
  if (!disk::openPartition(*disks_, *where, forWriting, opened, diskError_)) {
    if (!opened.disk) return Problem::DiskUnreadable;
    return opened.layout.find(where->partition) ? Problem::DiskUnreadable : Problem::NoSuchPartition;
  }
  out.startByte = opened.partition.startByte;
  out.lengthBytes = opened.partition.lengthBytes;
  out.device = std::make_unique<OwnedPartition>(std::move(opened));
  return Problem::None;
}

bool ImageDisksBackend::isOnPartition(const std::string&, const std::string&) { return false; }

std::uint64_t ImageDisksBackend::newImageId() {
  std::random_device device;
  std::uint64_t id = (std::uint64_t(device()) << 32) ^ device();
  return id ^ std::uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
}

std::uint64_t ImageDisksBackend::nowUnix() { return std::uint64_t(std::time(nullptr)); }

}  // namespace ghost

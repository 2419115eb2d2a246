// Partition windows, memory disks, designators, the VREL_DISKS list and opening
// "disk:partition" the same way in every tool.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "tools/common/disk.h"

#ifdef _WIN32
#include "tools/common/utf.h"
#include <windows.h>
#endif

namespace disk {

PartitionDevice::PartitionDevice(Device& disk, std::uint64_t startByte, std::uint64_t lengthBytes)
    : disk_(disk), start_(startByte), length_(lengthBytes) {}

bool PartitionDevice::inside(std::uint64_t offset, std::size_t length) const {
  return offset <= length_ && length <= length_ - offset;
}

bool PartitionDevice::read(std::uint64_t offset, void* buffer, std::size_t length) {
  return inside(offset, length) && disk_.read(start_ + offset, buffer, length);
}

bool PartitionDevice::write(std::uint64_t offset, const void* buffer, std::size_t length) {
  return inside(offset, length) && disk_.write(start_ + offset, buffer, length);
}

std::uint64_t PartitionDevice::knownZerosAt(std::uint64_t offset, std::uint64_t length) {
  if (offset >= length_) return 0;
  return disk_.knownZerosAt(start_ + offset, std::min(length, length_ - offset));
}

bool MemoryDevice::read(std::uint64_t offset, void* buffer, std::size_t length) {
  if (offset > bytes_.size() || length > bytes_.size() - offset) return false;
  if (length) std::memcpy(buffer, bytes_.data() + offset, length);
  return true;
}

bool MemoryDevice::write(std::uint64_t offset, const void* buffer, std::size_t length) {
  if (offset > bytes_.size() || length > bytes_.size() - offset) return false;
  if (length) std::memcpy(bytes_.data() + offset, buffer, length);
  return true;
}

namespace {

// 1 to 999, digits only, no leading zero.
std::optional<int> smallNumber(std::string_view text) {
  if (text.empty() || text.size() > 3 || text[0] == '0') return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

std::optional<Designator> parseDesignator(std::string_view text) {
  std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  auto d = smallNumber(text.substr(0, colon));
  auto p = smallNumber(text.substr(colon + 1));
  if (!d || !p) return std::nullopt;
  return Designator{*d, *p};
}

std::vector<std::string> splitDiskList(std::string_view text, char separator) {
  std::vector<std::string> out;
  std::size_t begin = 0;
  while (begin <= text.size()) {
    std::size_t end = text.find(separator, begin);
    if (end == std::string_view::npos) end = text.size();
    if (end > begin) out.emplace_back(text.substr(begin, end - begin));
    begin = end + 1;
  }
  return out;
}

std::vector<std::string> diskListFromEnvironment() {
#ifdef _WIN32
  const wchar_t* value = _wgetenv(L"VREL_DISKS");
  if (!value) return {};
  return splitDiskList(toolio::utf8FromWide(value));
#else
  const char* value = std::getenv("VREL_DISKS");
  return value ? splitDiskList(value) : std::vector<std::string>{};
#endif
}

namespace {

// A disk whose chosen byte ranges fail (VREL_DISK_FAULTS).
class FaultyDevice : public Device {
 public:
  FaultyDevice(std::unique_ptr<Device> inner, FaultHook hook) : inner_(std::move(inner)), hook_(std::move(hook)) {}
  std::uint64_t size() const override { return inner_->size(); }
  std::uint32_t sectorSize() const override { return inner_->sectorSize(); }
  bool read(std::uint64_t offset, void* buffer, std::size_t length) override {
    return hook_.allowRead(offset, length) && inner_->read(offset, buffer, length);
  }
  bool write(std::uint64_t offset, const void* buffer, std::size_t length) override {
    return hook_.allowWrite(offset, length) && inner_->write(offset, buffer, length);
  }
  bool flush() override { return inner_->flush(); }

 private:
  std::unique_ptr<Device> inner_;
  FaultHook hook_;
};

class ImageDiskSet : public DiskSet {
 public:
  ImageDiskSet(std::vector<std::string> paths, std::vector<FaultRange> faults)
      : paths_(std::move(paths)), faults_(std::move(faults)) {}
  std::vector<int> diskNumbers() override {
    std::vector<int> numbers;
    for (std::size_t i = 0; i < paths_.size(); ++i) numbers.push_back(static_cast<int>(i) + 1);
    return numbers;
  }
  std::unique_ptr<Device> open(int diskNumber, bool writable, Error& error) override {
    if (diskNumber < 1 || static_cast<std::size_t>(diskNumber) > paths_.size()) {
      error = errorOf(Fault::NoSuchDisk, std::uint64_t(diskNumber));
      return nullptr;
    }
    auto device = openDevice(paths_[static_cast<std::size_t>(diskNumber) - 1], writable, error);
    FaultHook hook(faults_, std::to_string(diskNumber));
    if (!device || hook.empty()) return device;
    return std::make_unique<FaultyDevice>(std::move(device), std::move(hook));
  }

 private:
  std::vector<std::string> paths_;
  std::vector<FaultRange> faults_;
};

}  // namespace

std::unique_ptr<DiskSet> imageDiskSet(std::vector<std::string> paths, std::vector<FaultRange> faults) {
  return std::make_unique<ImageDiskSet>(std::move(paths), std::move(faults));
}

std::unique_ptr<DiskSet> environmentDiskSet() {
  return imageDiskSet(diskListFromEnvironment(), faultsFromEnvironment());
}

bool openPartition(DiskSet& disks, Designator where, bool writable, OpenPartition& out, Error& error) {
  out = OpenPartition{};
  out.disk = disks.open(where.disk, writable, error);
  if (!out.disk) return false;
  if (!readLayout(*out.disk, out.layout, error)) {
    error.onDisk = where.disk;
    return false;
  }
  const Partition* p = out.layout.find(where.partition);
  if (!p) {
    error = errorOf(Fault::NoSuchPartition, std::uint64_t(where.disk), std::uint64_t(where.partition));
    return false;
  }
  out.partition = *p;
  out.device = std::make_unique<PartitionDevice>(*out.disk, p->startByte, p->lengthBytes);
  return true;
}

}  // namespace disk

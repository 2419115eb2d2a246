// Fuzz target for the lister's partition-table reader and the file-system readers it
// calls: a file is a disk of 512-byte sectors (4096-byte ones when its first byte is
// odd), listed as the lister lists every disk. Built by tests/tools/afl.sh; also runs
// one file by hand:  fuzz_table FILE
#include <fstream>
#include <iterator>

#include "tools/common/fs.h"
#include "tools/lister/lister.h"

namespace {

class OneDisk : public disk::DiskSet {
 public:
  explicit OneDisk(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  std::vector<int> diskNumbers() override { return {1}; }
  std::unique_ptr<disk::Device> open(int, bool, disk::Error&) override {
    const std::uint32_t sector = !bytes_.empty() && (bytes_[0] & 1) ? 4096 : 512;
    auto device = std::make_unique<disk::MemoryDevice>(bytes_.size(), sector);
    device->bytes() = bytes_;
    return device;
  }

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::ifstream in(argv[1], std::ios::binary);
  std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  OneDisk disks(data);
  toolio::CapturedOut out;
  lister::listDisks(disks, out, [](const std::string&) {}, [](const std::string& s) { return s; });
  // The imaging engine's deeper reading of every partition found.
  disk::Error error;
  auto device = disks.open(1, false, error);
  disk::Layout layout;
  if (disk::readLayout(*device, layout, error)) {
    for (const disk::Partition& p : layout.partitions) {
      disk::PartitionDevice window(*device, p.startByte, p.lengthBytes);
      fs::Volume volume;
      fs::Volume::open(window, volume, error, fs::Scan::MapAndFiles);
    }
  }
  return 0;
}

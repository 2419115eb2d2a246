// Fuzz target for the ISO tool's reader: a file read as an ISO 9660 / Joliet / Rock
// Ridge / UDF image, its tree walked and the copy of its GHO and WIM files planned.
// Built by tests/tools/afl.sh; also runs one file by hand:  fuzz_volume FILE
#include <cstring>
#include <fstream>
#include <iterator>

#include "tools/iso/extract.h"
#include "tools/iso/volume.h"

namespace {

class MemoryImage : public iso::ImageSource {
 public:
  explicit MemoryImage(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  std::uint64_t size() const override { return bytes_.size(); }
  bool read(std::uint64_t offset, void* buffer, std::size_t length) override {
    if (offset > bytes_.size() || length > bytes_.size() - offset) return false;
    std::memcpy(buffer, bytes_.data() + offset, length);
    return true;
  }

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::ifstream in(argv[1], std::ios::binary);
  MemoryImage image(std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
  iso::ReadOutcome read = iso::readVolume(image);
  if (read.problem == iso::Problem::None)
    iso::planExtraction(read.volume.root, [](const iso::Node& node) { return iso::isImageFileName(node.name); });
  return 0;
}

// Fuzz target for the image reader: check and restore an arbitrary file as an image.
// Built by fuzz.sh with AFL++ (GCC plugin); also runs one file by hand:
//   fuzz_image FILE            check and restore FILE
//   fuzz_image --seed FILE     write a small valid image (the corpus seed)
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "tests/tools/ghost/fake_backend.h"

namespace {

ghost::Command command(ghost::Mode mode) {
  ghost::Command c;
  c.mode = mode;
  c.imagePath = "image.gho";
  c.partition = "1:1";
  return c;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--seed") {
    ghosttest::FakeBackend backend;
    auto& bytes = backend.partitions["1:1"].bytes;
    bytes.assign(96 * 1024, 0);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = std::uint8_t(i % 251 < 100 ? 'a' + i % 7 : i * 31);
    std::fill(bytes.begin() + 48 * 1024, bytes.begin() + 80 * 1024, 0);  // two chunks of zeros
    toolio::NoProgress progress;
    ghost::RunOptions options;
    options.chunkSize = 16 * 1024;  // several chunks in a small file
    if (ghost::runBackup(command(ghost::Mode::Backup), backend, progress, options).problem != ghost::Problem::None)
      return 1;
    std::ofstream out(argv[2], std::ios::binary);
    const auto& image = backend.files.byPath["image.gho"];
    out.write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
    return out ? 0 : 1;
  }
  if (argc != 2) return 2;
  std::ifstream in(argv[1], std::ios::binary);
  std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ghosttest::FakeBackend backend;
  backend.threads = 1;
  backend.files.byPath["image.gho"] = data;
  backend.partitions["1:1"].bytes.assign(128 * 1024, 0);
  toolio::NoProgress progress;
  ghost::runCheck(command(ghost::Mode::Check), backend, progress);
  auto restore = command(ghost::Mode::Restore);
  restore.crcIgnore = data.size() % 2 == 0;
  ghost::runRestore(restore, backend, progress);
  return 0;
}

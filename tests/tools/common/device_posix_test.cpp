// Disk image files on Linux: long writes go around the page cache and short ones
// through it, and whatever the mix, reads (through the device and from the file
// afterwards) see the last bytes written at every offset.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/common/disk.h"

namespace {

struct ImageFile : ::testing::Test {
  ImageFile() {
    const char* tmp = std::getenv("TMPDIR");
    path = std::string(tmp && *tmp ? tmp : "/tmp") + "/device-posix-XXXXXX";
    int fd = mkstemp(path.data());
    EXPECT_GE(fd, 0);
    expected.resize(16u << 20);
    for (std::size_t i = 0; i < expected.size(); ++i) expected[i] = std::uint8_t(i * 13 + i / 4093);
    EXPECT_EQ(::write(fd, expected.data(), expected.size()), ssize_t(expected.size()));
    ::close(fd);
  }
  ~ImageFile() override { ::unlink(path.c_str()); }

  // Writes `length` bytes of a pattern of its own at offset, from memory that is not
  // page-aligned, and records them.
  bool put(disk::Device& device, std::uint64_t offset, std::size_t length, std::uint8_t seed) {
    std::vector<std::uint8_t> buffer(length + 1);
    for (std::size_t i = 0; i < length; ++i) buffer[i + 1] = std::uint8_t(seed + i * 31 + i / 977);
    std::copy(buffer.begin() + 1, buffer.end(), expected.begin() + std::ptrdiff_t(offset));
    return device.write(offset, buffer.data() + 1, length);
  }

  std::string path;
  std::vector<std::uint8_t> expected;
};

TEST_F(ImageFile, LongAndShortWritesInAnyOrderLeaveTheLastBytesEverywhere) {
  disk::Error error;
  std::unique_ptr<disk::Device> device = disk::openDevice(path, true, error);
  ASSERT_TRUE(device);
  std::vector<std::uint8_t> page(4096);
  ASSERT_TRUE(device->read(4096, page.data(), page.size()));  // in the cache now
  ASSERT_TRUE(put(*device, 5000, 100, 1));                     // through the cache
  // Long: partial pages at both ends, whole pages (some cached, one just written
  // through the cache) between, more than one buffer's worth.
  ASSERT_TRUE(put(*device, 123, (9u << 20) + 777, 2));
  ASSERT_TRUE(put(*device, 8192 + 10, 50, 3));                 // short, inside what went direct
  ASSERT_TRUE(put(*device, (12u << 20) + 4096, 2u << 20, 4));  // long and aligned at both ends
  ASSERT_TRUE(put(*device, (15u << 20), (1u << 20) - 1, 5));   // up to a byte before the end
  EXPECT_FALSE(device->write(expected.size() - 10, expected.data(), 2u << 20));  // past the end
  std::vector<std::uint8_t> back(expected.size());
  ASSERT_TRUE(device->read(0, back.data(), back.size()));
  EXPECT_TRUE(back == expected);
  EXPECT_TRUE(device->flush());
  device.reset();
  std::ifstream in(path, std::ios::binary);
  std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)), {});
  ASSERT_EQ(file.size(), expected.size());
  EXPECT_TRUE(file == expected);
}

}  // namespace

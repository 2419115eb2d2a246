// The aligned-request helper under raw devices: whatever the caller asks, the device
// sees only whole sectors at aligned offsets from aligned memory, as an uncached
// handle demands, and the bytes arrive (neighbours of partly written sectors kept).
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

#include "tools/common/aligned_io.h"

namespace {

// A device in memory that refuses every request an uncached handle would refuse.
struct StrictDevice {
  StrictDevice(std::uint64_t size, std::uint32_t sector) : bytes(size), sector(sector) {
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = std::uint8_t(i * 7 + i / 251);
  }
  std::vector<std::uint8_t> bytes;
  std::uint32_t sector;
  int requests = 0;
  int misaligned = 0;
  disk::DirectTransfer direct() {
    return [this](std::uint64_t offset, std::uint8_t* p, std::size_t length, bool writing) {
      ++requests;
      if (offset % sector || length % sector || reinterpret_cast<std::uintptr_t>(p) % sector) {
        ++misaligned;
        return false;
      }
      if (offset + length > bytes.size()) return false;
      if (writing) std::memcpy(bytes.data() + offset, p, length);
      else std::memcpy(p, bytes.data() + offset, length);
      return true;
    };
  }
};

TEST(AlignedTransfer, EveryRequestReachesTheDeviceAlignedAndTheBytesArrive) {
  struct Case {
    const char* what;
    std::uint32_t sector;
    std::uint64_t offset;
    std::size_t length;
    std::size_t bufferShift;  // bytes past an aligned address
  };
  const Case cases[] = {
      {"aligned everything", 512, 4096, 8192, 0},
      {"unaligned address, aligned offset and length", 512, 4096, 8192, 16},
      {"unaligned offset", 512, 1000, 512, 0},
      {"partial last sector", 512, 512, 700, 0},
      {"4096-byte sectors, unaligned address", 4096, 8192, 4096, 512},
      {"4096-byte sectors, inside one sector", 4096, 4100, 10, 0},
      {"1 MiB and 3 bytes across the bounce buffer's end", 512, 3, (1u << 20) + 3, 8},
      {"the device's last sector", 4096, (4u << 20) - 4096, 4096, 1},
  };
  for (const Case& c : cases) {
    for (bool writing : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (writing ? " (write)" : " (read)"));
      StrictDevice device(4u << 20, c.sector);
      const std::vector<std::uint8_t> before = device.bytes;
      disk::AlignedTransfer io(c.sector, device.bytes.size(), device.direct());
      disk::AlignedBuffer memory(c.length + c.bufferShift + 8192);
      ASSERT_NE(memory.data(), nullptr);
      std::uint8_t* buffer = memory.data() + c.bufferShift;
      if (writing) {
        for (std::size_t i = 0; i < c.length; ++i) buffer[i] = std::uint8_t(0xA5 ^ i);
        ASSERT_TRUE(io.write(c.offset, buffer, c.length));
        std::vector<std::uint8_t> expected = before;
        std::memcpy(expected.data() + c.offset, buffer, c.length);
        EXPECT_TRUE(device.bytes == expected) << "written bytes in place, neighbours kept";
      } else {
        ASSERT_TRUE(io.read(c.offset, buffer, c.length));
        EXPECT_EQ(std::memcmp(buffer, before.data() + c.offset, c.length), 0);
      }
      EXPECT_EQ(device.misaligned, 0);
      EXPECT_GT(device.requests, 0);
    }
  }
}

TEST(AlignedTransfer, RequestsPastTheEndFailWithoutReachingTheDevice) {
  StrictDevice device(1u << 20, 512);
  disk::AlignedTransfer io(512, device.bytes.size(), device.direct());
  std::vector<std::uint8_t> buffer(1024);
  EXPECT_FALSE(io.read((1u << 20) - 512, buffer.data(), 1024));
  EXPECT_FALSE(io.write(std::uint64_t(1) << 40, buffer.data(), 1));
  EXPECT_EQ(device.requests, 0);
  EXPECT_TRUE(io.read(0, buffer.data(), 0));
}

TEST(AlignedTransfer, AFailingDeviceFailsTheRequest) {
  disk::AlignedTransfer io(512, 1u << 20, [](std::uint64_t, std::uint8_t*, std::size_t, bool) { return false; });
  std::vector<std::uint8_t> buffer(100);
  EXPECT_FALSE(io.read(10, buffer.data(), buffer.size()));
  EXPECT_FALSE(io.write(10, buffer.data(), buffer.size()));
}

TEST(AlignedBuffer, IsAlignedToAtLeastAPage) {
  for (std::size_t alignment : {512u, 4096u, 65536u}) {
    disk::AlignedBuffer buffer(12345, alignment);
    ASSERT_NE(buffer.data(), nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer.data()) % std::max<std::size_t>(alignment, 4096), 0u);
  }
}

}  // namespace

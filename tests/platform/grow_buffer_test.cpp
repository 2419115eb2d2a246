// The grow-and-ask-again loop behind every buffer the system may find too small.
#include "platform/grow_buffer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using platform::FillResult;

// What GetVolumePathNamesForVolumeName does: too small, with the size it needs.
TEST(FillGrowing, TakesTheSizeTheCallAsksForAndEndsComplete) {
  const std::string all = std::string(5000, 'x') + "D:\\";
  std::vector<char> buffer;
  int calls = 0;
  const bool filled = platform::fillGrowing(buffer, 1024, 1 << 20, [&](std::vector<char>& b, std::size_t& needed) {
    ++calls;
    if (b.size() < all.size() + 1) {
      needed = calls == 1 ? 3000 : all.size() + 1;  // a list that grew between two calls
      return FillResult::TooSmall;
    }
    std::copy(all.begin(), all.end(), b.begin());
    return FillResult::Filled;
  });
  EXPECT_TRUE(filled);
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(std::string(buffer.data(), all.size()), all);
}

// What IOCTL_DISK_GET_DRIVE_LAYOUT_EX does: too small, without saying how large.
TEST(FillGrowing, DoublesWhenTheCallDoesNotSayAndStopsAtTheLimit) {
  std::vector<int> sizes;
  std::vector<unsigned char> buffer;
  EXPECT_TRUE(platform::fillGrowing(buffer, 100, 10000, [&](std::vector<unsigned char>& b, std::size_t&) {
    sizes.push_back(static_cast<int>(b.size()));
    return b.size() >= 700 ? FillResult::Filled : FillResult::TooSmall;
  }));
  EXPECT_EQ(sizes, (std::vector<int>{100, 200, 400, 800}));

  sizes.clear();
  EXPECT_FALSE(platform::fillGrowing(buffer, 100, 1000, [&](std::vector<unsigned char>& b, std::size_t& needed) {
    sizes.push_back(static_cast<int>(b.size()));
    needed = 1 << 30;
    return FillResult::TooSmall;
  }));
  EXPECT_EQ(sizes, (std::vector<int>{100, 1000})) << "never past the limit, never for ever";

  EXPECT_FALSE(platform::fillGrowing(buffer, 100, 1000,
                                     [](std::vector<unsigned char>&, std::size_t&) { return FillResult::Failed; }));
}

}  // namespace

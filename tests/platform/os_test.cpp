#include "platform/os.h"

#include <gtest/gtest.h>

namespace {

TEST(EnvironmentBlock, NamesUpToTheirFirstEqualsSignHiddenOnesIncluded) {
  using V = std::vector<std::string>;
  const char raw[] = "=C:=C:\\work\0Path=C:\\a;D:\\b\0TEMP=X:\\t=1\0EMPTY=\0\0";
  const std::string block(raw, sizeof raw - 1);
  EXPECT_EQ(platform::environmentBlockNames(block), (V{"=C:", "Path", "TEMP", "EMPTY"}));
  EXPECT_EQ(platform::environmentBlockNames(std::string("\0\0", 2)), V{});
  EXPECT_EQ(platform::environmentBlockNames(""), V{});
  EXPECT_EQ(platform::environmentBlockNames("NOEND=1"), V{"NOEND"}) << "a block cut short";
}

}  // namespace

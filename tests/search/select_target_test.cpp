#include "search/select_target.h"

#include <gtest/gtest.h>


namespace {

TEST(SelectTargetPartition, DesignatorIsDigitsColonDigits) {
  const std::pair<const char*, bool> cases[] = {
      {"1:2", true},  {"10:12", true}, {"|D:", false},  {":1", false},    {"1:", false},    {"1:2:3", false},
      {"", false},    {"a:1", false},  {" 1:2", false}, {"1:2|x", false}, {"1:2&del", false},
  };
  for (const auto& [text, usable] : cases) EXPECT_EQ(search::isDiskPartitionDesignator(text), usable) << text;
}

}  // namespace

// GoogleTest support for GBK texts: failures show them readably as UTF-8.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace gbktest {

// GBK bytes → UTF-8 for messages; undecodable bytes are shown as \xNN.
std::string toUtf8(std::string_view gbkBytes);
// UTF-8 → GBK, for building expected values from UTF-8 data files.
std::string fromUtf8(std::string_view utf8);

::testing::AssertionResult gbkEqual(const char* expectedExpr, const char* actualExpr,
                                    std::string_view expected, std::string_view actual);

}  // namespace gbktest

#define EXPECT_GBK_EQ(expected, actual) EXPECT_PRED_FORMAT2(::gbktest::gbkEqual, expected, actual)
#define ASSERT_GBK_EQ(expected, actual) ASSERT_PRED_FORMAT2(::gbktest::gbkEqual, expected, actual)

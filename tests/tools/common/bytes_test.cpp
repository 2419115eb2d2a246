// The byte helpers every tool's format code stands on: CRC-32 and little-endian fields.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tools/common/crc32.h"
#include "tools/common/le_bytes.h"

namespace {

TEST(Crc32, IsZlibsChecksumAndContinuesAcrossPieces) {
  const char* text = "123456789";
  EXPECT_EQ(toolio::crc32(text, 9), 0xCBF43926u);  // the polynomial's published check value
  EXPECT_EQ(toolio::crc32(text, 0), 0u);
  EXPECT_EQ(toolio::crc32(text + 4, 5, toolio::crc32(text, 4)), 0xCBF43926u);
  std::vector<std::uint8_t> zeros(1 << 20, 0);
  EXPECT_EQ(toolio::crc32(zeros.data(), zeros.size()), 0xA738EA1Cu);
}

TEST(LittleEndian, FieldsReadBackWhatWasWrittenLowByteFirst) {
  std::uint8_t b[8] = {};
  toolio::putLe16(b, 0xA1B2);
  EXPECT_EQ(b[0], 0xB2);
  EXPECT_EQ(toolio::le16(b), 0xA1B2);
  toolio::putLe32(b, 0x8899AABBu);
  EXPECT_EQ(b[0], 0xBB);
  EXPECT_EQ(b[3], 0x88);
  EXPECT_EQ(toolio::le32(b), 0x8899AABBu);
  toolio::putLe64(b, 0x0123456789ABCDEFull);
  const std::uint8_t expected[8] = {0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01};
  EXPECT_EQ(std::memcmp(b, expected, 8), 0);
  EXPECT_EQ(toolio::le64(b), 0x0123456789ABCDEFull);
}

}  // namespace

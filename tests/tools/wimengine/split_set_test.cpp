#include "tools/wimengine/split_set.h"

#include <gtest/gtest.h>

#include "tests/tools/wimengine/wim_header_bytes.h"

namespace wimengine {
namespace {

std::string headerBytes(std::uint32_t version, std::uint32_t flags, std::uint16_t part, std::uint16_t total) {
  return testing_bytes::wimHeader(0xA0, part, total, version, flags);
}

TEST(WimHeader, FieldsAndTheEsdMarks) {
  const struct {
    std::uint32_t version, flags;
    bool solid;
  } cases[] = {
      {0x10D00, 0x00040000, false},  // LZX, as a capture writes
      {0x10D00, 0x00020000, false},  // XPRESS
      {0xE00, 0x00080000, true},     // solid LZMS, as an ESD
      {0xE00, 0x00040000, true},     // solid, other chunk compression
      {0x10D00, 0x00080000, true},   // LZMS chunks, not solid
  };
  for (const auto& c : cases) {
    std::optional<WimHeader> h = parseWimHeader(headerBytes(c.version, c.flags, 2, 3));
    ASSERT_TRUE(h);
    EXPECT_EQ(h->version, c.version);
    EXPECT_EQ(h->isSolidOrLzms(), c.solid) << std::hex << c.version << " " << c.flags;
    EXPECT_EQ(h->partNumber, 2);
    EXPECT_EQ(h->totalParts, 3);
    EXPECT_EQ(h->guid[0], 0xA0);
    EXPECT_EQ(h->guid[1], 0xA1);
    EXPECT_EQ(h->guid[15], 0xAF);
  }
  std::string bytes = headerBytes(0x10D00, 0, 1, 1);
  EXPECT_FALSE(parseWimHeader(bytes.substr(0, kWimHeaderSize - 1)));  // cut short
  bytes[4] = 'X';
  EXPECT_FALSE(parseWimHeader(bytes));  // not the magic
  EXPECT_FALSE(parseWimHeader(""));
}

TEST(WildcardMatch, AsWindowsMatchesFileNames) {
  const struct {
    const char* pattern;
    const char* name;
    bool matches;
  } cases[] = {
      {"install*.swm", "install.swm", true},    {"install*.swm", "install2.swm", true},
      {"install*.swm", "INSTALL12.SWM", true},  {"install*.swm", "install2.swm.bak", false},
      {"install*.swm", "myinstall.swm", false}, {"*", "anything", true},
      {"install?.swm", "install.swm", false},   {"install?.swm", "install3.swm", true},
      {"*.swm", ".swm", true},                  {"a*b*c", "aXbYbZc", true},
      {"a*b*c", "aXbYbZ", false},               {"install3.swm", "install3.swm", true},
      {"", "", true},                           {"", "a", false},
  };
  for (const auto& c : cases) EXPECT_EQ(wildcardMatch(c.pattern, c.name), c.matches) << c.pattern << " " << c.name;
}

TEST(SplitSetNames, PartNamesByTheUsualNaming) {
  EXPECT_EQ(partFileName("install.swm", 1), "install.swm");
  EXPECT_EQ(partFileName("install.swm", 2), "install2.swm");
  EXPECT_EQ(partFileName("Win10.x64.swm", 12), "Win10.x6412.swm");
  EXPECT_EQ(partFileName("noext", 3), "noext3");
  EXPECT_EQ(firstPartNameOf("install3.swm"), "install.swm");
  EXPECT_EQ(firstPartNameOf("install12.SWM"), "install.SWM");
  EXPECT_EQ(firstPartNameOf("install.swm"), "install.swm");
  EXPECT_EQ(firstPartNameOf("2.swm"), "2.swm");
  EXPECT_EQ(fileNameOf("D:\\sources\\install2.swm"), "install2.swm");
  EXPECT_EQ(fileNameOf("/tmp/a/install2.swm"), "install2.swm");
  EXPECT_EQ(fileNameOf("install2.swm"), "install2.swm");
}

}  // namespace
}  // namespace wimengine

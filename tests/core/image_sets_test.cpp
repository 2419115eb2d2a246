#include "core/image_sets.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_os.h"

namespace {

constexpr std::uint64_t kMB = 1048576;

class ImageSetsTest : public ::testing::Test {
 protected:
  ImageSetsTest() {
    w.files.addDir("D:\\sources");
    w.files.addDir("D:\\dism");
    w.files.addDir("D:\\lone");
    for (const char* part : {"install.swm", "install2.swm", "INSTALL3.SWM"})
      w.files.addSizedFile(std::string("D:\\sources\\") + part, 3000 * kMB);
    for (const char* part : {"data1.swm", "data2.swm", "win10.swm", "win102.swm"})
      w.files.addSizedFile(std::string("D:\\dism\\") + part, 10 * kMB);
    w.files.addSizedFile("D:\\lone\\backup2.swm", kMB);
    w.files.addSizedFile("D:\\lone\\7.swm", kMB);
    w.files.addSizedFile("D:\\sources\\install.esd", 4000 * kMB);
  }
  fake::World w;
};

TEST_F(ImageSetsTest, LaterPartsAreKnownByTheirFirstPart) {
  const std::pair<const char*, bool> cases[] = {
      {"D:\\sources\\install.swm", false}, {"D:\\sources\\install2.swm", true},
      {"D:\\sources\\INSTALL3.SWM", true},  {"D:\\dism\\data1.swm", false},
      {"D:\\dism\\data2.swm", true},        {"D:\\dism\\win10.swm", false},
      {"D:\\dism\\win102.swm", true},       {"D:\\lone\\backup2.swm", false},
      {"D:\\lone\\7.swm", false},           {"D:\\sources\\install.esd", false},
  };
  for (const auto& [path, later] : cases) EXPECT_EQ(core::isLaterSplitPart(w.files, path), later) << path;
}

TEST_F(ImageSetsTest, ASetIsSizedAndNamedWithAllItsParts) {
  EXPECT_EQ(core::splitSetParts(w.files, "D:\\sources\\install.swm"),
            (std::vector<std::string>{"D:\\sources\\install.swm", "D:\\sources\\install2.swm",
                                      "D:\\sources\\install3.swm"}));
  EXPECT_EQ(core::imageSetSize(w.files, "D:\\sources\\install.swm"), 9000 * kMB);
  EXPECT_EQ(core::imageSetSize(w.files, "D:\\dism\\data1.swm"), 20 * kMB);
  EXPECT_EQ(core::imageSetSize(w.files, "D:\\dism\\win10.swm"), 20 * kMB);
  EXPECT_EQ(core::imageSetSize(w.files, "D:\\sources\\install.esd"), 4000 * kMB);
  EXPECT_EQ(core::imageSetSize(w.files, "D:\\sources\\none.swm"), 0u);

  EXPECT_EQ(core::splitPartsPattern(w.files, "D:\\sources\\install.swm"), "D:\\sources\\install*.swm");
  EXPECT_EQ(core::splitPartsPattern(w.files, "D:\\dism\\data1.swm"), "D:\\dism\\data*.swm");
  EXPECT_EQ(core::splitPartsPattern(w.files, "D:\\dism\\win10.swm"), "D:\\dism\\win10*.swm");
  // \x81\x5c is one character whose second byte looks like a backslash.
  EXPECT_EQ(core::splitPartsPattern(w.files, "D:\\\x81\x5c\\a.swm"), "D:\\\x81\x5c\\a*.swm");
}

}  // namespace

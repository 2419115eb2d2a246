#include "core/path_and_size.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_os.h"

namespace {

constexpr std::uint64_t kMB = 1048576;

TEST(PathOperations, NamesAndExtensionsStepOverDoubleByteCharacters) {
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"C:\\img\\sys.GHO", "sys.GHO", ".GHO"},
      {"D:\\a.b\\file", "file", ""},
      {"x.tar.gz", "x.tar.gz", ".gz"},
      {"C:\\my images\\a b.gho", "a b.gho", ".gho"},
      {"C:\\x.gho bak", "x.gho bak", ""},  // a blank after the dot ends the extension
      {"C:\\dir\\", "", ""},
      // \x81\x5c is one character whose second byte looks like a backslash.
      {"C:\\dir\\\x81\x5c.gho", "\x81\x5c.gho", ".gho"},
      {"C:\\\x81\x5c" "dir.x\\a", "a", ""},
  };
  for (const auto& [path, name, ext] : cases) {
    EXPECT_EQ(core::fileNameOf(path), name) << path;
    EXPECT_EQ(core::extensionOf(path), ext) << path;
  }
}

TEST(PathOperations, SizesInMegabytesRoundTiesToEven) {
  const std::pair<std::uint64_t, const char*> cases[] = {
      {kMB * 3 / 2, "1.5"}, {0, "0"},           {4096, "0"},     {1024 * kMB, "1024"},
      {131072, "0.12"},     {393216, "0.38"},   {5368709, "5.12"}, {5ull << 40, "5242880"},
      {100 * kMB + 5242, "100"}, {100 * kMB + 5243, "100.01"},
      // Hundredths: just below a half, exactly a half (to the even 0.00), above it.
      {10485, "0.01"}, {5242, "0"}, {5243, "0.01"}, {kMB / 200, "0"}, {kMB * 3 / 200 + 1, "0.02"},
      {4404019200ull, "4200"},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(core::sizeInMegabytesText(bytes), text) << bytes;
  EXPECT_DOUBLE_EQ(core::roundHalfEven(2.345, 2), 2.34);
  EXPECT_DOUBLE_EQ(core::roundHalfEven(2.355, 2), 2.36);
  EXPECT_DOUBLE_EQ(core::roundHalfEven(2.3451, 2), 2.35);
  EXPECT_DOUBLE_EQ(core::roundHalfEven(2.5, 0), 2.0);
  EXPECT_DOUBLE_EQ(core::roundHalfEven(3.5, 0), 4.0);
}

TEST(PathOperations, WholeMegabytesAndDriveLetters) {
  EXPECT_EQ(core::wholeMegabytesText(2 * kMB - 1), "1");
  EXPECT_EQ(core::wholeMegabytesText(5ull << 40), "5242880");
  const std::pair<const char*, char> letters[] = {{"C:\\", 'C'}, {"d:", 'D'}, {"e:\\x.gho", 'E'}, {"\\\\server\\x", 0},
                                                  {"x.gho", 0},   {"1:2", 0},  {"", 0}};
  for (const auto& [path, letter] : letters) EXPECT_EQ(core::driveLetterOf(path), letter) << path;
}

TEST(PathOperations, UnreadableFileCountsAsZeroBytes) {
  fake::Files files;
  files.addSizedFile("C:\\big.gho", 6ull << 32);
  EXPECT_EQ(core::fileSizeOf(files, "C:\\big.gho"), 6ull << 32);
  EXPECT_EQ(core::fileSizeOf(files, "C:\\missing.gho"), 0u);
}

}  // namespace

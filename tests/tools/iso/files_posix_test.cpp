// The Linux image and target folder: the copy of real files, by the kernel's
// file-to-file copy where image and file meet at the same place in a page, through
// the buffer elsewhere, and every byte in its place either way.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "tools/iso/extract.h"
#include "tools/iso/files_posix.h"

namespace {

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct PosixCopy : ::testing::Test {
  PosixCopy() {
    char pattern[] = "/tmp/iso-posix-XXXXXX";
    dir = mkdtemp(pattern);
    std::mt19937 random(25);
    bytes.resize(2u << 20);
    for (char& c : bytes) c = char(random() % 255 + 1);  // no zero runs
    std::ofstream(dir + "/image.iso", std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    image = iso::openPosixImage(dir + "/image.iso");
    out = iso::openPosixFolder(dir + "/out");
  }
  ~PosixCopy() override {
    image.reset();
    out.reset();
    std::string command = "rm -rf '" + dir + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
  }
  std::string dir;
  std::string bytes;
  std::unique_ptr<iso::ImageSource> image;
  std::unique_ptr<iso::OutputTree> out;
};

TEST_F(PosixCopy, TheKernelCopiesOnlyWhereImageAndFileMeetAtTheSamePlaceInAPage) {
  ASSERT_TRUE(image && out);
  std::unique_ptr<iso::OutputFile> file = out->createFile("f.wim");
  ASSERT_TRUE(file);
  EXPECT_FALSE(file->copyFrom(*image, 2048, 4096));  // half a page apart
  EXPECT_TRUE(file->copyFrom(*image, 8192, 4096));
  ASSERT_TRUE(file->write(bytes.data() + 100, 2048));  // the file at 6 KiB now
  EXPECT_FALSE(file->copyFrom(*image, 4096, 100));
  EXPECT_TRUE(file->copyFrom(*image, 2048, 100));
  ASSERT_TRUE(file->finish(4096 + 2048 + 100));
  EXPECT_EQ(readAll(dir + "/out/f.wim"), bytes.substr(8192, 4096) + bytes.substr(100, 2048) + bytes.substr(2048, 100));
}

// Extents on 2 KiB sectors, one page-aligned against the file and the others not,
// longer than the copy's buffer, with an unrecorded run between them.
TEST_F(PosixCopy, ExtentsOnEitherPathLandInTheirPlaces) {
  ASSERT_TRUE(image && out);
  iso::Node root;
  root.directory = true;
  iso::Node file;
  file.name = "install.wim";
  file.regular = true;
  const std::uint64_t first = 600000, second = 3 * 4096 + 1000;
  file.extents.push_back({2048, first, false});                   // half a page off
  file.extents.push_back({0, 5000, true});                        // zeros
  const std::uint64_t at = first + 5000;                          // where the next one lands
  const std::uint64_t aligned = 4096 * 200 + at % 4096;           // meets it at the same place
  file.extents.push_back({aligned, second, false});
  file.extents.push_back({1234567, 700001, false});
  file.size = first + 5000 + second + 700001;
  root.children.push_back(file);
  iso::Plan plan = iso::planExtraction(root, [](const iso::Node&) { return true; });
  toolio::NoProgress progress;
  iso::CopyOutcome copied = iso::copyPlan(*image, plan, *out, progress);
  ASSERT_EQ(copied.problem, iso::Problem::None);
  std::string expected = bytes.substr(2048, first) + std::string(5000, '\0') + bytes.substr(aligned, second) +
                         bytes.substr(1234567, 700001);
  std::string got = readAll(dir + "/out/install.wim");
  ASSERT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected);  // (not printed: 1.3 MB)
}

}  // namespace

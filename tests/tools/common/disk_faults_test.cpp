// The fault hook of the disk-image builds: what VREL_DISK_FAULTS names fails, and
// nothing else does.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/tools/common/disk_image.h"
#include "tools/common/disk.h"

namespace {

TEST(DiskFaults, EntriesParseOrAreDropped) {
  const auto faults = disk::parseFaults("r:1:512+512,w:2:0+4096,k:image:100+1,x:1:0+1,r:1:5,r::0+1,r:1:0+0,,r:1:1+2+3");
  ASSERT_EQ(faults.size(), 3u);
  EXPECT_EQ(faults[0].kind, 'r');
  EXPECT_EQ(faults[0].where, "1");
  EXPECT_EQ(faults[0].start, 512u);
  EXPECT_EQ(faults[0].length, 512u);
  EXPECT_EQ(faults[1].kind, 'w');
  EXPECT_EQ(faults[1].where, "2");
  EXPECT_EQ(faults[2].kind, 'k');
  EXPECT_EQ(faults[2].where, "image");
  EXPECT_EQ(faults[2].start, 100u);
}

TEST(DiskFaults, OnlyTheNamedRangesOfTheNamedDiskFail) {
  testdisk::ScratchFolder folder;
  const std::string first = folder.file("a.img"), second = folder.file("b.img");
  for (const std::string& path : {first, second}) std::ofstream(path, std::ios::binary) << std::string(8192, 'x');
  auto disks = disk::imageDiskSet({first, second}, disk::parseFaults("r:1:1024+512,w:1:4096+1"));
  disk::Error error;
  auto faulty = disks->open(1, true, error), healthy = disks->open(2, true, error);
  ASSERT_TRUE(faulty && healthy);
  char buffer[600] = {};
  const struct {
    std::uint64_t offset;
    std::size_t length;
    bool read, write;
  } cases[] = {
      {0, 512, true, true},      {512, 512, true, true},    {1000, 100, false, true},
      {1024, 1, false, true},    {1535, 1, false, true},    {1536, 512, true, true},
      {4000, 96, true, true},    {4000, 97, true, false},   {4096, 1, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.offset);
    EXPECT_EQ(faulty->read(c.offset, buffer, c.length), c.read);
    EXPECT_EQ(faulty->write(c.offset, buffer, c.length), c.write);
    EXPECT_TRUE(healthy->read(c.offset, buffer, c.length));
    EXPECT_TRUE(healthy->write(c.offset, buffer, c.length));
  }
}

TEST(DiskFaultsDeathTest, AKillRangeEndsTheProcessAtTheWrite) {
  const disk::FaultHook hook(disk::parseFaults("k:1:4096+512"), "1");
  EXPECT_TRUE(hook.allowWrite(0, 4096));
  EXPECT_TRUE(hook.allowRead(4096, 512)) << "reading there is fine";
  EXPECT_EXIT(hook.allowWrite(4000, 100), ::testing::ExitedWithCode(137), "");
}

}  // namespace

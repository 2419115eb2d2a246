// The risky states read from NTFS volumes made by mkntfs and put into those states by
// ntfs-3g's tools: ntfsresize marks the volume dirty as Windows does when it schedules
// a check (ntfsfix -d clears it again), ntfscp writes a hiberfil.sys.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/tools/common/disk_image.h"
#include "tools/common/fs.h"

namespace {

using testdisk::run;
using testdisk::ScratchFolder;

fs::Risks risksOf(const std::string& image) {
  disk::Error error;
  auto device = disk::openDevice(image, false, error);
  if (!device) {
    ADD_FAILURE() << disk::describe(error);
    return {};
  }
  return fs::readRisks(*device);
}

std::string q(const std::string& path) { return "'" + path + "'"; }

void makeNtfs(const std::string& image, int megabytes) {
  run("truncate -s " + std::to_string(megabytes) + "M " + q(image) + " && mkntfs -F -Q -q " + q(image));
}

// A hiberfil.sys of 64 KiB whose first four bytes are `head`.
void putHiberfil(const ScratchFolder& folder, const std::string& image, const std::string& head) {
  const std::string file = folder.file("hiberfil");
  run("head -c 65536 /dev/urandom > " + q(file) + " && printf '%s' " + q(head) + " | dd of=" + q(file) +
      " conv=notrunc status=none && ntfscp -q " + q(image) + " " + q(file) + " hiberfil.sys");
}

TEST(VolumeRisks, AFreshVolumeHasNone) {
  ScratchFolder folder;
  const std::string image = folder.file("ntfs.img");
  makeNtfs(image, 16);
  const fs::Risks risks = risksOf(image);
  EXPECT_FALSE(risks.bitLocker);
  EXPECT_FALSE(risks.hibernated);
  EXPECT_FALSE(risks.dirty);
  EXPECT_FALSE(risks.any());
}

TEST(VolumeRisks, DirtyAsACheckScheduledLeavesIt) {
  ScratchFolder folder;
  const std::string image = folder.file("ntfs.img");
  makeNtfs(image, 32);
  run("echo y | ntfsresize -f -s 24M " + q(image) + " >/dev/null");
  ASSERT_NE(run("ntfsinfo -f -m " + q(image)).find("DIRTY"), std::string::npos) << "ntfsresize no longer marks it";
  EXPECT_TRUE(risksOf(image).dirty);
  EXPECT_FALSE(risksOf(image).hibernated);
  run("ntfsfix -d " + q(image) + " >/dev/null");
  EXPECT_FALSE(risksOf(image).dirty) << "ntfsfix -d cleared the flag";
}

TEST(VolumeRisks, HibernationFileByItsFirstBytes) {
  struct Case {
    const char* head;
    bool hibernated;
  };
  const Case cases[] = {
      {"HIBR", true}, {"hibr", true}, {"WAKE", true},
      {"RSTR", false},  // resumed: Windows leaves the file, no longer an image
      {"\\0\\0\\0\\0", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.head);
    ScratchFolder folder;
    const std::string image = folder.file("ntfs.img");
    makeNtfs(image, 16);
    putHiberfil(folder, image, c.head);
    EXPECT_EQ(risksOf(image).hibernated, c.hibernated);
    EXPECT_FALSE(risksOf(image).dirty);
  }
}

TEST(VolumeRisks, HibernationFileAmongManyInTheRootOrUnderAnotherName) {
  ScratchFolder folder;
  const std::string image = folder.file("ntfs.img");
  makeNtfs(image, 32);
  // Enough names that the root folder's index spills out of its record into blocks.
  run("cd " + q(folder.path()) + " && echo x > f && for i in $(seq 1 80); do ntfscp -q " + q(image) +
      " f a_rather_long_file_name_to_fill_the_index_$i.txt || exit 1; done");
  ASSERT_NE(run("ntfsinfo -f -i 5 " + q(image)).find("$INDEX_ALLOCATION"), std::string::npos);
  putHiberfil(folder, image, "HIBR");
  EXPECT_TRUE(risksOf(image).hibernated);

  const std::string nested = folder.file("other.img");
  makeNtfs(nested, 16);
  const std::string file = folder.file("h");
  run("printf HIBR > " + q(file) + " && ntfscp -q " + q(nested) + " " + q(file) + " hiberfil.sys.old");
  EXPECT_FALSE(risksOf(nested).hibernated) << "only the name hiberfil.sys counts";
}

TEST(VolumeRisks, BitLockerSignatureInTheBootSector) {
  ScratchFolder folder;
  const std::string image = folder.file("ntfs.img");
  makeNtfs(image, 16);
  run("printf -- '-FVE-FS-' | dd of=" + q(image) + " bs=1 seek=3 conv=notrunc status=none");
  const fs::Risks risks = risksOf(image);
  EXPECT_TRUE(risks.bitLocker);
  EXPECT_FALSE(risks.dirty) << "the encrypted volume's flags are not readable";

  disk::MemoryDevice blank(1 << 20);
  EXPECT_FALSE(fs::readRisks(blank).any());
  disk::MemoryDevice tiny(100);
  EXPECT_FALSE(fs::readRisks(tiny).any());
}

}  // namespace

// The risky states read from NTFS volumes made by mkntfs and put into those states by
// ntfs-3g's tools: ntfsresize marks the volume dirty as Windows does when it schedules
// a check (ntfsfix -d clears it again), ntfscp writes a hiberfil.sys; a restart page
// of $LogFile is written where ntfsinfo says the log lies.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

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

// Where mkntfs put $LogFile, as ntfsinfo reports it: its first cluster's byte offset.
std::uint64_t logFileOffset(const std::string& image) {
  const std::string info = run("ntfsinfo -v -i 2 " + q(image) + " 2>/dev/null");
  const std::size_t runs = info.find("Runlist:");
  const std::string geometry = run("ntfsinfo -m " + q(image) + " 2>/dev/null");
  const std::size_t size = geometry.find("Cluster Size:");
  if (runs == std::string::npos || size == std::string::npos) {
    ADD_FAILURE() << "ntfsinfo: " << info << geometry;
    return 0;
  }
  const std::size_t lcn = info.find("0x", info.find("0x", runs) + 2);  // after the VCN
  return std::stoull(info.substr(lcn), nullptr, 16) * std::stoull(geometry.substr(size + 13));
}

// A restart page of $LogFile as Windows writes it: version 1.1, 4 KiB pages, its
// restart area at 0x30 with one client; `inUse` 0xFFFF when no client has it open,
// `flags` 2 when the volume was left clean.
void putRestartPage(const std::string& image, int page, std::uint64_t lsn, unsigned inUse, unsigned flags) {
  const std::uint64_t at = logFileOffset(image) + std::uint64_t(page) * 4096;
  run("python3 -c \"import struct,sys; p=bytearray(b'RSTR'+struct.pack('<HHQIIHhh',0x1E,9,0,4096,4096,0x30,1,1));"
      "p+=bytes(0x30-len(p)); p+=struct.pack('<QHHHHI'," + std::to_string(lsn) + ",1,0xFFFF," + std::to_string(inUse) + "," + std::to_string(flags) +
      ",0x2C); f=open(sys.argv[1],'r+b'); f.seek(" + std::to_string(at) + "); f.write(p)\" " + q(image));
}

TEST(VolumeRisks, ALogLeftOpenCountsAsHibernated) {
  struct Case {
    const char* what;
    unsigned inUse, flags;
    bool hibernated;
  };
  const Case cases[] = {
      {"a client still in the log, not marked clean (fast start-up)", 0, 0, true},
      {"a client in the log but the volume marked clean", 0, 2, false},
      {"no client in the log", 0xFFFF, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchFolder folder;
    const std::string image = folder.file("ntfs.img");
    makeNtfs(image, 16);
    ASSERT_FALSE(risksOf(image).hibernated) << "mkntfs leaves the log empty";
    putRestartPage(image, 0, 0x1000, c.inUse, c.flags);
    putRestartPage(image, 1, 0x1000, c.inUse, c.flags);
    EXPECT_EQ(risksOf(image).hibernated, c.hibernated);
    EXPECT_FALSE(risksOf(image).dirty);
  }
  // The newer of the two restart pages is the log's state.
  ScratchFolder folder;
  const std::string image = folder.file("ntfs.img");
  makeNtfs(image, 16);
  putRestartPage(image, 0, 0x1000, 0xFFFF, 2);
  putRestartPage(image, 1, 0x2000, 0, 0);
  EXPECT_TRUE(risksOf(image).hibernated);
  putRestartPage(image, 0, 0x3000, 0xFFFF, 2);
  EXPECT_FALSE(risksOf(image).hibernated);
  // ntfsfix empties the log as it would after replaying it.
  putRestartPage(image, 0, 0x4000, 0, 0);
  ASSERT_TRUE(risksOf(image).hibernated);
  run("ntfsfix " + q(image) + " >/dev/null");
  EXPECT_FALSE(risksOf(image).hibernated) << "ntfsfix emptied the log";
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

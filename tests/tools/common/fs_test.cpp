// File-system readers against volumes made by mkntfs and mkfs.vfat, filled by ntfscp
// and mcopy, judged by ntfsinfo, fsck.vfat and by reading the files back after every
// cluster the map calls free has been wiped.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>

#include "tests/tools/common/disk_image.h"
#include "tools/common/fs.h"
#include "tools/common/le_bytes.h"

namespace {

using testdisk::run;
using testdisk::ScratchFolder;

std::uint64_t number(const std::string& text, const std::string& pattern) {
  std::smatch m;
  if (!std::regex_search(text, m, std::regex(pattern))) {
    ADD_FAILURE() << pattern << " not in:\n" << text;
    return 0;
  }
  return std::stoull(m[1]);
}

struct Made {
  const char* name;
  const char* make;   // %s = image
  const char* copy;   // %s = image, %f = file
  const char* read;   // %s = image, %f = file; prints the file
  fs::Kind kind;
  std::uint32_t clusterSize;
  const char* label;
};

std::string fill(std::string pattern, const std::string& image, const std::string& file) {
  pattern = std::regex_replace(pattern, std::regex("%s"), "'" + image + "'");
  return std::regex_replace(pattern, std::regex("%f"), file);
}

const Made kVolumes[] = {
    {"NTFS, 4 KB clusters", "mkntfs -F -Q -q -L Daten -c 4096 %s", "ntfscp -q %s %f %f", "ntfscat %s %f",
     fs::Kind::Ntfs, 4096, "Daten"},
    {"NTFS, 512-byte clusters", "mkntfs -F -Q -q -c 512 %s", "ntfscp -q %s %f %f", "ntfscat %s %f", fs::Kind::Ntfs,
     512, ""},
    {"FAT12", "mkfs.vfat -F 12 -n SMALL %s", "mcopy -i %s %f ::%f", "mtype -i %s ::%f", fs::Kind::Fat12, 0, "SMALL"},
    {"FAT16", "mkfs.vfat -F 16 -n DEMO %s", "mcopy -i %s %f ::%f", "mtype -i %s ::%f", fs::Kind::Fat16, 2048, "DEMO"},
    {"FAT32", "mkfs.vfat -F 32 -s 1 -n BIG %s", "mcopy -i %s %f ::%f", "mtype -i %s ::%f", fs::Kind::Fat32, 512,
     "BIG"},
};

void PrintTo(const Made& m, std::ostream* os) { *os << m.name; }

class MadeVolume : public ::testing::TestWithParam<Made> {};

TEST_P(MadeVolume, MapFreeSpaceAndLabelAgreeWithTheToolsThatMadeIt) {
  const Made& m = GetParam();
  ScratchFolder folder;
  const std::string image = folder.file("volume.img");
  const int megabytes = m.kind == fs::Kind::Fat12 ? 4 : 40;
  run("truncate -s " + std::to_string(megabytes) + "M '" + image + "'");
  run(fill(m.make, image, ""));
  // Files of several sizes; the big ones fragment nothing but span many clusters.
  const char* files[] = {"a.bin", "b.bin", "c.txt"};
  const int sizes[] = {m.kind == fs::Kind::Fat12 ? 900000 : 3000000, 70000, 123};
  for (int i = 0; i < 3; ++i) {
    run("cd '" + folder.path() + "' && head -c " + std::to_string(sizes[i]) + " /dev/urandom > " + files[i]);
    run("cd '" + folder.path() + "' && " + fill(m.copy, image, files[i]));
  }

  disk::Error error;
  auto device = disk::openDevice(image, true, error);
  ASSERT_TRUE(device) << disk::describe(error);
  fs::Volume volume;
  ASSERT_TRUE(fs::Volume::open(*device, volume, error)) << disk::describe(error);
  EXPECT_EQ(volume.kind(), m.kind);
  EXPECT_EQ(fs::detect(*device), m.kind);
  EXPECT_EQ(volume.label(), m.label);
  ASSERT_TRUE(volume.hasClusterMap());
  if (m.clusterSize) {
    EXPECT_EQ(volume.clusterSize(), m.clusterSize);
  }
  ASSERT_TRUE(volume.freeBytes());
  EXPECT_EQ(*volume.freeBytes() + volume.usedClusters() * volume.clusterSize(),
            volume.clusterCount() * volume.clusterSize());

  if (m.kind == fs::Kind::Ntfs) {
    std::string info = run("ntfsinfo -m '" + image + "'");
    EXPECT_EQ(volume.clusterCount(), number(info, R"(Volume Size in Clusters: (\d+))"));
    EXPECT_EQ(*volume.freeBytes() / volume.clusterSize(), number(info, R"(Free Clusters: (\d+))"));
    ASSERT_EQ(volume.bootSectorCopies().size(), 2u);
    EXPECT_EQ(volume.bootSectorCopies()[1], device->size() - 512) << "mkntfs leaves the last sector for the copy";
  } else {
    std::string check = run("fsck.vfat -n '" + image + "'");
    EXPECT_EQ(volume.clusterCount(), number(check, R"(\d+/(\d+) clusters)"));
    EXPECT_EQ(volume.usedClusters(), number(check, R"((\d+)/\d+ clusters)"));
  }

  // Wipe every byte neither mapped as used nor always imaged: the files must survive.
  std::vector<char> keep(device->size() / 512, 0);
  for (const fs::Area& a : volume.alwaysImaged())
    for (std::uint64_t s = a.offset / 512; s < (a.offset + a.length + 511) / 512; ++s) keep[s] = 1;
  for (std::uint64_t c = 0; c < volume.clusterCount(); ++c)
    if (volume.isUsed(c))
      for (std::uint64_t s = 0; s < volume.clusterSize() / 512; ++s) keep[volume.clusterOffset(c) / 512 + s] = 1;
  std::vector<std::uint8_t> zeros(512, 0);
  std::uint64_t wiped = 0;
  for (std::uint64_t s = 0; s < keep.size(); ++s)
    if (!keep[s]) wiped += device->write(s * 512, zeros.data(), 512);
  device.reset();
  EXPECT_GT(wiped, keep.size() / 2) << "most of the volume is free";
  for (const char* f : files) {
    EXPECT_EQ(run(fill(m.read, image, f)), run("cat '" + folder.file(f) + "'")) << f;
  }
  if (m.kind == fs::Kind::Ntfs) {
    run("ntfsfix -n '" + image + "'");
  } else {
    run("fsck.vfat -n '" + image + "'");
  }
}

INSTANTIATE_TEST_SUITE_P(Volumes, MadeVolume, ::testing::ValuesIn(kVolumes),
                         [](const auto& info) { return std::regex_replace(info.param.name, std::regex("[^A-Za-z0-9]"), "_"); });

TEST(FileSystems, DamagedVolumesGiveAMessage) {
  ScratchFolder folder;
  const std::string ntfs = folder.file("ntfs.img"), fat = folder.file("fat.img");
  run("truncate -s 16M '" + ntfs + "' && mkntfs -F -Q -q '" + ntfs + "'");
  run("truncate -s 16M '" + fat + "' && mkfs.vfat -F 16 '" + fat + "'");
  const std::vector<std::uint8_t> ntfsBytes = testdisk::readFile(ntfs), fatBytes = testdisk::readFile(fat);
  auto le64 = [](const std::vector<std::uint8_t>& b, std::size_t at) { return toolio::le64(&b[at]); };
  const std::size_t clusterSize = 512u * ntfsBytes[13];
  const std::size_t record6 = le64(ntfsBytes, 0x30) * clusterSize + 6 * 1024;

  struct Case {
    const char* name;
    bool isNtfs;
    std::function<void(std::vector<std::uint8_t>&)> damage;
    const char* errorPart;
  };
  const Case cases[] = {
      {"torn MFT record (fixup mismatch)", true, [&](auto& b) { b[record6 + 510] ^= 0xFF; }, "不完整"},
      {"MFT record without its signature", true, [&](auto& b) { b[record6] = 'X'; }, "无效"},
      {"MFT past the volume", true, [](auto& b) { b[0x30 + 5] = 0x7F; }, "超出卷"},
      {"total sectors past the partition", true, [](auto& b) { b[0x28 + 4] = 1; }, "超出分区"},
      {"FAT larger than its partition", false, [](auto& b) { b[0x20 + 3] = 1; b[0x13] = 0; b[0x14] = 0; }, "超出分区"},
      {"FAT too small for its clusters", false, [](auto& b) { b[0x16] = 1; b[0x17] = 0; }, "太小"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    disk::MemoryDevice device((c.isNtfs ? ntfsBytes : fatBytes).size());
    device.bytes() = c.isNtfs ? ntfsBytes : fatBytes;
    c.damage(device.bytes());
    fs::Volume volume;
    disk::Error error;
    EXPECT_FALSE(fs::Volume::open(device, volume, error));
    EXPECT_NE(disk::describe(error).find(c.errorPart), std::string::npos) << disk::describe(error);
    EXPECT_FALSE(volume.hasClusterMap());
    EXPECT_FALSE(volume.freeBytes());
  }
}

TEST(FileSystems, ExFatGivesFreeSpaceAndLabelButNoMap) {
  ScratchFolder folder;
  const std::string image = folder.file("exfat.img");
  run("truncate -s 40M '" + image + "' && mkfs.exfat -L Stick '" + image + "'");
  disk::Error error;
  auto device = disk::openDevice(image, false, error);
  ASSERT_TRUE(device) << disk::describe(error);
  fs::Volume volume;
  ASSERT_TRUE(fs::Volume::open(*device, volume, error)) << disk::describe(error);
  EXPECT_EQ(volume.kind(), fs::Kind::ExFat);
  EXPECT_STREQ(fs::kindName(volume.kind()), "exFAT");
  EXPECT_FALSE(volume.hasClusterMap()) << "exFAT is copied whole";
  EXPECT_EQ(volume.label(), "Stick");
  std::string dump = run("dump.exfat '" + image + "'");
  ASSERT_TRUE(volume.freeBytes());
  EXPECT_EQ(*volume.freeBytes(), number(dump, R"(Free Clusters:\s*(\d+))") * number(dump, R"(Cluster size:\s*(\d+))"));

  // A boot sector that only claims to be exFAT: recognised, but no free space.
  disk::MemoryDevice fake(1 << 20);
  std::memcpy(&fake.bytes()[0], "\xEB\x76\x90" "EXFAT   ", 11);
  fake.bytes()[510] = 0x55;
  fake.bytes()[511] = 0xAA;
  EXPECT_EQ(fs::detect(fake), fs::Kind::ExFat);
  EXPECT_FALSE(fs::Volume::open(fake, volume, error));
  EXPECT_EQ(volume.kind(), fs::Kind::ExFat);
  EXPECT_FALSE(volume.freeBytes());
}

TEST(FileSystems, OtherContentsAreRaw) {
  disk::MemoryDevice blank(1 << 20);
  EXPECT_EQ(fs::detect(blank), fs::Kind::Raw);
  fs::Volume volume;
  disk::Error error;
  EXPECT_TRUE(fs::Volume::open(blank, volume, error));
  EXPECT_STREQ(fs::kindName(volume.kind()), "RAW");
  EXPECT_FALSE(volume.hasClusterMap());
  disk::MemoryDevice tiny(100);
  EXPECT_EQ(fs::detect(tiny), fs::Kind::Raw);
}


// Random damage anywhere in the structures the readers use: a message or a result,
// never a crash, a hang or a read outside the partition (the memory disk refuses those).
TEST(FileSystems, RandomDamageNeverCrashes) {
  ScratchFolder folder;
  const std::string ntfs = folder.file("ntfs.img"), fat = folder.file("fat.img");
  run("truncate -s 2M '" + ntfs + "' && mkntfs -F -Q -q -L Name '" + ntfs + "'");
  run("truncate -s 2M '" + fat + "' && mkfs.vfat -F 12 -n NAME '" + fat + "'");
  const std::string mbr = testdisk::makeImage(folder, "mbr.img", 4, "label: dos\\n,1M,7\\n,,5\\n,1M,7\\n,,7\\n");
  const std::string gpt = testdisk::makeImage(folder, "gpt.img", 4, "label: gpt\\n,1M,U\\n,,L\\n");
  struct Base {
    std::unique_ptr<disk::MemoryDevice> device;
    std::size_t hotStart, hotLength;  // damage falls here, where the structures are
  };
  std::vector<Base> bases;
  for (const std::string& path : {fat, mbr, gpt, ntfs}) {
    std::vector<std::uint8_t> bytes = testdisk::readFile(path);
    Base base{std::make_unique<disk::MemoryDevice>(bytes.size()), 0, 64 * 1024};
    base.device->bytes() = std::move(bytes);
    bases.push_back(std::move(base));
  }
  bases[1].hotLength = 2 << 20;  // the extended chain lies past the first partition
  const std::vector<std::uint8_t>& n = bases[3].device->bytes();
  bases[3].hotStart = 512u * n[13] * n[0x30];  // the MFT's first records
  bases[3].hotLength = 8192;
  std::uint32_t seed = 12345;
  auto random = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
  int opened = 0;
  for (int round = 0; round < 800; ++round) {
    Base& base = bases[round % 4];
    std::vector<std::uint8_t>& bytes = base.device->bytes();
    std::vector<std::pair<std::size_t, std::uint8_t>> saved;
    for (int count = 1 + random() % 6; count > 0; --count) {
      // NTFS: the boot sector now and then, the MFT records mostly.
      std::size_t at = round % 4 == 3 && count == 1 ? random() % 512 : base.hotStart + random() % base.hotLength;
      saved.emplace_back(at, bytes[at]);
      bytes[at] = static_cast<std::uint8_t>(random());
    }
    disk::Layout layout;
    disk::Error error;
    if (disk::readLayout(*base.device, layout, error)) {
      for (const disk::Partition& p : layout.partitions) {
        disk::PartitionDevice window(*base.device, p.startByte, p.lengthBytes);
        fs::Volume volume;
        opened += fs::Volume::open(window, volume, error);
      }
    }
    fs::Volume volume;
    opened += fs::Volume::open(*base.device, volume, error);
    for (auto it = saved.rbegin(); it != saved.rend(); ++it) bytes[it->first] = it->second;
  }
  EXPECT_GT(opened, 100) << "most light damage still reads";
}

}  // namespace

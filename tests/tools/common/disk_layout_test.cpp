// Partition tables as sfdisk writes them, damaged ones, designators and disk lists.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>

#include "tests/tools/common/disk_image.h"
#include "tools/common/crc32.h"
#include "tools/common/disk.h"
#include "tools/common/le_bytes.h"

namespace {

using testdisk::ScratchFolder;

struct Expected {
  std::uint64_t start, size;  // sectors
  std::string type;           // sfdisk's spelling: hex byte or GUID
};

// sfdisk's own reading of the image, extended containers left out (Windows numbers
// no container).
std::vector<Expected> sfdiskView(const std::string& image) {
  std::string json = testdisk::run("sfdisk -J '" + image + "'");
  std::regex entry(R"re("start":\s*(\d+),\s*"size":\s*(\d+),\s*"type":\s*"([^"]+)")re");
  std::vector<Expected> out;
  for (std::sregex_iterator it(json.begin(), json.end(), entry), end; it != end; ++it) {
    std::string type = (*it)[3];
    if (type == "5" || type == "f" || type == "85") continue;
    out.push_back({std::stoull((*it)[1]), std::stoull((*it)[2]), type});
  }
  return out;
}

std::string typeText(const disk::Partition& p, disk::TableStyle style) {
  if (style == disk::TableStyle::Mbr) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%x", p.mbrType);
    return hex;
  }
  // Back to the text form: the first three groups are little-endian.
  const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  std::string text;
  for (int i = 0; i < 16; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", p.gptType[order[i]]);
    text += hex;
    if (i == 3 || i == 5 || i == 7 || i == 9) text += '-';
  }
  return text;
}

disk::Layout layoutOf(const std::string& image) {
  disk::Error error;
  auto device = disk::openDevice(image, false, error);
  EXPECT_TRUE(device) << disk::describe(error);
  disk::Layout layout;
  if (device) {
    EXPECT_TRUE(disk::readLayout(*device, layout, error)) << disk::describe(error);
  }
  return layout;
}

TEST(DiskLayout, AgreesWithSfdisk) {
  ScratchFolder folder;
  struct Case {
    const char* name;
    const char* script;
    disk::TableStyle style;
  };
  const Case cases[] = {
      {"primaries and logicals",
       "label: dos\\n,8M,7\\n,4M,c,*\\n,,5\\n,4M,7\\n,4M,83\\n,,7\\n", disk::TableStyle::Mbr},
      {"extended container in the first slot", "label: dos\\n,40M,f\\n,,7\\n,4M,b\\n,4M,7\\n", disk::TableStyle::Mbr},
      {"ESP, MSR, data, recovery",
       "label: gpt\\n,4M,U\\n,2M,E3C9E316-0B5C-4DB8-817D-F92DF00215AE\\n,20M,L\\n,,DE94BBA4-06D1-4D40-A16A-BFD50179D6AC\\n",
       disk::TableStyle::Gpt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string image = testdisk::makeImage(folder, "disk.img", 64, c.script);
    disk::Layout layout = layoutOf(image);
    std::vector<Expected> expected = sfdiskView(image);
    EXPECT_EQ(layout.style, c.style);
    ASSERT_EQ(layout.partitions.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const disk::Partition& p = layout.partitions[i];
      EXPECT_EQ(p.number, static_cast<int>(i) + 1);
      EXPECT_EQ(p.startByte, expected[i].start * 512) << "partition " << p.number;
      EXPECT_EQ(p.lengthBytes, expected[i].size * 512) << "partition " << p.number;
      EXPECT_EQ(typeText(p, layout.style), expected[i].type) << "partition " << p.number;
    }
  }
}

TEST(DiskLayout, WindowsNumberingSkipsUnusedSlotsAndContainers) {
  ScratchFolder folder;
  // Slot 1 empty, extended in slot 2 with two logicals, a primary in slot 4.
  std::string mbr = testdisk::makeImage(folder, "mbr.img", 64,
                                        "label: dos\\n2: start=2048, size=40M, type=5\\n"
                                        "4: start=90112, size=8M, type=7\\n5: size=8M, type=7\\n6: size=8M, type=b\\n");
  disk::Layout layout = layoutOf(mbr);
  ASSERT_EQ(layout.partitions.size(), 3u);
  EXPECT_FALSE(layout.partitions[0].logical);
  EXPECT_EQ(layout.partitions[0].startByte, 90112u * 512);
  EXPECT_EQ(layout.partitions[0].tableEntryOffset, 446u + 3 * 16);
  EXPECT_TRUE(layout.partitions[1].logical);
  EXPECT_EQ(layout.partitions[2].mbrType, 0x0B);
  EXPECT_EQ(layout.partitions[2].number, 3);

  // GPT entries 1 and 3 used: Windows calls them 1 and 2.
  std::string gpt = testdisk::makeImage(folder, "gpt.img", 32,
                                        "label: gpt\\n1: start=2048, size=4M, type=U\\n"
                                        "3: size=4M, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\\n");
  layout = layoutOf(gpt);
  ASSERT_EQ(layout.partitions.size(), 2u);
  EXPECT_EQ(layout.partitions[1].number, 2);
  EXPECT_EQ(disk::gptKindOf(layout.partitions[0].gptType), disk::GptKind::Esp);
  EXPECT_EQ(disk::gptKindOf(layout.partitions[1].gptType), disk::GptKind::BasicData);
  EXPECT_EQ(layout.partitions[1].tableEntryOffset, 2u * 512 + 2 * 128);
}

void putLe32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) { toolio::putLe32(&b[at], v); }
std::uint32_t getLe32(const std::vector<std::uint8_t>& b, std::size_t at) { return toolio::le32(&b[at]); }
// Recomputes a GPT header's CRC after an edit, so that only the edit is wrong.
void resealGptHeader(std::vector<std::uint8_t>& b, std::size_t header) {
  putLe32(b, header + 16, 0);
  putLe32(b, header + 16, toolio::crc32(&b[header], getLe32(b, header + 12)));
}
void resealGptEntries(std::vector<std::uint8_t>& b, std::size_t header) {
  std::size_t entries = getLe32(b, header + 72) * 512ull;
  putLe32(b, header + 88, toolio::crc32(&b[entries], 128 * getLe32(b, header + 80)));
  resealGptHeader(b, header);
}

TEST(DiskLayout, DamagedTablesGiveAnErrorNotACrashOrAHang) {
  ScratchFolder folder;
  const std::string mbrImage = testdisk::makeImage(folder, "mbr.img", 16,
                                                   "label: dos\\n,4M,7\\n,2M,7\\n,,5\\n,2M,7\\n,2M,7\\n,,7\\n");
  const std::string gptImage = testdisk::makeImage(folder, "gpt.img", 16, "label: gpt\\n,4M,U\\n,,L\\n");
  const std::vector<std::uint8_t> mbr = testdisk::readFile(mbrImage), gpt = testdisk::readFile(gptImage);
  const std::size_t lastSector = gpt.size() - 512;
  disk::Layout fine;
  {
    disk::MemoryDevice probe(mbr.size());
    probe.bytes() = mbr;
    disk::Error error;
    ASSERT_TRUE(disk::readLayout(probe, fine, error)) << disk::describe(error);
    ASSERT_EQ(fine.partitions.size(), 5u);
  }
  const std::size_t firstEbr = 446 + 32;  // slot 3 holds the container
  const std::size_t ebr1 = getLe32(mbr, firstEbr + 8) * 512ull;
  const std::size_t ebr2 = ebr1 + 0;  // the first EBR sits at the container's start

  struct Case {
    const char* name;
    bool gptBase;
    std::function<void(std::vector<std::uint8_t>&)> damage;
    const char* errorPart;  // expected in the message; nullptr: reads fine
  };
  const Case cases[] = {
      {"primaries overlap", false, [](auto& b) { putLe32(b, 446 + 16 + 8, 4096); }, "分区 1 与分区 2 重叠"},
      {"primary past the disk end", false, [](auto& b) { putLe32(b, 446 + 12, 40000); }, "超出磁盘末尾"},
      {"bad boot flag", false, [](auto& b) { b[446] = 0x12; }, "活动标志"},
      {"extended chain loops onto itself", false,
       [&](auto& b) {
         // The second EBR links back to the first.
         std::size_t second = getLe32(b, ebr2 + 446 + 16 + 8) * 512ull + ebr1;
         putLe32(b, second + 446 + 16 + 8, 0);
         b[second + 446 + 16 + 4] = 0x05;
         putLe32(b, second + 446 + 16 + 12, 2048);
       },
       "成环"},
      {"extended link leaves the container", false, [&](auto& b) { putLe32(b, ebr1 + 446 + 16 + 8, 900000); },
       "扩展分区之外"},
      {"logical past its container", false, [&](auto& b) { putLe32(b, ebr1 + 446 + 12, 90000); }, "扩展分区范围"},
      {"EBR without signature", false, [&](auto& b) { b[ebr1 + 510] = 0; }, "扩展分区表无效"},
      {"no signature at all is an empty disk", false, [](auto& b) { b[510] = 0; }, nullptr},
      {"protective entry larger than the disk, as on disks over 2 TiB", true,
       [](auto& b) { putLe32(b, 446 + 12, 0xFFFFFFFF); }, nullptr},
      {"primary GPT header damaged, backup used", true, [](auto& b) { b[512 + 40] ^= 1; }, nullptr},
      {"both GPT headers damaged", true, [&](auto& b) { b[512 + 40] ^= 1; b[lastSector + 40] ^= 1; }, "校验和"},
      {"GPT entry array damaged in both copies", true,
       [&](auto& b) {
         b[1024 + 40] ^= 1;
         b[lastSector - 32 * 512 + 40] ^= 1;
       },
       "校验和"},
      {"GPT entries overlap", true,
       [&](auto& b) {
         putLe32(b, 1024 + 128 + 32, 4000);  // second entry starts inside the first
         resealGptEntries(b, 512);
         b[lastSector + 40] ^= 1;
       },
       "重叠"},
      {"GPT entry past the last usable sector", true,
       [&](auto& b) {
         putLe32(b, 1024 + 128 + 40, 40000);
         resealGptEntries(b, 512);
         b[lastSector + 40] ^= 1;
       },
       "超出"},
      {"GPT claiming a huge entry array", true,
       [&](auto& b) {
         putLe32(b, 512 + 80, 0x7FFFFFFF);
         resealGptHeader(b, 512);
         b[lastSector + 40] ^= 1;
       },
       "无效"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    disk::MemoryDevice device((c.gptBase ? gpt : mbr).size());
    device.bytes() = c.gptBase ? gpt : mbr;
    c.damage(device.bytes());
    disk::Layout layout;
    disk::Error error;
    bool ok = disk::readLayout(device, layout, error);
    if (c.errorPart) {
      EXPECT_FALSE(ok);
      EXPECT_NE(disk::describe(error).find(c.errorPart), std::string::npos) << disk::describe(error);
      EXPECT_TRUE(layout.partitions.empty());
    } else {
      EXPECT_TRUE(ok) << disk::describe(error);
      if (c.gptBase) {
        EXPECT_EQ(layout.partitions.size(), 2u);
      }
    }
  }
}

TEST(DiskLayout, FileSystemOnTheWholeDiskIsOnePartition) {
  ScratchFolder folder;
  std::string image = folder.file("stick.img");
  testdisk::run("truncate -s 40M '" + image + "' && mkfs.vfat -F 32 '" + image + "'");
  disk::Layout layout = layoutOf(image);
  ASSERT_EQ(layout.partitions.size(), 1u);
  EXPECT_EQ(layout.partitions[0].startByte, 0u);
  EXPECT_EQ(layout.partitions[0].lengthBytes, 40u << 20);
  EXPECT_EQ(layout.partitions[0].mbrType, 0x0C);
}

TEST(DiskLayout, PartitionWindowStaysInsideItsPartition) {
  disk::MemoryDevice disk(4096);
  disk::PartitionDevice window(disk, 1024, 1024);
  std::vector<std::uint8_t> data(16, 0xAB);
  EXPECT_TRUE(window.write(1008, data.data(), 16));
  EXPECT_EQ(disk.bytes()[1024 + 1008], 0xAB);
  EXPECT_FALSE(window.write(1009, data.data(), 16));
  EXPECT_FALSE(window.read(~0ull - 4, data.data(), 16)) << "offset + length must not wrap";
  EXPECT_EQ(disk.bytes()[2048], 0);
}

TEST(DiskNames, Designators) {
  struct Case {
    const char* text;
    int disk, partition;  // 0, 0: refused
  };
  const Case cases[] = {
      {"1:2", 1, 2}, {"2:3", 2, 3}, {"12:105", 12, 105}, {"0:1", 0, 0},   {"1:0", 0, 0},   {"01:2", 0, 0},
      {"", 0, 0},    {"1", 0, 0},   {"1:", 0, 0},        {":1", 0, 0},    {"a:b", 0, 0},   {"1:2:3", 0, 0},
      {" 1:2", 0, 0}, {"1:2 ", 0, 0}, {"+1:2", 0, 0},    {"1:-1", 0, 0},  {"1000:1", 0, 0}, {"1:2\r", 0, 0},
  };
  for (const Case& c : cases) {
    auto d = disk::parseDesignator(c.text);
    if (c.disk == 0) {
      EXPECT_FALSE(d) << c.text;
    } else {
      ASSERT_TRUE(d) << c.text;
      EXPECT_EQ(d->disk, c.disk);
      EXPECT_EQ(d->partition, c.partition);
    }
  }
}

TEST(DiskNames, DiskListsAndOpeningByDesignator) {
  EXPECT_EQ(disk::splitDiskList("/a.img::/dev/sdb:", ':'), (std::vector<std::string>{"/a.img", "/dev/sdb"}));
  EXPECT_EQ(disk::splitDiskList("Z:\\a.img;Z:\\b.img", ';'), (std::vector<std::string>{"Z:\\a.img", "Z:\\b.img"}));
  EXPECT_TRUE(disk::splitDiskList("", ':').empty());

  ScratchFolder folder;
  std::string first = testdisk::makeImage(folder, "a.img", 16, "label: dos\\n,4M,7\\n,4M,c\\n");
  std::string second = testdisk::makeImage(folder, "b.img", 16, "label: gpt\\n,4M,U\\n");
  auto disks = disk::imageDiskSet({first, second});
  EXPECT_EQ(disks->diskNumbers(), (std::vector<int>{1, 2}));
  disk::OpenPartition part;
  disk::Error error;
  ASSERT_TRUE(disk::openPartition(*disks, {1, 2}, false, part, error)) << disk::describe(error);
  EXPECT_EQ(part.device->size(), 4u << 20);
  EXPECT_EQ(part.device->startByte(), (2048u + 8192u) * 512);
  ASSERT_TRUE(disk::openPartition(*disks, {2, 1}, false, part, error)) << disk::describe(error);
  EXPECT_EQ(part.layout.style, disk::TableStyle::Gpt);
  EXPECT_FALSE(disk::openPartition(*disks, {3, 1}, false, part, error));
  EXPECT_NE(disk::describe(error).find("不存在"), std::string::npos);
  EXPECT_FALSE(disk::openPartition(*disks, {2, 2}, false, part, error));
  EXPECT_NE(disk::describe(error).find("2:2"), std::string::npos);
  EXPECT_FALSE(disk::imageDiskSet({folder.file("missing.img")})->open(1, false, error));
}

}  // namespace

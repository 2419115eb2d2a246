// The lister's lines, byte for byte, and the kind words of partition types.
#include "tools/lister/lister.h"

#include <gtest/gtest.h>

namespace {

TEST(ListerLines, Templates) {
  lister::PartitionLine ntfs;
  ntfs.disk = 1;
  ntfs.partition = 2;
  ntfs.letter = "C:";
  ntfs.totalBytes = 500107862016ull;
  ntfs.freeBytes = 128849018880ull;
  ntfs.kind = "Primary";
  ntfs.fileSystem = "NTFS";
  ntfs.label = "System";
  ntfs.style = "MBR";
  ntfs.typeNumber = 7;
  EXPECT_EQ(lister::formatLine(ntfs), "1:2\tC:\t465.76GB\t120.00GB\tPrimary\tNTFS\tSystem\tMBR\t7");

  lister::PartitionLine esp = ntfs;
  esp.letter.clear();
  esp.totalBytes = 104857600;
  esp.freeBytes.reset();
  esp.kind = "EFI";
  esp.fileSystem = "FAT32";
  esp.label = "a\tb\r\nc";  // must not break the line
  esp.style = "GPT";
  esp.typeNumber = 0;
  EXPECT_EQ(lister::formatLine(esp), "1:2\t\t0.10GB\tunknown\tEFI\tFAT32\ta b  c\tGPT\t0");

  lister::DynamicVolumeLine dynamic;
  dynamic.letter = "E:";
  dynamic.totalBytes = 21474836480ull;
  dynamic.freeBytes = 10737418240ull;
  dynamic.fileSystem = "NTFS";
  dynamic.label = "Data";
  EXPECT_EQ(lister::formatLine(dynamic), "  \tE:\t20.00GB\t10.00GB\tDynamic\tNTFS\tData");

  // Risks found: one more field, in a fixed order.
  struct Case {
    bool bitLocker, hibernated, dirty;
    const char* tail;
  };
  const Case cases[] = {
      {true, false, false, "\tBitLocker"},
      {false, true, false, "\tHibernated"},
      {false, false, true, "\tDirty"},
      {true, true, true, "\tBitLocker,Hibernated,Dirty"},
  };
  for (const Case& c : cases) {
    lister::PartitionLine risky = ntfs;
    risky.risks.bitLocker = c.bitLocker;
    risky.risks.hibernated = c.hibernated;
    risky.risks.dirty = c.dirty;
    EXPECT_EQ(lister::formatLine(risky), std::string("1:2\tC:\t465.76GB\t120.00GB\tPrimary\tNTFS\tSystem\tMBR\t7") + c.tail);
  }
}

TEST(ListerLines, KindWords) {
  struct Case {
    disk::TableStyle style;
    const char* gptType;  // nullptr: MBR
    std::uint8_t mbrType;
    bool logical;
    const char* kind;  // nullptr: not listed as a partition
  };
  const Case cases[] = {
      {disk::TableStyle::Mbr, nullptr, 0x07, false, "Primary"},
      {disk::TableStyle::Mbr, nullptr, 0x0B, true, "Logical"},
      {disk::TableStyle::Mbr, nullptr, 0x27, false, "Recovery"},
      {disk::TableStyle::Mbr, nullptr, 0xEF, false, "EFI"},
      {disk::TableStyle::Mbr, nullptr, 0x42, false, nullptr},
      {disk::TableStyle::Gpt, "C12A7328-F81F-11D2-BA4B-00A0C93EC93B", 0, false, "EFI"},
      {disk::TableStyle::Gpt, "E3C9E316-0B5C-4DB8-817D-F92DF00215AE", 0, false, "MSR"},
      {disk::TableStyle::Gpt, "DE94BBA4-06D1-4D40-A16A-BFD50179D6AC", 0, false, "Recovery"},
      {disk::TableStyle::Gpt, "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", 0, false, "Primary"},
      {disk::TableStyle::Gpt, "0FC63DAF-8483-4772-8E79-3D69D8477DE4", 0, false, "Primary"},
      {disk::TableStyle::Gpt, "5808C8AA-7E8F-42E0-85D2-E1E90434CFB3", 0, false, nullptr},
      {disk::TableStyle::Gpt, "AF9B60A0-1431-4F62-BC68-3311714A69AD", 0, false, nullptr},
  };
  for (const Case& c : cases) {
    disk::Partition p;
    p.mbrType = c.mbrType;
    p.logical = c.logical;
    if (c.gptType) p.gptType = disk::guidBytes(c.gptType);
    auto kind = lister::kindWord(c.style, p);
    if (c.kind) {
      EXPECT_EQ(kind.value_or("(none)"), c.kind) << (c.gptType ? c.gptType : "MBR");
    } else {
      EXPECT_FALSE(kind) << (c.gptType ? c.gptType : "MBR");
    }
  }
}

TEST(ListerLines, ArgumentsAndDiagnostics) {
  EXPECT_TRUE(lister::acceptsArguments({"-tavrin"}));
  EXPECT_TRUE(lister::acceptsArguments({"-TAVRIN"}));
  EXPECT_TRUE(lister::acceptsArguments({}));
  EXPECT_FALSE(lister::acceptsArguments({"-x"}));
  EXPECT_FALSE(lister::acceptsArguments({"-tavrin", "1:2"}));
  std::string text = lister::diagnosticText("磁盘 2: 无法打开 Z:\\a.img\t\r\n");
  EXPECT_EQ(text.find(':'), std::string::npos);
  EXPECT_EQ(text.find('\t'), std::string::npos);
  EXPECT_EQ(text, "磁盘 2： 无法打开 Z：\\a.img   ");
}


// The shipped build's assembly, from what the drive layouts and volumes report.
TEST(ListerLines, SystemPartitionsWithTheirVolumes) {
  auto partition = [](int number, std::uint64_t megabytes, std::uint8_t type, bool logical = false) {
    disk::Partition p;
    p.number = number;
    p.lengthBytes = megabytes << 20;
    p.mbrType = type;
    p.logical = logical;
    return p;
  };
  auto gptPartition = [](int number, std::uint64_t megabytes, const char* type) {
    disk::Partition p;
    p.number = number;
    p.lengthBytes = megabytes << 20;
    p.gptType = disk::guidBytes(type);
    return p;
  };
  lister::SystemDisk mbr{1, {}};
  mbr.layout.style = disk::TableStyle::Mbr;
  mbr.layout.partitions = {partition(1, 102400, 0x07), partition(2, 512, 0x27), partition(3, 20480, 0x0B, true)};
  lister::SystemDisk gpt{3, {}};  // PhysicalDrive2: drive 1 is a card reader without media
  gpt.layout.style = disk::TableStyle::Gpt;
  gpt.layout.partitions = {gptPartition(1, 100, "C12A7328-F81F-11D2-BA4B-00A0C93EC93B"),
                           gptPartition(2, 16, "E3C9E316-0B5C-4DB8-817D-F92DF00215AE"),
                           gptPartition(3, 40960, "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"),
                           gptPartition(4, 1024, "AF9B60A0-1431-4F62-BC68-3311714A69AD")};
  std::map<std::pair<unsigned long, unsigned long>, lister::VolumeFacts> volumes = {
      {{0, 1}, {"C:", "NTFS", "系统", 53687091200ull}},
      {{0, 3}, {"", "", "", std::nullopt}},  // a volume the system did not recognise
      {{2, 3}, {"D:", "NTFS", "Data", std::nullopt}},
  };
  std::vector<lister::DynamicVolumeLine> dynamic = {{"E:", 2147483648ull, 1073741824ull, "NTFS", "Spanned"}};
  std::vector<int> readOwnFor;
  auto readOwn = [&](const lister::SystemDisk& d, const disk::Partition& p) {
    readOwnFor.push_back(d.number * 10 + p.number);
    return lister::OwnReading{p.number == 1 ? "FAT32" : "RAW", p.number == 1 ? "ESP" : "",
                              p.number == 1 ? std::optional<std::uint64_t>(73400320) : std::nullopt};
  };
  auto readRisks = [](const lister::SystemDisk& d, const disk::Partition& p) {
    fs::Risks risks;
    risks.hibernated = d.number == 1 && p.number == 1;
    risks.dirty = d.number == 1 && p.number == 1;
    risks.bitLocker = d.number == 1 && p.number == 3;
    return risks;
  };
  std::vector<std::string> lines = lister::systemLines({mbr, gpt}, volumes, dynamic, readOwn, readRisks);
  const std::vector<std::string> expected = {
      "1:1\tC:\t100.00GB\t50.00GB\tPrimary\tNTFS\t系统\tMBR\t7\tHibernated,Dirty",
      "1:2\t\t0.50GB\tunknown\tRecovery\tRAW\t\tMBR\t39",
      "1:3\t\t20.00GB\tunknown\tLogical\tRAW\t\tMBR\t11\tBitLocker",
      "3:1\t\t0.10GB\t0.07GB\tEFI\tFAT32\tESP\tGPT\t0",
      "3:2\t\t0.02GB\tunknown\tMSR\tRAW\t\tGPT\t0",
      "3:3\tD:\t40.00GB\tunknown\tPrimary\tNTFS\tData\tGPT\t0",
      "  \tE:\t2.00GB\t1.00GB\tDynamic\tNTFS\tSpanned",
  };
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(readOwnFor, (std::vector<int>{12, 13, 31, 32})) << "only where the system gave no file system";
}

}  // namespace

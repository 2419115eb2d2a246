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

}  // namespace

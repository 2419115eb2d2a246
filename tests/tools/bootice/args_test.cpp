#include "tools/bootice/args.h"
#include "tools/bootice/disk_set_backend.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/gbk.h"
#include "tests/support/gbk_text.h"

namespace bootice {
namespace {

// Splits on single blanks, as a caller's text with double blanks reaches the tool
// through a splitter that keeps empty words.
std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> result;
  std::string word;
  std::istringstream in(line);
  while (std::getline(in, word, ' ')) result.push_back(word);
  return result;
}

TEST(BooticeArgs, AcceptsTheProgramsCommandLines) {
  const struct {
    const char* line;
    Action action;
    BootType type;
  } cases[] = {
      {"/DEVICE=C:\\ /mbr /install  /type=nt60  /quiet", Action::InstallMbr, BootType::Nt60},
      {"/DEVICE=C:\\ /pbr /install  /type=bootmgr  /quiet", Action::InstallPbr, BootType::Bootmgr},
      {"/DEVICE=C:\\ /partitions /activate /quiet", Action::Activate, BootType::Nt60},
      {"/DEVICE=C:\\ /mbr /install  /type=nt52  /quiet", Action::InstallMbr, BootType::Nt52},
      {"/DEVICE=C:\\ /pbr /install  /type=ntldr  /quiet", Action::InstallPbr, BootType::Ntldr},
      // Order and letter case are free.
      {"/quiet /TYPE=NTLDR /Install /PBR /device=C:\\", Action::InstallPbr, BootType::Ntldr},
      {"/Activate /DEVICE=C:\\ /Partitions", Action::Activate, BootType::Nt60},
      // Without /type the Vista-and-later kinds are meant.
      {"/DEVICE=C:\\ /mbr /install", Action::InstallMbr, BootType::Nt60},
      {"/DEVICE=C:\\ /pbr /install", Action::InstallPbr, BootType::Bootmgr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    ParseResult result = parseCommandLine(words(c.line));
    ASSERT_TRUE(result.ok) << gbktest::toUtf8(result.error);
    EXPECT_EQ(result.command.action, c.action);
    EXPECT_EQ(result.command.device, "C:\\");
    if (c.action != Action::Activate) {
      EXPECT_EQ(result.command.type, c.type);
    }
  }
}

TEST(BooticeArgs, KeepsTheDeviceAsGiven) {
  EXPECT_EQ(parseCommandLine({"/DEVICE=2:3", "/mbr", "/install"}).command.device, "2:3");
  EXPECT_EQ(parseCommandLine({"/DEVICE=d:", "/mbr", "/install"}).command.device, "d:");
}

TEST(BooticeArgs, RefusesWhatItCannotDo) {
  const struct {
    const char* line;
    const char* errorPart;
  } cases[] = {
      // The program passes an empty device when no boot target is chosen.
      {"/DEVICE= /mbr /install  /type=nt60  /quiet", "未指定设备"},
      {"/DEVICE=   /partitions /activate", "未指定设备"},
      {"/mbr /install /quiet", "未指定设备"},
      {"/DEVICE=C:\\ /quiet", "未指定操作"},
      {"/DEVICE=C:\\ /mbr /pbr /install", "只能选其一"},
      {"/DEVICE=C:\\ /mbr /activate", "只支持 /install"},
      {"/DEVICE=C:\\ /pbr", "只支持 /install"},
      {"/DEVICE=C:\\ /partitions /install", "只支持 /activate"},
      {"/DEVICE=C:\\ /partitions /activate /type=nt60", "不接受"},
      {"/DEVICE=C:\\ /mbr /install /type=bootmgr", "nt60 或 nt52"},
      {"/DEVICE=C:\\ /pbr /install /type=nt52", "bootmgr 或 ntldr"},
      {"/DEVICE=C:\\ /mbr /install /type=grub4dos", "grub4dos"},
      {"/DEVICE=C:\\ /mbr /install /backup", "/backup"},
      {"/DEVICE=C:\\ /DEVICE=D:\\ /mbr /install", "只能指定一次"},
      {"/DEVICE=C:\\ /mbr /install /type=nt60 /type=nt52", "只能指定一次"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    ParseResult result = parseCommandLine(words(c.line));
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(gbk::contains(result.error, c.errorPart)) << gbktest::toUtf8(result.error);
    EXPECT_TRUE(gbk::startsWith(result.error, "错误: ")) << gbktest::toUtf8(result.error);
  }
}

}  // namespace
}  // namespace bootice

namespace bootice {
namespace {

TEST(BooticeDevice, DriveLetterForms) {
  const struct {
    const char* device;
    char letter;
  } cases[] = {
      {"C:\\", 'C'}, {"c:", 'C'},  {"d", 'D'}, {"E:/", 'E'}, {"", 0},   {"1:2", 0},
      {"CC", 0},     {"C:\\x", 0}, {"C\\", 0}, {"@:", 0},    {"盘", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(driveLetterOf(c.device), c.letter) << c.device;
}

}  // namespace
}  // namespace bootice

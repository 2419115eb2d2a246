// The command lines the program builds, read by the carried tools' own parsers: the
// imaging engine's and the ISO tool's. Each side's tests check it against literals of
// its own; here the two meet as they do across the process boundary.
#include <gtest/gtest.h>

#include <string>

#include "onekey/ghost_runs.h"
#include "onekey/iso_install.h"
#include "runner/command_runner.h"
#include "tests/fakes/fake_os.h"
#include "tests/support/gbk_text.h"
#include "tools/common/command_line.h"
#include "tools/ghost/args.h"
#include "tools/iso/tool.h"

namespace {

// Deployment doubles the backslash before the tool's name.
constexpr char kEngine[] = "X:\\Users\\Default\\AppData\\Local\\Temp\\\\GhostVrelLite.exe";
constexpr char kIsoTool[] = "X:\\Users\\Default\\AppData\\Local\\Temp\\\\ISO.exe";

// What a tool's main sees of a line the program hands the command interpreter: the
// interpreter starts the line as it is, the system turns its code page 936 into
// UTF-16 and the tool reads it back as UTF-8, after its own program name.
std::string toolTail(const std::string& programLine, const std::string& toolPath) {
  EXPECT_EQ(programLine.rfind(toolPath + " ", 0), 0u) << "the line starts with the tool, unquoted";
  const std::string utf8 = gbktest::toUtf8(programLine);
  return std::string(toolio::commandTail(std::string_view(utf8)));
}

// Paths with what the command interpreter or a careless parser would split on: blanks,
// "&", commas, a colon-free designator-like name, Chinese characters, a character
// whose second byte is a backslash in code page 936.
const char* const kImages[] = {
    "D:\\sys.gho",
    "D:\\我的 备份\\a & b.GHO",
    "E:\\x,y\\1,2,src=3.gho",
    "F:\\\x81\x5c\\系统 (1).gho",
};

TEST(CommandLineContract, TheEngineReadsTheRestoreLineAsTheProgramMeantIt) {
  for (const char* image : kImages) {
    for (const char* designator : {"1:2", "2:10", "10:1"}) {
      SCOPED_TRACE(gbktest::toUtf8(image) + " onto " + designator);
      const std::string line = onekey::restoreCommandLine(kEngine, image, designator);
      const ghost::ParseResult parsed = ghost::parseCommandLine(toolTail(line, kEngine));
      ASSERT_TRUE(parsed.ok) << gbktest::toUtf8(parsed.error);
      EXPECT_EQ(parsed.command.mode, ghost::Mode::Restore);
      EXPECT_EQ(parsed.command.imagePath, gbktest::toUtf8(image));
      EXPECT_EQ(parsed.command.imagePartition, 1u) << "the first partition stored in the image";
      EXPECT_EQ(parsed.command.partition, designator);
      EXPECT_TRUE(parsed.command.crcIgnore && parsed.command.sure && parsed.command.batch);
    }
  }
}

TEST(CommandLineContract, TheEngineReadsTheBackupLineAsTheProgramMeantIt) {
  for (const char* save : kImages) {
    SCOPED_TRACE(gbktest::toUtf8(save));
    const std::string line = onekey::backupCommandLine(kEngine, "2:10", save);
    const ghost::ParseResult parsed = ghost::parseCommandLine(toolTail(line, kEngine));
    ASSERT_TRUE(parsed.ok) << gbktest::toUtf8(parsed.error);
    EXPECT_EQ(parsed.command.mode, ghost::Mode::Backup);
    EXPECT_EQ(parsed.command.partition, "2:10");
    EXPECT_EQ(parsed.command.imagePath, gbktest::toUtf8(save));
    EXPECT_EQ(parsed.command.level, 9);
    EXPECT_TRUE(parsed.command.crcIgnore && parsed.command.sure && parsed.command.batch);
  }
}

TEST(CommandLineContract, TheEngineReadsTheCheckLineAsTheProgramMeantIt) {
  for (const char* image : kImages) {
    SCOPED_TRACE(gbktest::toUtf8(image));
    const std::string line = onekey::checkCommandLine(kEngine, image);
    const ghost::ParseResult parsed = ghost::parseCommandLine(toolTail(line, kEngine));
    ASSERT_TRUE(parsed.ok) << gbktest::toUtf8(parsed.error);
    EXPECT_EQ(parsed.command.mode, ghost::Mode::Check);
    EXPECT_EQ(parsed.command.imagePath, gbktest::toUtf8(image));
    EXPECT_TRUE(parsed.command.sure && parsed.command.batch);
  }
}

TEST(CommandLineContract, TheIsoToolReadsTheMountLineAsTheProgramMeantIt) {
  const char* const isos[] = {"D:\\win10.iso", "D:\\iso|s\\Win 10 & 11.iso", "E:\\系统 镜像\\\x81\x5c.ISO"};
  for (const char* iso : isos) {
    for (const char* letter : {"Z", "Y", "W", "A", "B"}) {
      SCOPED_TRACE(gbktest::toUtf8(iso) + " on " + letter);
      const std::string line = onekey::isoMountCommandLine(kIsoTool, letter, iso);
      const iso::Request request = iso::parseRequest(toolTail(line, kIsoTool));
      EXPECT_EQ(request.kind, iso::Request::Kind::Mount);
      EXPECT_EQ(request.letter, letter[0]);
      EXPECT_EQ(request.image, gbktest::toUtf8(iso));
    }
  }
}

TEST(CommandLineContract, TheIsoToolReadsTheExitLineAsUnmountEverything) {
  fake::World w;
  runner::quitIsoTool(w.os, kIsoTool);
  ASSERT_EQ(w.processes.captured.size(), 1u);
  const std::string line = w.processes.captured[0];
  const std::string interpreter = "cmd.exe /c ";
  ASSERT_EQ(line.rfind(interpreter, 0), 0u);
  const iso::Request request = iso::parseRequest(toolTail(line.substr(interpreter.size()), kIsoTool));
  EXPECT_EQ(request.kind, iso::Request::Kind::Unmount);
}

}  // namespace

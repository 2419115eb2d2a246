#include "tools/wimengine/args.h"

#include <gtest/gtest.h>

#include "platform/gbk.h"
#include "tests/support/gbk_text.h"

namespace wimengine {
namespace {

using Args = std::vector<std::string>;

TEST(WimEngineArgs, AcceptsTheProgramsCommandLines) {
  ParseResult info = parseCommandLine({"/info", "D:\\系统备份\\install.wim"});
  ASSERT_TRUE(info.ok);
  EXPECT_EQ(info.command.operation, Operation::Info);
  EXPECT_EQ(info.command.wimPath, "D:\\系统备份\\install.wim");

  ParseResult apply = parseCommandLine({"/apply", "D:\\a b.wim", "12", "C:"});
  ASSERT_TRUE(apply.ok);
  EXPECT_EQ(apply.command.operation, Operation::Apply);
  EXPECT_EQ(apply.command.index, 12u);
  EXPECT_EQ(apply.command.target, "C:");

  // The backup window's line: description after two blanks, flags of four blanks.
  ParseResult capture = parseCommandLine({"/capture", "C:\\", "E:\\bak.wim", "Win_Bak_2024-01-02 10:11:12",
                                          "本映像卷由 工具 生成。", "/flags", "    ", "/compress", "Maximum",
                                          "/temp", "E:\\ImagexTemp"});
  ASSERT_TRUE(capture.ok);
  const Command& c = capture.command;
  EXPECT_EQ(c.source, "C:\\");
  EXPECT_EQ(c.wimPath, "E:\\bak.wim");
  EXPECT_EQ(c.name, "Win_Bak_2024-01-02 10:11:12");
  EXPECT_EQ(c.description, "本映像卷由 工具 生成。");
  EXPECT_EQ(c.flags, "    ");
  EXPECT_EQ(c.compression, Compression::Maximum);
  EXPECT_EQ(c.tempDir, "E:\\ImagexTemp");
}

TEST(WimEngineArgs, ApplyTakesSeveralRefPatterns) {
  ParseResult apply = parseCommandLine(
      {"/apply", "D:\\install.swm", "1", "C:\\", "/ref", "D:\\install*.swm", "/REF", "E:\\more\\install3.swm"});
  ASSERT_TRUE(apply.ok) << gbktest::toUtf8(apply.error);
  EXPECT_EQ(apply.command.refPatterns, (Args{"D:\\install*.swm", "E:\\more\\install3.swm"}));

  const struct {
    Args args;
    const char* error;
  } refused[] = {
      {{"/apply", "D:\\install.swm", "1", "C:", "/ref"}, "错误: /ref 后缺少分卷文件。"},
      {{"/apply", "D:\\install.swm", "1", "C:", "/ref", ""}, "错误: /ref 后缺少分卷文件。"},
      {{"/info", "D:\\install.swm", "/ref", "D:\\install*.swm"}, "错误: /ref 只能用于 /apply。"},
  };
  for (const auto& c : refused) {
    ParseResult r = parseCommandLine(c.args);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, c.error) << gbktest::toUtf8(r.error);
  }
}

TEST(WimEngineArgs, SwitchesInAnyOrderAndCase) {
  struct Case {
    Args tail;
    Compression compression;
    std::string flags, temp;
  } cases[] = {
      {{"/COMPRESS", "fast", "/Temp", "T", "/FLAGS", "Ultimate"}, Compression::Fast, "Ultimate", "T"},
      {{"/temp", "T", "/compress", "NONE"}, Compression::None, "", "T"},
      {{"/Flags", "Professional"}, Compression::Maximum, "Professional", ""},
      {{"/compress", "fast", "/compress", "maximum"}, Compression::Maximum, "", ""},
  };
  for (const Case& k : cases) {
    Args args{"/CAPTURE", "src", "d.wim", "n", "desc"};
    args.insert(args.end(), k.tail.begin(), k.tail.end());
    ParseResult r = parseCommandLine(args);
    ASSERT_TRUE(r.ok) << k.tail[0];
    EXPECT_EQ(r.command.compression, k.compression);
    EXPECT_EQ(r.command.flags, k.flags);
    EXPECT_EQ(r.command.tempDir, k.temp);
    EXPECT_EQ(r.command.description, "desc");
  }
}

TEST(WimEngineArgs, PositionalArgumentsAreTakenByCount) {
  // Linux paths start with '/', and the description is optional.
  ParseResult apply = parseCommandLine({"/apply", "/tmp/x.wim", "1", "/flags"});
  ASSERT_TRUE(apply.ok);
  EXPECT_EQ(apply.command.wimPath, "/tmp/x.wim");
  EXPECT_EQ(apply.command.target, "/flags");

  ParseResult noDescription = parseCommandLine({"/capture", "/src", "/d.wim", "name", "/compress", "none"});
  ASSERT_TRUE(noDescription.ok);
  EXPECT_EQ(noDescription.command.description, "");
  EXPECT_EQ(noDescription.command.compression, Compression::None);
}

TEST(WimEngineArgs, ImageIndexText) {
  struct Case {
    const char* text;
    std::uint32_t index;
  } cases[] = {
      {"1", 1}, {"007", 7}, {"4294967295", 4294967295u},
      {"0", 0}, {"abc", 0}, {"99999999999", 0}, {"4294967296", 0}, {"", 0},
      {"-1", 0}, {"+1", 0}, {" 1", 0}, {"1a", 0}, {"1.0", 0}, {"00000000001", 0},
  };
  for (const Case& k : cases) EXPECT_EQ(parseImageIndex(k.text), k.index) << '"' << k.text << '"';
}

TEST(WimEngineArgs, RefusesBrokenCommandLinesWithoutEchoingThem) {
  // An echoed argument could carry "Successfully" into the output of a failed run.
  const Args cases[] = {
      {},
      {"/successfully"},
      {"/info"},
      {"/apply", "x.wim", "1"},
      {"/apply", "x.wim", "0", "C:"},
      {"/apply", "x.wim", "Successfully", "C:"},
      {"/apply", "x.wim", "99999999999", "C:"},
      {"/apply", "", "1", "C:"},
      {"/apply", "x.wim", "1", ""},
      {"/apply", "x.wim", "1", "C:", "/compress", "fast"},
      {"/capture", "C:", "d.wim"},
      {"/capture", "C:", "d.wim", "n", "d", "/compress"},
      {"/capture", "C:", "d.wim", "n", "d", "/compress", "lzms"},
      {"/capture", "C:", "d.wim", "n", "d", "/flags"},
      {"/capture", "C:", "d.wim", "n", "d", "/temp"},
      {"/capture", "C:", "d.wim", "n", "d", "/Successfully"},
      {"/capture", "", "d.wim", "n"},
  };
  for (const Args& args : cases) {
    ParseResult r = parseCommandLine(args);
    std::string shown = args.empty() ? "(none)" : args.back();
    EXPECT_FALSE(r.ok) << shown;
    EXPECT_TRUE(gbk::startsWith(r.error, "错误: ")) << gbktest::toUtf8(r.error);
    EXPECT_FALSE(gbk::contains(r.error, "successfully", true)) << gbktest::toUtf8(r.error);
  }
}

}  // namespace
}  // namespace wimengine

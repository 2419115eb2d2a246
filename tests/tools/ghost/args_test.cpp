#include <gtest/gtest.h>

#include "tools/ghost/args.h"

namespace {

using ghost::Mode;

struct Accepted {
  const char* line;
  Mode mode;
  const char* image;
  unsigned imagePartition;
  const char* partition;
  int level;
  bool crcIgnore;
};

TEST(GhostArgs, AcceptsTheProgramsCommandLines) {
  const Accepted cases[] = {
      {"-clone,mode=pload,src=\"D:\\sys.gho\":1,dst=1:2  -crcignore  -noide -sure -fx -BATCH", Mode::Restore,
       "D:\\sys.gho", 1, "1:2", 0, true},
      {"-clone,mode=pdump,src=1:2,dst=\"D:\\bak.gho\" -z9  -crcignore  -noide  -sure  -fx -BATCH ", Mode::Backup,
       "D:\\bak.gho", 1, "1:2", 9, true},
      {"  -CHKIMG,\"D:\\sys.gho\" -sure  -fx -BATCH ", Mode::Check, "D:\\sys.gho", 1, "", 0, false},
      {"  -CHKIMG,D:\\sys.gho -sure  -fx -BATCH ", Mode::Check, "D:\\sys.gho", 1, "", 0, false},
      // Unquoted, a path with blanks reaches the engine as several words.
      {"   -CHKIMG,D:\\my  images\\sys 1.gho -sure  -fx -BATCH ", Mode::Check, "D:\\my  images\\sys 1.gho", 1,
       "", 0, false},
      {"-CHKIMG,\"D:\\my images\\a,b.gho\"", Mode::Check, "D:\\my images\\a,b.gho", 1, "", 0, false},
      // Commas and colons inside a quoted path, switches in any case and order.
      {"-SURE -Clone,DST=2:3,Src=\"E:\\x,y:z.gho\":1,MODE=PLOAD", Mode::Restore, "E:\\x,y:z.gho", 1, "2:3", 0,
       false},
      {"-clone,mode=pload,src=D:\\sys.gho:1,dst=1:1", Mode::Restore, "D:\\sys.gho", 1, "1:1", 0, false},
      {"-clone,mode=pload,src=D:\\sys.gho,dst=1:1", Mode::Restore, "D:\\sys.gho", 1, "1:1", 0, false},
      {"-clone,mode=pload,src=\"D:\\sys.gho\":2,dst=1:1", Mode::Restore, "D:\\sys.gho", 2, "1:1", 0, false},
      {"-clone,mode=pdump,src=0:1,dst=/tmp/a.gho -z1", Mode::Backup, "/tmp/a.gho", 1, "0:1", 1, false},
      {"-clone,mode=pdump,src=9:9,dst=\"/tmp/a b.gho\"", Mode::Backup, "/tmp/a b.gho", 1, "9:9", 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    auto result = ghost::parseCommandLine(c.line);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.command.mode, c.mode);
    EXPECT_EQ(result.command.imagePath, c.image);
    EXPECT_EQ(result.command.imagePartition, c.imagePartition);
    EXPECT_EQ(result.command.partition, c.partition);
    EXPECT_EQ(result.command.level, c.level);
    EXPECT_EQ(result.command.crcIgnore, c.crcIgnore);
  }
}

TEST(GhostArgs, RefusesUnknownOrMalformedSwitchesWithAChineseLine) {
  const char* cases[] = {
      "",
      "-sure -fx -BATCH",
      "-clone",
      "-clone,mode=copy,src=1:1,dst=2:1",
      "-clone,mode=pload,src=\"D:\\sys.gho:1,dst=1:2",
      "-clone,mode=pload,src=\"D:\\sys.gho\":x,dst=1:2",
      "-clone,mode=pload,src=\"D:\\sys.gho\":1,dst=\"1:2\"",
      "-clone,mode=pload,src=\"D:\\sys.gho\":1,dst=garbage",
      "-clone,mode=pload,src=\"D:\\sys.gho\":1",
      "-clone,mode=pdump,src=1,dst=\"D:\\b.gho\"",
      "-clone,mode=pdump,src=a:b,dst=\"D:\\b.gho\"",
      "-clone,mode=pdump,src=1:2,dst=\"\"",
      "-clone,mode=pdump,src=1:2,dst=\"D:\\b.gho\",",
      "-clone,mode=pdump,src=1:2,dst=\"D:\\b.gho\",size=5",
      "-clone,mode=pdump,src=1:2,dst=\"D:\\b.gho\" -z0",
      "-clone,mode=pdump,src=1:2,dst=\"D:\\b.gho\" -z10",
      "-clone,mode=pdump,src=1:2,dst=\"D:\\b.gho\" -unknown",
      "-clone,mode=pdump,src=1:2,dst=\"D:\\b.gho\" -CHKIMG,\"D:\\b.gho\"",
      "-CHKIMG,",
      "-CHKIMG,\"D:\\a.gho",
  };
  for (const char* line : cases) {
    SCOPED_TRACE(line);
    auto result = ghost::parseCommandLine(line);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error.rfind("错误: ", 0), 0u) << result.error;
  }
}

}  // namespace

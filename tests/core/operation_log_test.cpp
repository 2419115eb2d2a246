#include "core/operation_log.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_os.h"

namespace {

core::OperationRecord backupRecord() {
  core::OperationRecord r;
  r.operation = "GHO 备份";
  r.image = "D:\\备份\\c.gho";
  core::Target t;
  t.targetIndex = "1:2";
  t.targetPartitionType = "主分区,MBR";
  t.targetFileSystem = "NTFS";
  t.targetTotal = "40.00GB";
  t.targetDrive = "C:\\";
  r.target = core::targetText(t);
  r.options = "-z9";
  r.start = {2026, 12, 31, 23, 58, 30};
  r.end = {2027, 1, 1, 1, 2, 5};
  return r;
}

TEST(OperationLog, BlocksForSuccessAndFailure) {
  core::OperationRecord r = backupRecord();
  r.succeeded = true;
  r.outcome = "Ghost备份磁盘完成！";
  r.engineMessages = "kept only on failure";
  EXPECT_EQ(core::formatLogBlock(r),
            "==== GHO 备份\r\n"
            "开始: 2026-12-31 23:58:30\r\n"
            "结束: 2027-01-01 01:02:05\r\n"
            "映像: D:\\备份\\c.gho\r\n"
            "目标: 1:2 主分区,MBR NTFS 40.00GB C:\\\r\n"
            "选项: -z9\r\n"
            "用时: 01:03:35\r\n"
            "结果: 成功\r\n"
            "  Ghost备份磁盘完成！\r\n"
            "\r\n");

  r.succeeded = false;
  r.outcome = "Ghost备份磁盘错误！\r\n错误信息:";
  r.engineMessages = "\r\nABORT: 29004 Target partition too small\r\n\r\n  \r\nline two\n";
  r.image.clear();
  r.options.clear();
  EXPECT_EQ(core::formatLogBlock(r),
            "==== GHO 备份\r\n"
            "开始: 2026-12-31 23:58:30\r\n"
            "结束: 2027-01-01 01:02:05\r\n"
            "目标: 1:2 主分区,MBR NTFS 40.00GB C:\\\r\n"
            "用时: 01:03:35\r\n"
            "结果: 失败\r\n"
            "  Ghost备份磁盘错误！\r\n"
            "  错误信息:\r\n"
            "引擎消息:\r\n"
            "  ABORT: 29004 Target partition too small\r\n"
            "  line two\r\n"
            "\r\n");
}

TEST(OperationLog, LongEngineTextKeepsItsLastLines) {
  core::OperationRecord r = backupRecord();
  for (int i = 1; i <= 45; ++i) r.engineMessages += "line " + std::to_string(i) + "\r\n";
  const std::string block = core::formatLogBlock(r);
  EXPECT_EQ(block.find("  line 5\r\n"), std::string::npos);
  EXPECT_NE(block.find("引擎消息:\r\n  ...\r\n  line 6\r\n"), std::string::npos) << block;
  EXPECT_NE(block.find("  line 45\r\n\r\n"), std::string::npos);
}

TEST(OperationLog, DurationsAcrossDaysMonthsAndLeapYears) {
  struct Case {
    platform::CalendarTime start, end;
    long long seconds;
  };
  const Case cases[] = {
      {{2024, 2, 28, 23, 0, 0}, {2024, 3, 1, 0, 0, 0}, 25 * 3600},  // 2024 has a 29 February
      {{2023, 2, 28, 23, 0, 0}, {2023, 3, 1, 0, 0, 0}, 3600},
      {{2026, 12, 9, 3, 40, 12}, {2026, 12, 9, 3, 40, 12}, 0},
      {{2026, 12, 9, 3, 40, 12}, {2026, 12, 9, 3, 40, 11}, 0},  // the clock set back
  };
  for (const Case& c : cases) EXPECT_EQ(core::secondsBetween(c.start, c.end), c.seconds);
}

TEST(OperationLog, AppendsBesideTheProgramOrInTheTemporaryFolder) {
  fake::World w;
  core::OperationRecord r = backupRecord();
  r.succeeded = true;
  const std::string block = core::formatLogBlock(r);
  EXPECT_EQ(core::appendOperationLog(w.os, r), "U:\\VrelPE\\VrelPELite.log");
  EXPECT_EQ(core::appendOperationLog(w.os, r), "U:\\VrelPE\\VrelPELite.log");
  EXPECT_EQ(w.files.contentOf("U:\\VrelPE\\VrelPELite.log"), block + block) << "appended, never replaced";

  // A read-only program folder: the temporary folder takes the block.
  w.files.unwritable.insert("u:\\vrelpe\\vrelpelite.log");
  EXPECT_EQ(core::appendOperationLog(w.os, r), "X:\\Temp\\VrelPELite.log");
  EXPECT_EQ(w.files.contentOf("X:\\Temp\\VrelPELite.log"), block);
  EXPECT_EQ(w.files.contentOf("U:\\VrelPE\\VrelPELite.log"), block + block);

  // Neither can be written: nothing, and no complaint.
  w.files.unwritable.insert("x:\\temp\\vrelpelite.log");
  EXPECT_EQ(core::appendOperationLog(w.os, r), "");
  EXPECT_EQ(w.files.contentOf("X:\\Temp\\VrelPELite.log"), block);
}

TEST(OperationLog, TimesOneOperationAndWritesOnce) {
  fake::World w;
  w.system.programDir = "";
  w.system.tempDir = "X:\\Temp";  // without its backslash
  w.system.now = {2026, 12, 9, 3, 40, 12};
  core::OperationLog log(w.os, "格式化", "", "1:1 主分区,MBR NTFS 0.04GB", "NTFS");
  w.system.now = {2026, 12, 9, 3, 40, 19};
  log.finish(false, "格式化失败", "engine text");
  log.finish(true, "a second finish");
  EXPECT_EQ(w.files.contentOf("X:\\Temp\\VrelPELite.log"),
            "==== 格式化\r\n"
            "开始: 2026-12-09 03:40:12\r\n"
            "结束: 2026-12-09 03:40:19\r\n"
            "目标: 1:1 主分区,MBR NTFS 0.04GB\r\n"
            "选项: NTFS\r\n"
            "用时: 00:00:07\r\n"
            "结果: 失败\r\n"
            "  格式化失败\r\n"
            "引擎消息:\r\n"
            "  engine text\r\n"
            "\r\n");
}

}  // namespace

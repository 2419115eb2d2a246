#include "app/power.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_os.h"

namespace {

using Calls = std::vector<std::string>;

TEST(PowerActions, CommandLinesFlagsReasonsAndTheirOrder) {
  // The log first (Windows may be gone a moment later), then the WinPE shell; the
  // privilege always comes before each request.
  const char* log = "append:U:\\VrelPE\\VrelPELite.log";
  const std::tuple<void (*)(platform::Platform&), const char*, Calls> cases[] = {
      {app::restart, "PECMD.EXE SHUT R", {log, "hidden:PECMD.EXE SHUT R", "privilege", "exit:2:0"}},
      {app::shutDown, "PECMD.EXE SHUT", {log, "hidden:PECMD.EXE SHUT", "privilege", "exit:1:65535"}},
      {app::restartAfterCapture, "PECMD.EXE SHUT R",
       {log, "hidden:PECMD.EXE SHUT R", "privilege", "exit:2:0", "privilege", "exit:2:0"}},
      {app::shutDownAfterCapture, "PECMD.EXE SHUT",
       {log, "hidden:PECMD.EXE SHUT", "privilege", "exit:1:65535", "privilege", "exit:1:65535"}},
  };
  for (const auto& [action, command, calls] : cases) {
    fake::World w;
    action(w.os);
    EXPECT_EQ(w.processes.hidden, (std::vector<std::pair<std::string, unsigned>>{{command, 1000}}));
    EXPECT_EQ(w.journal, calls) << command;
    EXPECT_TRUE(w.processes.captured.empty()) << "the shell's command is not waited for";
    EXPECT_TRUE(w.shell.exits.empty()) << "Windows ends the program, not the program itself";
  }
  fake::World w;
  app::shutDown(w.os);
  EXPECT_EQ(w.files.contentOf("U:\\VrelPE\\VrelPELite.log"),
            "==== 关机\r\n开始: 2017-07-03 14:05:09\r\n结束: 2017-07-03 14:05:09\r\n选项: PECMD.EXE SHUT\r\n"
            "用时: 00:00:00\r\n结果: 成功\r\n  已请求 Windows 关机。\r\n\r\n");
}

}  // namespace

#include "app/power.h"

#include <gtest/gtest.h>

#include "tests/fakes/fake_os.h"

namespace {

using Calls = std::vector<std::string>;

TEST(PowerActions, CommandLinesFlagsReasonsAndTheirOrder) {
  // The WinPE shell is asked first; the privilege always comes before each request.
  const std::tuple<void (*)(platform::Platform&), const char*, Calls> cases[] = {
      {app::restart, "PECMD.EXE SHUT R", {"hidden:PECMD.EXE SHUT R", "privilege", "exit:2:0"}},
      {app::shutDown, "PECMD.EXE SHUT", {"hidden:PECMD.EXE SHUT", "privilege", "exit:1:65535"}},
      {app::restartAfterCapture, "PECMD.EXE SHUT R",
       {"hidden:PECMD.EXE SHUT R", "privilege", "exit:2:0", "privilege", "exit:2:0"}},
      {app::shutDownAfterCapture, "PECMD.EXE SHUT",
       {"hidden:PECMD.EXE SHUT", "privilege", "exit:1:65535", "privilege", "exit:1:65535"}},
  };
  for (const auto& [action, command, calls] : cases) {
    fake::World w;
    action(w.os);
    EXPECT_EQ(w.processes.hidden, (std::vector<std::pair<std::string, unsigned>>{{command, 1000}}));
    EXPECT_EQ(w.journal, calls) << command;
    EXPECT_TRUE(w.processes.captured.empty()) << "the shell's command is not waited for";
    EXPECT_TRUE(w.shell.exits.empty()) << "Windows ends the program, not the program itself";
  }
}

}  // namespace

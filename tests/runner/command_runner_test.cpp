#include "runner/command_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "tests/fakes/fake_os.h"
#include "tests/fakes/fake_ui.h"
#include "tests/support/gbk_text.h"

namespace {

TEST(Interpreter, PrefixByPlatformClass) {
  EXPECT_EQ(runner::interpreterPrefix(2), "cmd.exe /c ");
  for (int id : {0, 1, 3, -1}) EXPECT_EQ(runner::interpreterPrefix(id), "command.com /c ") << id;
  EXPECT_EQ(runner::osClass(0), 1);
  EXPECT_EQ(runner::osClass(1), 2);
  EXPECT_EQ(runner::osClass(2), 3);
  EXPECT_EQ(runner::osClass(7), 0);
}

TEST(RunCaptured, JoinsPrefixAndKeepsStartFailureApartFromSilence) {
  fake::World w;
  w.processes.answer("silent", "");
  w.processes.answer("broken", "", /*started=*/false);
  auto silent = runner::tryRunCaptured(w.os, "silent.exe");
  auto broken = runner::tryRunCaptured(w.os, "broken.exe");
  EXPECT_TRUE(silent.started);
  EXPECT_FALSE(broken.started);
  EXPECT_EQ(silent.output, "");
  EXPECT_EQ(broken.output, "");
  EXPECT_EQ(w.processes.captured.at(0), "cmd.exe /c silent.exe");
  w.system.platform = 1;
  runner::runCaptured(w.os, "x");
  EXPECT_EQ(w.processes.captured.at(2), "command.com /c x");
}

TEST(RunCaptured, ChunkTextEndsAtItsFirstNul) {
  std::string out;
  platform::appendChunk(out, std::string_view("ab\0cd", 5));
  platform::appendChunk(out, "ef");
  EXPECT_EQ(out, "abef");
}

TEST(QuitIsoTool, RunsTheUnquotedPathWithQ) {
  fake::World w;
  runner::quitIsoTool(w.os, "X:\\Temp\\\\ISO.exe");
  ASSERT_EQ(w.processes.captured.size(), 1u);
  EXPECT_EQ(w.processes.captured[0], "cmd.exe /c X:\\Temp\\\\ISO.exe /q");
}

TEST(SystemDirectory, TrimsBlanksAndTheTrailingBackslash) {
  fake::World w;
  w.system.systemDir = "  X:\\Windows\\system32\\ ";
  EXPECT_EQ(runner::systemDirectory(w.os), "X:\\Windows\\system32");
}

// The success word and the end marker are found in what passes the reader, whatever
// is cut from the box later: across the pieces' edges, in the letter case asked,
// never inside a double-byte character.
TEST(OutputWatch, FindsWordsAsTheyPass) {
  const struct {
    const char* what;
    std::vector<std::string> pieces;
    bool success, marker;
  } cases[] = {
      {"in one piece", {"Successfully applied image.\r\n"}, true, false},
      {"split in three", {"...Succ", "essf", "ully applied"}, true, false},
      {"another letter case", {"SUCCESSFULLY"}, true, false},
      {"a trail byte is no letter", {"\x81S", "UCCESSFULLY"}, false, false},
      {"the marker on a line of its own", {"x\r\nVrelPE: engine fin", "ished\r", "\n"}, false, true},
      {"the marker as the first line", {"VrelPE: engine finished\r\n"}, false, true},
      {"the marker inside a line", {"echo VrelPE: engine finished\r\n"}, false, false},
      {"the marker's line not ended yet", {"\nVrelPE: engine finished"}, false, false},
  };
  for (const auto& c : cases) {
    runner::OutputWatch watch({{"successfully", true}, {"\nVrelPE: engine finished\r\n"}}, "\n");
    for (const std::string& piece : c.pieces) watch.scan(piece);
    EXPECT_EQ(watch.seen(0), c.success) << c.what;
    EXPECT_EQ(watch.seen(1), c.marker) << c.what;
  }
  runner::OutputWatch exact({{"Successfully imaged"}});
  exact.scan("successfully imaged");
  EXPECT_FALSE(exact.seen(0)) << "letter case counts where asked";
}

class ConsoleShellTest : public ::testing::Test {
 protected:
  fake::World w;
  runner::ConsoleShell shell{w.os};
};

TEST_F(ConsoleShellTest, OpensOnceWithDefaultsAndOnlyOnTheNtFamily) {
  w.system.platform = 1;
  EXPECT_EQ(shell.openConsoleShell(), 0u);
  EXPECT_TRUE(w.console.opens.empty());
  w.system.platform = 2;
  unsigned long pid = shell.openConsoleShell();
  EXPECT_NE(pid, 0u);
  EXPECT_EQ(shell.openConsoleShell(), pid) << "a second open returns the running interpreter";
  ASSERT_EQ(w.console.opens.size(), 1u);
  EXPECT_EQ(w.console.opens[0].first, "cmd.exe");
  EXPECT_EQ(w.console.opens[0].second, "X:\\Windows\\system32\\");
}

TEST_F(ConsoleShellTest, SendTrimsAndHandlesExitClsAndEmptyLines) {
  EXPECT_EQ(shell.sendConsoleLine("dir"), 0) << "nothing is sent while closed";
  shell.openConsoleShell();
  EXPECT_EQ(shell.sendConsoleLine("  \xA1\xA1" "engine /apply \"a b.wim\" 1 C:\xA1\xA1 "), 30);
  EXPECT_EQ(w.console.input, "engine /apply \"a b.wim\" 1 C:\r\n");
  EXPECT_EQ(shell.sendConsoleLine(""), 2);
  EXPECT_EQ(w.console.input.substr(w.console.input.size() - 2), "\r\n");
  EXPECT_EQ(shell.sendConsoleLine(" CLS "), 3);
  EXPECT_EQ(w.console.output, "X:\\Windows\\system32>");
  const std::string inputBefore = w.console.input;
  EXPECT_EQ(shell.sendConsoleLine("  EXIT  "), 4);
  EXPECT_FALSE(shell.isOpen());
  EXPECT_EQ(w.console.input, inputBefore) << "exit is not written to the interpreter";
  EXPECT_EQ(w.console.closes, 1);
  EXPECT_FALSE(shell.closeConsoleShell()) << "closing a closed shell";
}

TEST_F(ConsoleShellTest, ReaderEmptiesTheBoxFirstAndCapsIt) {
  fake::WindowSystem ui;
  fake::TableWindow logic({"log", 0, 0, 100, 100, false, {{"engineLogBox", ui::Kind::MultiLineEdit, "old text"}}});
  fake::Window& window = ui.create(logic);
  fake::Control& box = window.get("engineLogBox");
  shell.startConsoleReader(window, box);
  EXPECT_EQ(w.console.readersStarted, 0) << "a reader started while closed does nothing";
  shell.openConsoleShell();
  shell.startConsoleReader(window, box);
  EXPECT_EQ(box.text(), "");
  w.console.deliver("[ 10% ] Applying progress\r\n");
  w.console.deliver(std::string_view("x\0junk", 6));
  EXPECT_EQ(box.text(), "") << "the reader only posts; the window's thread writes";
  ui.processPendingMessages();
  EXPECT_EQ(box.text(), "[ 10% ] Applying progress\r\nx");
  box.setText(std::string(29990, 'a'));
  w.console.deliver("0123456789");  // exactly 30000: kept
  ui.processPendingMessages();
  EXPECT_EQ(box.text().size(), 30000u);
  w.console.deliver("!");  // one more: the box starts over
  ui.processPendingMessages();
  EXPECT_EQ(box.text(), "!");
}

// A burst the window thread takes at once ends the box as the pieces one by one
// would: emptied before the piece that would pass the cap, never more than once.
TEST(CappedBox, ABurstEndsAsPieceByPiece) {
  const ui::ControlSpec spec{"engineLogBox", ui::Kind::MultiLineEdit};
  for (std::size_t before : {0u, 25u, 95u}) {
    std::vector<std::string> pieces;
    for (int i = 0; i < 40; ++i) pieces.push_back(std::string(static_cast<std::size_t>(i % 7 + 1), char('a' + i % 26)));
    pieces.push_back(std::string(120, 'L'));  // longer than the cap: kept whole, as one piece would be
    pieces.push_back("end");
    fake::Control one(spec), burst(spec);
    one.setText(std::string(before, '.'));
    burst.setText(std::string(before, '.'));
    for (const std::string& piece : pieces) runner::appendToCappedBox(one, piece, 100);
    runner::appendToCappedBox(burst, pieces, 100);
    EXPECT_EQ(burst.text(), one.text()) << before;
  }
}

// The reader is a thread of its own; the box belongs to the user-interface thread,
// which keeps reading it (the timers' parse) while output arrives.
TEST_F(ConsoleShellTest, TheReaderThreadLeavesTheBoxToTheWindowsThread) {
  fake::WindowSystem ui;
  fake::TableWindow logic({"log", 0, 0, 100, 100, false, {{"engineLogBox", ui::Kind::MultiLineEdit}}});
  fake::Window& window = ui.create(logic);
  fake::Control& box = window.get("engineLogBox");
  shell.openConsoleShell();
  shell.startConsoleReader(window, box);
  std::vector<std::string> pieces;
  std::string all;
  for (int i = 0; i < 300; ++i) {
    pieces.push_back("[ " + std::to_string(i % 100) + "% ] Applying progress\r\n");
    all += pieces.back();
  }
  std::atomic<bool> done{false};
  std::thread reader = w.console.deliverOnThread(pieces);
  std::thread watcher([&] {
    reader.join();
    done = true;
  });
  std::size_t longest = 0;
  do {
    ui.processPendingMessages();
    longest = std::max(longest, box.text().size());
  } while (!done);
  watcher.join();
  ui.processPendingMessages();
  EXPECT_EQ(box.text(), all);
  EXPECT_LE(longest, all.size());
}

TEST_F(ConsoleShellTest, ClosingTheWindowStopsTheOutputButNotTheShell) {
  fake::WindowSystem ui;
  fake::TableWindow logic({"log", 0, 0, 100, 100, false, {{"engineLogBox", ui::Kind::MultiLineEdit}}});
  fake::Window& first = ui.create(logic);
  shell.openConsoleShell();
  shell.startConsoleReader(first, first.get("engineLogBox"));
  w.console.deliver("one");
  ui.processPendingMessages();
  w.console.deliver("two");
  first.close();
  ui.processPendingMessages();
  w.console.deliver("three");
  ui.processPendingMessages();
  EXPECT_EQ(first.get("engineLogBox").text(), "one") << "posted before the close, run after: dropped";
  EXPECT_TRUE(shell.isOpen());
  EXPECT_EQ(w.console.detaches, 1);

  // A window closed after the shell has moved on to another reader leaves that one alone.
  fake::Window& second = ui.create(logic);
  fake::Window& third = ui.create(logic);
  shell.closeConsoleShell();
  shell.openConsoleShell();
  shell.startConsoleReader(second, second.get("engineLogBox"));
  shell.closeConsoleShell();
  shell.openConsoleShell();
  shell.startConsoleReader(third, third.get("engineLogBox"));
  second.close();
  w.console.deliver("three");
  ui.processPendingMessages();
  EXPECT_EQ(third.get("engineLogBox").text(), "three");
  EXPECT_EQ(w.console.detaches, 1);
}

}  // namespace

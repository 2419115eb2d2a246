// The program's questions about a risky partition and one of its refusals, as the
// real message box shows them: each box is read back, photographed for the guide
// (artifacts/question_*.bmp) and answered No, which the program must receive.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "core/message_box.h"
#include "core/refusals.h"
#include "onekey/volume_risks.h"
#include "platform/win32/ui_win32.h"
#include "tests/wine/wine_support.h"

namespace {

// What the timer found of the box on this thread.
struct Sight {
  std::string picture;  // where its picture goes
  UINT answer = IDNO;   // the button pressed once it is photographed
  int ticksSeen = 0;
  int ticks = 0;
  std::string text;
  bool photographed = false;
};
Sight* sight = nullptr;

// Any visible window of this thread: what a box of another class would be.
BOOL CALLBACK anyWindow(HWND hwnd, LPARAM found) {
  if (!IsWindowVisible(hwnd)) return TRUE;
  *reinterpret_cast<HWND*>(found) = hwnd;
  return FALSE;
}

BOOL CALLBACK findBox(HWND hwnd, LPARAM found) {
  char name[16] = {};
  GetClassNameA(hwnd, name, sizeof name);
  if (std::string(name) != "#32770" || !IsWindowVisible(hwnd)) return TRUE;
  *reinterpret_cast<HWND*>(found) = hwnd;
  return FALSE;
}

// The longest static text of the box: its message (the icon is a static without text).
BOOL CALLBACK readText(HWND child, LPARAM into) {
  char name[16] = {}, text[4096] = {};
  GetClassNameA(child, name, sizeof name);
  if (lstrcmpiA(name, "Static") == 0 && GetWindowTextA(child, text, sizeof text) > 0) {
    auto& found = *reinterpret_cast<std::string*>(into);
    if (std::string(text).size() > found.size()) found = text;
  }
  return TRUE;
}

// Runs inside the box's own modal loop. The box is photographed on the tick after it
// is first seen, once it has painted.
void CALLBACK onTick(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND box = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), findBox, reinterpret_cast<LPARAM>(&box));
  if (!box && ++sight->ticks > 40) {
    // Never seen in 10 s: answer whatever is up, so the tier does not hang (and fails).
    EnumThreadWindows(GetCurrentThreadId(), anyWindow, reinterpret_cast<LPARAM>(&box));
    if (box) PostMessageA(box, WM_COMMAND, sight->answer, 0);
    return;
  }
  if (!box || ++sight->ticksSeen < 2) return;
  KillTimer(nullptr, timer);
  EnumChildWindows(box, readText, reinterpret_cast<LPARAM>(&sight->text));
  sight->photographed = winetest::saveWindowPicture(box, sight->picture);
  PostMessageA(box, WM_COMMAND, sight->answer, 0);
}

// Shows the text as the program does and returns the answer the program received.
int showAndPhotograph(const std::string& text, unsigned style, const std::string& name, Sight& seen) {
  seen.picture = winetest::artifactFolder() + name + ".bmp";
  seen.answer = (style & 0xF) == ui::kYesNo ? IDNO : IDOK;
  sight = &seen;
  const UINT_PTR timer = SetTimer(nullptr, 0, 250, onTick);
  win32::WindowSystem windows;
  const int answer = core::showBox(windows, nullptr, text, style);
  KillTimer(nullptr, timer);
  sight = nullptr;
  return answer;
}

core::Request requestFor(core::Mode mode, const std::string& image, core::VolumeRisks risks) {
  core::Request r;
  r.mode = mode;
  r.imagePath = image;
  r.target.targetDrive = "C:\\";
  r.target.targetIndex = "1:1";
  r.target.targetIndexUsable = true;
  r.target.targetDisplay = "C:\\(1:1)";
  r.target.targetFileSystem = "NTFS";
  r.target.risks = risks;
  return r;
}

TEST(QuestionBoxesUnderWine, EachRiskQuestionAndTheBootPartitionRefusalAsShown) {
  core::VolumeRisks bitLocker, hibernated, dirty;
  bitLocker.bitLocker = true;
  hibernated.hibernated = true;
  dirty.dirty = true;
  struct Case {
    const char* picture;
    core::Request request;
  };
  const Case questions[] = {
      {"question_bitlocker_restore", requestFor(core::Mode::Restore, "D:\\sys.gho", bitLocker)},
      {"question_bitlocker_backup", requestFor(core::Mode::GhostBackup, "D:\\bak.gho", bitLocker)},
      {"question_hibernated", requestFor(core::Mode::Restore, "D:\\install.wim", hibernated)},
      {"question_dirty", requestFor(core::Mode::GhostBackup, "D:\\bak.gho", dirty)},
  };
  for (const Case& c : questions) {
    SCOPED_TRACE(c.picture);
    const std::vector<std::string> asked = onekey::riskQuestions(c.request, c.request.target.risks);
    ASSERT_EQ(asked.size(), 1u);
    Sight seen;
    EXPECT_EQ(showAndPhotograph(asked[0], onekey::kRiskQuestionBox, c.picture, seen), ui::kAnswerNo);
    EXPECT_TRUE(seen.photographed);
    EXPECT_EQ(seen.text, asked[0]) << "the box shows the question's own bytes";
  }

  core::Request onBoot = requestFor(core::Mode::Restore, "D:\\sys.gho", {});
  core::Facts facts;
  facts.partitionChosen = true;
  facts.imageExists = true;
  facts.imageFullPath = "D:\\sys.gho";
  facts.imageBytes = 1 << 30;
  facts.winpeBootRoots = {"C:\\"};
  const auto refusal = core::firstRefusal(onBoot, facts, core::Checkpoint::OneKeyAction);
  ASSERT_TRUE(refusal.has_value());
  EXPECT_EQ(refusal->reason, core::Refused::WinpeBootPartition);
  Sight seen;
  EXPECT_EQ(showAndPhotograph(refusal->text, refusal->style, "refusal_winpe_boot", seen), ui::kAnswerOk);
  EXPECT_TRUE(seen.photographed);
  EXPECT_EQ(seen.text, refusal->text);
}

}  // namespace

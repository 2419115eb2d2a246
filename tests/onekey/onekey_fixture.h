// The one-key action over the fake world: a window with the main window's controls
// (by the names the main window gives them), a partition list and the tools' paths.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "onekey/main_controls.h"
#include "onekey/one_key.h"
#include "onekey/services.h"
#include "search/select_target.h"
#include "tests/fakes/fake_os.h"
#include "tests/fakes/fake_ui.h"

namespace onekeytest {

constexpr std::uint64_t kMB = 1048576;
constexpr char kEngine[] = "X:\\Temp\\\\GhostVrelLite.exe";
constexpr char kIsoTool[] = "X:\\Temp\\\\ISO.exe";
constexpr char kWimEngine[] = "X:\\Temp\\\\ZeDadaviZezi.exe";

class MainDouble : public ui::WindowLogic {
 public:
  const ui::WindowSpec& spec() const override {
    using ui::Kind;
    static const ui::WindowSpec s{
        "main", 0, 0, 476, 424, true,
        {{"restoreRadio", Kind::RadioButton, "", 0, 0, 1, 1, ui::kChecked | ui::kFirstInGroup},
         {"ghostBackupRadio", Kind::RadioButton},
         {"wimBackupRadio", Kind::RadioButton},
         {"imagePathCombo", Kind::ComboBox},
         {"savePathEdit", Kind::Edit},
         {"partitionList", Kind::ListView, "", 0, 0, 1, 1, ui::kNone, "", {}, {{"盘符"}, {"序号"}, {"分区类型"}}},
         {"isoContentList", Kind::ListBox},
         {"patternCombo", Kind::DropDownList},
         {"browseButton", Kind::Button},
         {"mainExitButton", Kind::Button},
         {"mainOkButton", Kind::Button},
         {"modeButton", Kind::Button},
         {"searchButton", Kind::Button},
         {"checkGhostButton", Kind::Button},
         {"searchResultList", Kind::ListBox},
         {"depthEdit", Kind::Edit},
         {"redEnvelopeButton", Kind::Button},
         {"homePageCheck", Kind::CheckBox}}};
    return s;
  }
};

// What the main window hands down, resolved here from the double's controls.
inline onekey::MainControls controlsOf(ui::Window& w) {
  return {w,
          w.control("restoreRadio"),
          w.control("ghostBackupRadio"),
          w.control("wimBackupRadio"),
          w.control("imagePathCombo"),
          w.control("savePathEdit"),
          w.control("partitionList"),
          w.control("isoContentList"),
          w.control("patternCombo"),
          w.control("browseButton"),
          w.control("mainExitButton"),
          w.control("mainOkButton"),
          w.control("modeButton"),
          w.control("searchButton"),
          w.control("checkGhostButton"),
          w.control("searchResultList"),
          w.control("depthEdit")};
}

class OneKeyTest : public ::testing::Test {
 protected:
  OneKeyTest() {
    state.tools.ghostEnginePath = kEngine;
    state.tools.isoToolPath = kIsoTool;
    state.tools.enginePath = kWimEngine;
    main = &ui.create(mainLogic);
    w.processes.onRun = [this](const std::string&) { mainVisibleDuringRuns.push_back(main->visible()); };
    // The WIM windows list one image without asking.
    w.processes.answer("/info", "Image Count: 1\r\n");
    fake::Control& list = main->get("partitionList");
    for (const char* row : {"C:\\|1:1", "D:\\|1:2", "|1:3", "E:\\||E:"}) {
      const std::string text = row;
      const std::size_t bar = text.find('|');
      const int r = list.addRow(text.substr(0, bar), 0);
      list.setCell(r, 1, text.substr(bar + 1));
      list.setCell(r, 2, "主分区,MBR");
    }
  }
  // The user's click on a row: the list selects it, the main window records the target.
  void selectRow(int row) {
    fake::Control& list = main->get("partitionList");
    list.selectedRow_ = row;
    search::selectTargetPartition(list, state);
  }
  void chooseImage(const std::string& path) {
    fake::Control& combo = main->get("imagePathCombo");
    combo.setSelection(combo.addItem(path));
  }
  void press() {
    onekey::MainControls c = controlsOf(*main);
    onekey::OneKeyAction(services, c);
  }
  std::vector<std::string> boxTexts() const {
    std::vector<std::string> texts;
    for (const fake::Box& b : ui.boxes) texts.push_back(b.text);
    return texts;
  }
  std::string engineRun(const std::string& line) { return "cmd.exe /c " + line; }
  // The next WIM window that opens: what it shows, whether the main window was
  // visible meanwhile; it is closed at once.
  struct Opened {
    std::string caption, target, image;
    bool mainVisible = true;
  };
  void recordNextWimWindow(std::vector<Opened>& opened) {
    ui.scriptModal([this, &opened](fake::Window& window) {
      const bool restore = window.controls.count("targetLabel") > 0;
      opened.push_back({window.caption(), window.get(restore ? "targetLabel" : "sourceLabel").text(),
                        window.get(restore ? "imageLabel" : "destinationLabel").text(), main->visible()});
      window.click("cancelButton");
    });
  }

  fake::World w;
  fake::WindowSystem ui;
  core::AppState state;
  std::vector<std::string> powerCalls;
  onekey::Services services{{w.os, ui, state, {}},
                            {[this] { powerCalls.push_back("restart"); }, [this] { powerCalls.push_back("shutdown"); }},
                            {[this] { powerCalls.push_back("restart twice"); },
                             [this] { powerCalls.push_back("shutdown twice"); }}};
  MainDouble mainLogic;
  fake::Window* main = nullptr;
  std::vector<bool> mainVisibleDuringRuns;
};

}  // namespace onekeytest

#include "app/main_window.h"

#include "app/power.h"
#include "app/version.h"
#include "core/app_state.h"
#include "core/message_box.h"
#include "disks/partition_inventory.h"
#include "onekey/ghost_runs.h"
#include "onekey/one_key.h"
#include "platform/gbk.h"
#include "search/image_search.h"
#include "search/select_target.h"
#include "wim/engine_run.h"

namespace app {

namespace {

using ui::Kind;

constexpr char kDeviceTimer[] = "deviceRefreshTimer";

// The main window's controls. Positions are client coordinates, or relative to the
// group box named last. The search group, the check box and the Ghost check lie
// beyond x = 476: only the wide (advanced) window shows them.
const ui::WindowSpec kMainWindow{
    kProductTitle, 0, 0, kSimpleWidth, kMainHeight, true,
    {
        {"restoreRadio", Kind::RadioButton, "还原分区(&R)", 16, 16, 104, 24, ui::kChecked | ui::kFirstInGroup},
        {"ghostBackupRadio", Kind::RadioButton, "备份分区(&Ghost)", 128, 16, 120, 24},
        {"wimBackupRadio", Kind::RadioButton, "备份分区(&Imagex)", 256, 16, 120, 24},
        {"imagePathGroup", Kind::GroupBox, "映像文件路径:", 16, 48, 440, 56},
        {"imagePathCombo", Kind::ComboBox, "", 8, 24, 352, 20, ui::kNone, "imagePathGroup"},
        {"savePathEdit", Kind::Edit, "", 8, 24, 352, 20, ui::kHidden, "imagePathGroup"},
        {"browseButton", Kind::Button, "浏 览", 368, 21, 64, 24, ui::kNone, "imagePathGroup"},
        {"partitionList", Kind::ListView, "", 16, 120, 440, 192, ui::kRowIcons, "", {},
         {{"盘符", 65}, {"序号", 50}, {"分区类型", 80}, {"格式", 50}, {"总大小", 80}, {"可用大小", 80}}},
        {"modeButton", Kind::Button, kToAdvancedCaption, 16, 328, 96, 32},
        {"redEnvelopeButton", Kind::Button, "点击领取红包", 152, 328, 80, 32},
        {"mainOkButton", Kind::Button, "确  定(&Y)", 256, 328, 96, 32},
        {"mainExitButton", Kind::Button, "退  出(&X)", 360, 328, 96, 32},
        {"statusBar", Kind::StatusBar, "", 0, 382, 469, 20, ui::kNone, "",
         {"Ver:" VREL_VERSION_TEXT, "支持安装所有(ISO)原版系统:WinXP/Vista/7/8/8.1/10/2003/2008/2008R2/2012/2012R2"},
         {},
         {100, -1}},
        {"imageSearchGroup", Kind::GroupBox, "映像文件搜索", 480, 16, 264, 264},
        {"depthLabel", Kind::Label, "目录深度:", 8, 24, 72, 16, ui::kNone, "imageSearchGroup"},
        {"depthEdit", Kind::Edit, "3", 64, 22, 40, 24, ui::kNone, "imageSearchGroup"},
        {"patternCombo", Kind::DropDownList, "", 128, 24, 64, 20, ui::kNone, "imageSearchGroup",
         {"*.GHO", "*.ISO", "*.WIM", "*.SWM", "*.ESD"}, {}, {}, 0},
        {"searchButton", Kind::Button, "搜 索", 200, 22, 56, 24, ui::kNone, "imageSearchGroup"},
        {"searchResultList", Kind::ListBox, "", 8, 56, 248, 200, ui::kNone, "imageSearchGroup"},
        {"homePageCheck", Kind::CheckBox, "支持作者,设定主页", 480, 296, 136, 24},
        {"checkGhostButton", Kind::Button, "检查Ghost完整性", 480, 328, 136, 32},
        {"isoContentList", Kind::ListBox, "", 584, 504, 248, 200, ui::kHidden},
    },
    // A burst of device events (a stick brings a disk, its volumes and their letters)
    // is listed once, after the last.
    {{kDeviceTimer, 700}}};

}  // namespace

// The second choice shows current installation media (an ESD, the first part of a
// split set), which the first one hides.
const ui::FileDialogSpec kRestoreImageDialog{
    false, "映像文件路径:", "*.GHO",
    "映像文件(*.GHO;*.WIM;*.ISO)|*.GHO;*.WIM;*.ISO|Windows安装映像(*.ESD;*.SWM)|*.ESD;*.SWM"};
const ui::FileDialogSpec kGhostSaveDialog{true, "请保存Gho映像文件:", "*.Gho", "Ghost映像(*.Gho)|*.Gho"};
const ui::FileDialogSpec kWimSaveDialog{true, "映像文件路径:", "*.WIM", "Imagex映像文件(*.WIM)|*.WIM"};
const ui::FileDialogSpec kCheckImageDialog{false, "请选择Gho映像文件:", "*.Gho", "Ghost映像(*.Gho)|*.Gho"};

MainWindow::MainWindow(core::Context& ctx)
    : ctx_(ctx),
      services_{ctx,
                {[&os = ctx.os] { restart(os); }, [&os = ctx.os] { shutDown(os); }},
                {[&os = ctx.os] { restartAfterCapture(os); }, [&os = ctx.os] { shutDownAfterCapture(os); }}} {
  // Before a run that writes, the chosen partition is looked up in a new listing.
  services_.partitionsNow = [this] { return disks::listPartitions(ctx_.os, ctx_.state.tools.listerPath); };
  services_.refreshPartitions = [this] { refreshPartitions(); };
}

const ui::WindowSpec& MainWindow::spec() const { return kMainWindow; }

MainWindow::Controls::Controls(ui::Window& w)
    : onekey::MainControls{w,
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
                           w.control("depthEdit")},
      statusBar(w.control("statusBar")),
      homePageCheck(w.control("homePageCheck")) {}

std::vector<ui::Handler> MainWindow::handlers() {
  using ui::Event;
  return {
      {"restoreRadio", Event::Click, [this] { showImageChoice(); }},
      {"ghostBackupRadio", Event::Click, [this] { showSavePath(); }},
      {"wimBackupRadio", Event::Click, [this] { showSavePath(); }},
      {"browseButton", Event::Click, [this] { browse(); }},
      {"partitionList", Event::RowSelected, [this] { search::selectTargetPartition(c_->partitionList, ctx_.state); }},
      {"modeButton", Event::Click, [this] { toggleMode(); }},
      {"redEnvelopeButton", Event::Click, [this] { ctx_.os.shell.openUrl(kHomePage); }},
      {"mainOkButton", Event::Click, [this] { whileRunning([this] { oneKeyAction(); }); }},
      {"mainExitButton", Event::Click, [this] { wim::programExit(ctx_); }},
      {"searchButton", Event::Click, [this] { searchImages(); }},
      {"searchResultList", Event::SelectionChanged, [this] { pickSearchResult(); }},
      {"homePageCheck", Event::Click, [this] { optionNotAvailable(); }},
      {"checkGhostButton", Event::Click, [this] { whileRunning([this] { checkGhostImage(); }); }},
      {"", Event::DevicesChanged, [this] { devicesChanged(); }},
      {kDeviceTimer, Event::Timer, [this] { refreshAfterDevices(); }},
  };
}

void MainWindow::onCreated(ui::Window& window) {
  window_ = &window;
  c_.emplace(window);
  // The start-up lists the partitions itself, pumping messages while the lister runs:
  // a device event meanwhile is listed after it.
  bool started = false;
  whileRunning([&] {
    started = runStartup(
      ctx_, window, c_->statusBar,
      StartupSteps{[this] { search::scanImagesAtStartup(ctx_.os, ctx_.ui, c_->imagePathCombo, ctx_.state); },
                   [this] {
                     listerSaid_ =
                         disks::fillPartitionList(ctx_.os, ctx_.state.tools.listerPath, c_->partitionList, colours_,
                                              &ctx_.state.listedRisks);
                   }});
  });
  if (!started) return;
  statusText_ = c_->statusBar.itemText(kStatusPane);
  showListerSaid();
}

void MainWindow::refreshPartitions() {
  if (!c_) return;
  // The window's messages are pumped while the lister runs: a refresh asked for then
  // would clear the list (and its risks) under the one being filled.
  if (listing_) return;
  listing_ = true;
  listerSaid_ = disks::fillPartitionList(ctx_.os, ctx_.state.tools.listerPath, c_->partitionList, colours_,
                                              &ctx_.state.listedRisks);
  listing_ = false;
  // The list has no selection now: nothing chosen before may reach a run.
  ctx_.state.target = core::Target{};
  showListerSaid();
}

void MainWindow::whileRunning(const std::function<void()>& run) {
  ++running_;
  run();
  --running_;
  // What came and went meanwhile is listed now.
  if (running_ == 0 && devicesChangedMeanwhile_ && window_) window_->startTimer(kDeviceTimer);
}

void MainWindow::devicesChanged() {
  if (!c_ || !window_) return;
  // A run's own partition stays as it was chosen: the run checks it again itself
  // before it writes, and the list is locked meanwhile.
  devicesChangedMeanwhile_ = true;
  if (running_ == 0) window_->startTimer(kDeviceTimer);  // restarted by every event of a burst
}

void MainWindow::refreshAfterDevices() {
  window_->stopTimer(kDeviceTimer);
  if (running_ > 0) return;  // whileRunning starts it again at the end
  if (listing_) {
    window_->startTimer(kDeviceTimer);  // after the listing under way
    return;
  }
  devicesChangedMeanwhile_ = false;
  const core::Target chosen = ctx_.state.target;
  refreshPartitions();
  // The same partition, as the user saw it, stays chosen; anything else is chosen anew.
  const int row = chosen.targetIndex.empty() ? -1 : search::rowOfTarget(c_->partitionList, chosen);
  if (row < 0) return;
  c_->partitionList.selectRow(row);
  search::selectTargetPartition(c_->partitionList, ctx_.state);
}

void MainWindow::showListerSaid() {
  // A disk the lister could not read has no rows: the status bar says it is there.
  std::string text;
  for (const std::string& line : listerSaid_) text += (text.empty() ? "" : "  ") + line;
  c_->statusBar.setItemText(kStatusPane, text.empty() ? statusText_ : text);
}

bool MainWindow::onCloseRequested(ui::Window& window) {
  const std::string question = "是否退出" + window.caption() + "？";
  const int answer = core::showBox(ctx_.ui, &window, question, core::kQuestionBox);
  // Yes leaves through the program exit (the ISO mounter must unmount first), which
  // ends the process; the window itself never closes on its own.
  if (answer == ui::kAnswerYes) wim::programExit(ctx_);
  return false;
}

void MainWindow::showImageChoice() {
  c_->savePathEdit.setVisible(false);
  c_->imagePathCombo.setVisible(true);
}

void MainWindow::showSavePath() {
  c_->savePathEdit.setVisible(true);
  c_->imagePathCombo.setVisible(false);
  c_->savePathEdit.setText("");
}

void MainWindow::browse() {
  if (c_->restoreRadio.checked()) {
    std::optional<std::string> chosen = ctx_.ui.fileDialog(window_, kRestoreImageDialog);
    if (chosen) search::selectOrAddImagePath(c_->imagePathCombo, *chosen);
    return;
  }
  const bool ghost = c_->ghostBackupRadio.checked();
  std::optional<std::string> chosen = ctx_.ui.fileDialog(window_, ghost ? kGhostSaveDialog : kWimSaveDialog);
  if (!chosen) return;
  c_->savePathEdit.setText(withImageExtension(*chosen, ghost ? ".GHO" : ".WIM"));
}

void MainWindow::toggleMode() {
  const bool toAdvanced = c_->modeButton.text() == kToAdvancedCaption;
  window_->setSize(toAdvanced ? kAdvancedWidth : kSimpleWidth, window_->height());
  c_->modeButton.setText(toAdvanced ? kToSimpleCaption : kToAdvancedCaption);
}

void MainWindow::optionNotAvailable() {
  if (!c_->homePageCheck.checked()) return;
  core::showBox(ctx_.ui, window_, kOptionClosedMessage, core::kWarningBox);
  c_->homePageCheck.setChecked(false);
}

void MainWindow::oneKeyAction() { onekey::OneKeyAction(services_, *c_); }

void MainWindow::searchImages() {
  searchHits_ = search::searchImages(ctx_.os, ctx_.ui,
                                     {c_->searchResultList, c_->depthEdit, c_->patternCombo, c_->searchButton});
}

void MainWindow::pickSearchResult() {
  search::pickSearchResult(c_->restoreRadio, c_->searchResultList, c_->imagePathCombo, searchHits_);
}

void MainWindow::checkGhostImage() {
  std::optional<std::string> chosen = ctx_.ui.fileDialog(window_, kCheckImageDialog);
  if (chosen) onekey::checkGhostImage(services_, *window_, *chosen);
}

std::string withImageExtension(const std::string& path, std::string_view extension) {
  if (gbk::endsWith(path, extension, true)) return path;
  return path + std::string(extension);
}

}  // namespace app

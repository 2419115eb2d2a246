#include "wim/restore_window.h"

#include "disks/volumes.h"
#include "platform/gbk.h"
#include "wim/engine_guard.h"
#include "wim/progress_monitor.h"
#include "wim/wim_info.h"

namespace wim {

namespace {

using ui::Kind;

const ui::WindowSpec kRestoreWindow{
    "Vevido Ziruzo", 50, 50, 467, 297, false,
    {
        {"iconPicture", Kind::Picture, "", 16, 8, 48, 48},
        {"prompt", Kind::Label, "程序将执行还原操作,您确定吗？", 80, 16, 184, 16},
        {"targetLabel", Kind::Label, "", 80, 40, 184, 16},
        {"imageLabel", Kind::Label, "", 80, 64, 328, 16},
        {"volumeCaption", Kind::Label, "分卷名称:", 80, 90, 56, 16},
        {"volumeCombo", Kind::DropDownList, "", 136, 88, 312, 20},
        {"formatCaption", Kind::Label, "格 式 化:", 80, 118, 69, 24},
        {"formatCombo", Kind::DropDownList, "", 136, 120, 93, 20, ui::kNone, "",
         {"手动 Format", "自动 NTFS", "跳过 None"}, {}, {}, 1},
        {"addBootCheck", Kind::CheckBox, "添加引导:", 256, 123, 80, 16, ui::kChecked},
        {"bootTargetCombo", Kind::DropDownList, "", 336, 120, 113, 20},
        {"progressCaption", Kind::Label, "安装进度:", 16, 152, 64, 16},
        {"percentLabel", Kind::Label, "  0%", 72, 152, 104, 16},
        {"elapsedLabel", Kind::Label, "已用时间: 00:00:00", 168, 152, 120, 16},
        {"remainingLabel", Kind::Label, "剩余时间: 00:00:00", 312, 152, 136, 16},
        {"progressBar", Kind::ProgressBar, "", 16, 176, 432, 24},
        {"statusLabel", Kind::Label, "", 16, 208, 240, 24},
        {"okButton", Kind::Button, "确  定(&C)", 256, 224, 88, 32},
        {"cancelButton", Kind::Button, kIdleStopCaption, 360, 224, 88, 32},
        {"restartCheck", Kind::CheckBox, "完成后重启", 16, 240, 88, 16, ui::kChecked},
        {"shutdownCheck", Kind::CheckBox, "完成后关机", 112, 240, 88, 16},
        // Below the client area: the engine's console text, never seen.
        {"engineLogBox", Kind::MultiLineEdit, "", 0, 344, 472, 240},
    },
    runTimers()};

constexpr unsigned kStop = ui::kOk | ui::kIconStop | ui::kTaskModal;

}  // namespace

std::string applyCommandLine(const std::string& enginePath, const std::string& imagePath, int imageIndex,
                             const std::string& targetDrive) {
  return enginePath + " /apply \"" + imagePath + "\" " + std::to_string(imageIndex) + " " + targetDrive;
}

bool imageOnTarget(const std::string& imagePath, const std::string& targetDrive) {
  if (imagePath.size() < 2 || imagePath[1] != ':' || targetDrive.empty()) return false;
  return gbk::asciiUpper(imagePath[0]) == gbk::asciiUpper(targetDrive[0]);
}

std::vector<std::string> bootTargetRoots(platform::Platform& os) {
  std::vector<std::string> roots, kept;
  disks::driveRoots(os, roots, disks::kFixedRoots);
  for (const std::string& root : roots)
    if (root.empty() || gbk::asciiUpper(root[0]) != 'X') kept.push_back(root);
  return kept;
}

RestoreWindow::RestoreWindow(core::Context& ctx, const ui::Control& partitionList, RestoreHooks hooks)
    : ctx_(ctx), partitionList_(partitionList), hooks_(std::move(hooks)), run_(ctx) {}

RestoreWindow::~RestoreWindow() = default;

const ui::WindowSpec& RestoreWindow::spec() const { return kRestoreWindow; }

void RestoreWindow::onCreated(ui::Window& window) {
  window_ = &window;
  auto& w = window;
  c_.reset(new RestoreControls{
      w.control("targetLabel"),    w.control("imageLabel"),    w.control("volumeCombo"),
      w.control("formatCombo"),    w.control("addBootCheck"),  w.control("bootTargetCombo"),
      w.control("percentLabel"),   w.control("elapsedLabel"),  w.control("remainingLabel"),
      w.control("progressBar"),    w.control("statusLabel"),   w.control("okButton"),
      w.control("cancelButton"),   w.control("restartCheck"),  w.control("shutdownCheck"),
      w.control("engineLogBox")});
  RestoreControls& c = *c_;
  if (hooks_.fillBootTargets) {
    hooks_.fillBootTargets(c);
  } else {
    for (const std::string& root : bootTargetRoots(ctx_.os)) c.bootTargetCombo.addItem(root);
    disks::markDefaultBootTarget(ctx_.os, partitionList_, ctx_.state.targetDrive, c.bootTargetCombo);
  }
  c.targetLabel.setText("还原分区:" + ctx_.state.targetDisplay);
  c.imageLabel.setText("映像文件:" + ctx_.state.imagePath);
  if (listWimVolumes(ctx_, c.volumeCombo, &window) == VolumeListing::Refused) {
    window.close();
    return;
  }
  ctx_.state.imageIndex = selectDefaultImage(c.volumeCombo);
}

std::vector<ui::Handler> RestoreWindow::handlers() {
  using ui::Event;
  std::vector<ui::Handler> rows = runTimerHandlers([this] { pollApplyFinished(); }, c_, kApplyMarkers, applySeconds_);
  rows.insert(rows.end(),
              {
                  {"volumeCombo", Event::SelectionChanged,
                   [this] { ctx_.state.imageIndex = imageIndexOfSelection(c_->volumeCombo.selection()); }},
                  {"okButton", Event::Click, [this] { confirm(); }},
                  {"cancelButton", Event::Click, [this] { stopOrClose(); }},
                  {"addBootCheck", Event::Click, [this] { c_->bootTargetCombo.setEnabled(c_->addBootCheck.checked()); }},
                  // The two power choices exclude each other.
                  {"restartCheck", Event::Click,
                   [this] {
                     if (c_->restartCheck.checked()) c_->shutdownCheck.setChecked(false);
                   }},
                  {"shutdownCheck", Event::Click,
                   [this] {
                     if (c_->shutdownCheck.checked()) c_->restartCheck.setChecked(false);
                   }},
              });
  return rows;
}

bool RestoreWindow::onCloseRequested(ui::Window&) {
  // While an engine runs, closing the window is the stop button: the engine is never
  // left running without a window. The cancelled path closes the window itself.
  if (run_.active()) {
    stopOrClose();
    return false;
  }
  stopRunTimers(*window_);
  return true;
}

void RestoreWindow::confirm() {
  // Without a letter there is nothing to format or apply to; boot repair would even
  // work on the current drive's boot files.
  if (ctx_.state.targetDrive.empty()) {
    ctx_.ui.messageBox(window_, noDriveLetterMessage(ctx_.state.targetDisplay, true), kMessageTitle, kStop);
    return;
  }
  // Refused before the format too: formatting that partition destroys the image as well.
  if (imageOnTarget(ctx_.state.imagePath, ctx_.state.targetDrive)) {
    ctx_.ui.messageBox(window_, kImageOnTargetMessage, kMessageTitle, kStop);
    return;
  }
  if (!confirmNoOtherEngine(ctx_, window_, kRestoreBusyQuestion)) return;
  if (hooks_.formatStep) {
    hooks_.formatStep(window_, *c_, [this] { startWimApply(); });
  } else {
    lockChoices();
    startWimApply();
  }
}

void RestoreWindow::lockChoices() {
  RestoreControls& c = *c_;
  c.volumeCombo.setEnabled(false);
  c.formatCombo.setEnabled(false);
  c.bootTargetCombo.setEnabled(false);
  c.addBootCheck.setEnabled(false);
  c.okButton.setEnabled(false);
}

void RestoreWindow::unlockChoices() {
  RestoreControls& c = *c_;
  c.okButton.setVisible(true);
  c.okButton.setEnabled(true);
  c.volumeCombo.setEnabled(true);
  c.formatCombo.setEnabled(true);
  c.addBootCheck.setEnabled(true);
  c.cancelButton.setEnabled(true);
  c.bootTargetCombo.setEnabled(c.addBootCheck.checked());
}

void RestoreWindow::resetProgress() {
  RestoreControls& c = *c_;
  c.percentLabel.setText("  0%");
  c.elapsedLabel.setText("已用时间: 00:00:00");
  c.progressBar.setPosition(0);
}

void RestoreWindow::startWimApply() {
  RestoreControls& c = *c_;
  core::AppState& s = ctx_.state;
  if (imageOnTarget(s.imagePath, s.targetDrive)) {
    ctx_.ui.messageBox(window_, kImageOnTargetMessage, kMessageTitle, kStop);
    unlockChoices();
    return;
  }
  c.engineLogBox.setText("");
  c.elapsedLabel.setText("已用时间: 00:00:00");
  run_.start(applyCommandLine(s.tools.enginePath, s.imagePath, s.imageIndex, s.targetDrive), *window_,
             c.engineLogBox);
  c.cancelButton.setText(kRunningStopCaption);
  c.okButton.setEnabled(true);
  c.remainingLabel.setText("剩余时间:正在计算");
  c.statusLabel.setText("正在应用映像到" + s.targetDisplay + "...");
  startRunTimers(*window_);
  applySeconds_ = 0;
  c.okButton.setVisible(false);
  c.volumeCombo.setEnabled(false);
  c.formatCombo.setEnabled(false);
  c.bootTargetCombo.setEnabled(false);
  c.addBootCheck.setEnabled(false);
  c.cancelButton.setEnabled(true);
  c.percentLabel.setText("  0%");
  applyCancelled_ = false;
}

void RestoreWindow::pollApplyFinished() {
  RestoreControls& c = *c_;
  const std::string log = c.engineLogBox.text();
  if (!run_.finished(log)) return;
  stopRunTimers(*window_);
  run_.close();
  c.cancelButton.setText(kIdleStopCaption);
  c.remainingLabel.setText("剩余时间: 00:00:00");
  if (applyCancelled_) {
    resetProgress();
    c.statusLabel.setText(kApplyCancelled);
    unlockChoices();
    ctx_.ui.messageBox(window_, kApplyCancelled, kMessageTitle, kStop);
    window_->close();
    return;
  }
  if (!gbk::contains(gbk::toUpperAscii(log), "SUCCESSFULLY")) {
    resetProgress();
    unlockChoices();
    c.statusLabel.setText(kApplyFailed);
    const std::string& drive = ctx_.state.targetDrive;
    if (!drive.empty()) ctx_.os.files.writeFile(std::string(1, drive[0]) + kApplyLogName, log);
    ctx_.ui.messageBox(window_, kApplyFailed, kMessageTitle, kStop);
    return;
  }
  finishSucceeded();
}

void RestoreWindow::finishSucceeded() {
  RestoreControls& c = *c_;
  core::AppState& s = ctx_.state;
  showComplete(c.percentLabel, c.progressBar);
  c.okButton.setVisible(true);
  if (c.addBootCheck.checked() && hooks_.repairBoot) hooks_.repairBoot(window_, c);
  unlockChoices();
  c.statusLabel.setText(kApplyDone);
  if (c.restartCheck.checked()) {
    if (hooks_.restart) hooks_.restart();
    return;
  }
  if (c.shutdownCheck.checked()) {
    if (hooks_.shutDown) hooks_.shutDown();
    return;
  }
  const std::uint64_t size = ctx_.os.files.fileSize(s.imagePath).value_or(0);
  const std::string volume = c.volumeCombo.text();
  const std::string summary = std::string(kApplyDone) + "\r\n安装分区: " + s.targetDisplay + "\r\n映像大小: " +
                              megabytesText(size) + " MB\r\n" + c.elapsedLabel.text() + "\r\n映像名称: " +
                              fileNameOf(s.imagePath) + "\r\n分卷编号: " + std::to_string(s.imageIndex) +
                              "\r\n分卷名称: " + (volume.size() > 3 ? volume.substr(3) : std::string());
  ctx_.ui.messageBox(window_, summary, kMessageTitle, ui::kOk | ui::kIconInformation | ui::kTaskModal);
  endProgram(ctx_);
}

void RestoreWindow::stopOrClose() {
  if (!run_.active()) {
    stopRunTimers(*window_);
    window_->close();
    return;
  }
  if (run_.askToStop(*window_, kApplyStopQuestion)) applyCancelled_ = true;
}

void restoreProgressWindow(core::Context& ctx, ui::Window* owner, const ui::Control& partitionList,
                           RestoreHooks hooks) {
  RestoreWindow window(ctx, partitionList, std::move(hooks));
  ctx.ui.runModal(window, owner);
}

}  // namespace wim

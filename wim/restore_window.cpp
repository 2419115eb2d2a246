#include "wim/restore_window.h"

#include "core/image_sets.h"
#include "core/message_box.h"
#include "core/path_and_size.h"
#include "platform/gbk.h"
#include "prep/boot_repair.h"
#include "prep/esp.h"
#include "prep/format.h"
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


}  // namespace

std::string applyCommandLine(const std::string& enginePath, const std::string& imagePath, int imageIndex,
                             const std::string& targetDrive, const std::string& otherPartsPattern) {
  std::string line = enginePath + " /apply \"" + imagePath + "\" " + std::to_string(imageIndex) + " " + targetDrive;
  if (!otherPartsPattern.empty()) line += " /ref \"" + otherPartsPattern + "\"";
  return line;
}

RestoreWindow::RestoreWindow(core::Context& ctx, const ui::Control& partitionList, core::Request request,
                             PowerHooks hooks)
    : ctx_(ctx), partitionList_(partitionList), request_(std::move(request)), hooks_(std::move(hooks)), run_(ctx) {}

RestoreWindow::~RestoreWindow() = default;

const ui::WindowSpec& RestoreWindow::spec() const { return kRestoreWindow; }

void RestoreWindow::onCreated(ui::Window& window) {
  window_ = &window;
  auto& w = window;
  c_.reset(new RestoreControls{runControlsOf(w), w.control("targetLabel"), w.control("imageLabel"),
                               w.control("volumeCombo"), w.control("formatCombo"), w.control("addBootCheck"),
                               w.control("bootTargetCombo")});
  RestoreControls& c = *c_;
  prep::fillBootTargetCombo(ctx_, request_.target, partitionList_, c.bootTargetCombo);
  c.targetLabel.setText("还原分区:" + request_.target.targetDisplay);
  c.imageLabel.setText("映像文件:" + request_.imagePath);
  if (listWimVolumes(ctx_, request_.imagePath, c.volumeCombo, &window) == VolumeListing::Refused) {
    window.close();
    return;
  }
  request_.imageIndex = selectDefaultImage(c.volumeCombo);
}

std::vector<ui::Handler> RestoreWindow::handlers() {
  using ui::Event;
  std::vector<ui::Handler> rows = runTimerHandlers([this] { pollApplyFinished(); }, c_, kApplyMarkers, applySeconds_);
  rows.insert(rows.end(),
              {
                  {"volumeCombo", Event::SelectionChanged,
                   [this] { request_.imageIndex = imageIndexOfEntry(c_->volumeCombo.text()); }},
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
  // The cancelled path closes the window itself.
  return mayCloseProgressWindow(run_, *window_, [this] { stopOrClose(); });
}

void RestoreWindow::confirm() {
  RestoreControls& c = *c_;
  request_.options.format = static_cast<core::FormatChoice>(c.formatCombo.selection());
  if (!confirmNoOtherEngine(ctx_, window_, kRestoreBusyQuestion)) return;
  if (refusedAtConfirm(ctx_, window_, request_)) return;
  if (refusedAsTooLong(ctx_, window_, applyLine(), "映像无法还原。", "请把映像文件移到路径较短的文件夹后再试。")) return;
  prep::formatStep(ctx_, request_,
                   prep::RestoreControls{window_, c.volumeCombo, c.formatCombo, c.bootTargetCombo, c.addBootCheck,
                                         c.okButton, c.cancelButton, c.statusLabel},
                   [this] { startWimApply(); });
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

std::string RestoreWindow::applyLine() const {
  const core::Request& r = request_;
  // A split set's other parts are named to the engine by the first part's pattern.
  const std::string otherParts =
      core::isSplitPart(r.imagePath) ? core::splitPartsPattern(ctx_.os.files, r.imagePath) : std::string();
  return applyCommandLine(enginePathFor(ctx_), r.imagePath, r.imageIndex, r.target.targetDrive, otherParts);
}

void RestoreWindow::startWimApply() {
  RestoreControls& c = *c_;
  const core::Request& r = request_;
  c.engineLogBox.setText("");
  c.elapsedLabel.setText("已用时间: 00:00:00");
  const std::string line = applyLine();
  applyLog_ = core::OperationRecord{};
  applyLog_.operation = "WIM 应用";
  applyLog_.image = r.imagePath + " (分卷 " + std::to_string(r.imageIndex) + ")";
  applyLog_.target = core::targetText(r.target);
  applyLog_.options = line;
  applyLog_.start = ctx_.os.system.localTime();
  // The word in any letter case, as the engine's text is read upper-cased.
  run_.start(line, *window_, c.engineLogBox, {"SUCCESSFULLY", true});
  c.cancelButton.setText(kRunningStopCaption);
  c.okButton.setEnabled(true);
  c.remainingLabel.setText("剩余时间:正在计算");
  c.statusLabel.setText("正在应用映像到" + r.target.targetDisplay + "...");
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
  if (!run_.finished()) return;
  const std::string log = c.engineLogBox.text();
  stopRunTimers(*window_);
  run_.close();
  c.cancelButton.setText(kIdleStopCaption);
  c.remainingLabel.setText("剩余时间: 00:00:00");
  if (applyCancelled_) {
    logApply(false, kApplyCancelled, log);
    resetProgress();
    c.statusLabel.setText(kApplyCancelled);
    unlockChoices();
    core::showBox(ctx_.ui, window_, kApplyCancelled, core::kErrorBox);
    window_->close();
    return;
  }
  // Judged by what passed the reader, which the box's cap cannot cut.
  if (!run_.succeeded()) {
    logApply(false, kApplyFailed, log);
    resetProgress();
    unlockChoices();
    c.statusLabel.setText(kApplyFailed);
    const std::string& drive = request_.target.targetDrive;
    if (!drive.empty()) ctx_.os.files.writeFile(std::string(1, drive[0]) + kApplyLogName, log);
    std::string message = kApplyFailed;
    if (run_.engineNeverStarted())
      message += "\r\n命令解释器没有启动 " + engineName(ctx_.state) + ",映像没有应用到磁盘。";
    core::showBox(ctx_.ui, window_, message, core::kErrorBox);
    return;
  }
  finishSucceeded();
}

void RestoreWindow::logApply(bool succeeded, const std::string& outcome, const std::string& engineText) {
  applyLog_.succeeded = succeeded;
  applyLog_.outcome = outcome;
  applyLog_.engineMessages = engineText;
  core::logFinishedOperation(ctx_.os, applyLog_);
}

void RestoreWindow::finishSucceeded() {
  RestoreControls& c = *c_;
  const core::Request& r = request_;
  logApply(true, kApplyDone);
  showComplete(c.percentLabel, c.progressBar);
  c.okButton.setVisible(true);
  if (c.addBootCheck.checked()) prep::repairBoot(ctx_, r.target, c.statusLabel, c.bootTargetCombo, window_);
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
  // A split set's size is that of all its parts.
  const std::uint64_t size = core::imageSetSize(ctx_.os.files, r.imagePath);
  const std::string volume = c.volumeCombo.text();
  const std::string summary = std::string(kApplyDone) + "\r\n安装分区: " + r.target.targetDisplay + "\r\n映像大小: " +
                              core::sizeInMegabytesText(size) + " MB\r\n" + c.elapsedLabel.text() + "\r\n映像名称: " +
                              core::fileNameOf(r.imagePath) + "\r\n分卷编号: " + std::to_string(r.imageIndex) +
                              "\r\n分卷名称: " + (volume.size() > 3 ? volume.substr(3) : std::string());
  core::showBox(ctx_.ui, window_, summary, core::kInformationBox);
  programExit(ctx_);
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
                           core::Request request, PowerHooks hooks) {
  {
    RestoreWindow window(ctx, partitionList, std::move(request), std::move(hooks));
    ctx.ui.runModal(window, owner);
  }
  prep::releaseUnusedEspLetter(ctx.os, ctx.state);
}

}  // namespace wim

#include "wim/backup_window.h"

#include "core/message_box.h"
#include "core/path_and_size.h"
#include "platform/gbk.h"
#include "wim/date_time.h"
#include "wim/engine_guard.h"
#include "wim/progress_monitor.h"

namespace wim {

namespace {

using ui::Kind;

const ui::WindowSpec kBackupWindow{
    "Vevido Ziruzo", 50, 50, 467, 400, false,
    {
        {"iconPicture", Kind::Picture, "", 16, 8, 48, 48},
        {"prompt", Kind::Label, "程序将执行备份操作,您确定吗？", 80, 16, 184, 16},
        {"sourceLabel", Kind::Label, "", 80, 40, 184, 16},
        {"destinationLabel", Kind::Label, "", 80, 64, 328, 16},
        {"nameCaption", Kind::Label, "映像名称:", 80, 90, 56, 16},
        {"imageNameEdit", Kind::Edit, "", 136, 88, 312, 20},
        {"compressionCaption", Kind::Label, "压缩率:", 92, 120, 48, 16},
        {"compressionCombo", Kind::DropDownList, "", 136, 120, 88, 20, ui::kNone, "",
         {"不压缩", "快速压缩", "最高压缩"}, {}, {}, 2},
        {"flagCaption", Kind::Label, "系统标志:", 256, 120, 64, 16},
        {"systemFlagCombo", Kind::DropDownList, "", 312, 118, 136, 20, ui::kNone, "",
         {"    ", "HomeBasic", "HomePremium", "Starter", "Ultimate", "Business", "Enterprise", "ServerDatacenter",
          "ServerEnterprise", "ServerStandard", "Windows PE"},
         {}, {}, 0},
        {"descriptionCaption", Kind::Label, "备  注:", 90, 152, 48, 16},
        {"descriptionEdit", Kind::MultiLineEdit, "", 136, 152, 312, 96},
        {"progressCaption", Kind::Label, "备份进度:", 16, 256, 64, 16},
        {"percentLabel", Kind::Label, "  0%", 72, 256, 96, 16},
        {"elapsedLabel", Kind::Label, "已用时间: 00:00:00", 168, 256, 120, 16},
        {"remainingLabel", Kind::Label, "剩余时间: 00:00:00", 312, 256, 136, 16},
        {"progressBar", Kind::ProgressBar, "", 16, 280, 432, 24},
        {"statusLabel", Kind::Label, "", 16, 312, 240, 24},
        {"okButton", Kind::Button, "确  定(&C)", 256, 328, 88, 32},
        {"cancelButton", Kind::Button, kIdleStopCaption, 360, 328, 88, 32},
        {"restartCheck", Kind::CheckBox, "完成后重启", 16, 336, 88, 16, ui::kChecked},
        {"shutdownCheck", Kind::CheckBox, "完成后关机", 112, 336, 88, 16},
        // Outside the client area: the engine's console text, never seen.
        {"engineLogBox", Kind::MultiLineEdit, "", -8, 432, 472, 240},
    },
    runTimers()};


// What goes between the quotes the command line puts around a name or a description,
// so that the engine receives the text as typed. A quote or a line break would end the
// argument or the line inside the interpreter. The interpreter replaces %NAME% even
// inside quotes, so each "%" stands outside them ("a"%"b" is the one argument a%b):
// the text between two "%" then holds quotes, which no variable's name does. By the
// engine's argument rules backslashes right before a quote escape it: those before a
// quote that ends the text are doubled.
std::string insideQuotes(std::string_view text) {
  std::string out;
  std::size_t backslashes = 0;  // the backslash characters just written
  for (std::size_t i = 0; i < text.size(); i += gbk::charLength(text, i)) {
    const std::size_t n = gbk::charLength(text, i);
    const char c = n == 1 ? text[i] : '\0';
    if (c == '"') out += '\'';
    else if (c == '\r' || c == '\n') {
      if (c == '\n' || i + 1 >= text.size() || text[i + 1] != '\n') out += ' ';
    } else if (c == '%') {
      out.append(backslashes, '\\');
      out += "\"%\"";
    } else
      out.append(text.substr(i, n));
    backslashes = c == '\\' ? backslashes + 1 : 0;
  }
  out.append(backslashes, '\\');
  return out;
}

}  // namespace

std::string compressionSwitchFor(int position) {
  if (position == 0) return " /compress none";
  if (position == 1) return " /compress fast";
  return " /compress Maximum";
}

std::string captureCommandLine(const CaptureLine& l) {
  return l.enginePath + " /capture " + l.source + " \"" + l.savePath + "\" \"" + insideQuotes(l.imageName) +
         "\"  \"" + insideQuotes(l.description) + "\" /flags \"" + l.flag + "\"" + l.compressionSwitch + " /temp " +
         scratchFolderFor(l.savePath);
}

BackupWindow::BackupWindow(core::Context& ctx, core::Request request, std::string mainCaption, PowerHooks hooks)
    : ctx_(ctx), request_(std::move(request)), mainCaption_(std::move(mainCaption)), hooks_(std::move(hooks)),
      run_(ctx) {}

BackupWindow::~BackupWindow() = default;

const ui::WindowSpec& BackupWindow::spec() const { return kBackupWindow; }

void BackupWindow::onCreated(ui::Window& window) {
  window_ = &window;
  auto& w = window;
  c_.reset(new BackupControls{runControlsOf(w), w.control("sourceLabel"), w.control("destinationLabel"),
                              w.control("imageNameEdit"), w.control("compressionCombo"), w.control("systemFlagCombo"),
                              w.control("descriptionEdit")});
  BackupControls& c = *c_;
  c.descriptionEdit.setText("本映像卷由" + mainCaption_ + "于" + formatDateTime(ctx_.os.system, std::nullopt, 1, 0) +
                            "生成。");
  c.sourceLabel.setText("备份分区:" + request_.target.targetDisplay);
  c.destinationLabel.setText("保存路径:" + request_.imagePath);
  c.imageNameEdit.setText("Win_Bak_" + formatDateTime(ctx_.os.system, std::nullopt, 1, 0));
  compressionSwitch_ = " /compress Maximum";
}

std::vector<ui::Handler> BackupWindow::handlers() {
  using ui::Event;
  std::vector<ui::Handler> rows =
      runTimerHandlers([this] { pollCaptureFinished(); }, c_, kCaptureMarkers, captureSeconds_);
  rows.insert(rows.end(), {
                              {"compressionCombo", Event::SelectionChanged,
                               [this] { compressionSwitch_ = compressionSwitchFor(c_->compressionCombo.selection()); }},
                              {"okButton", Event::Click, [this] { confirm(); }},
                              {"cancelButton", Event::Click, [this] { stopOrClose(); }},
                          });
  return rows;
}

bool BackupWindow::onCloseRequested(ui::Window&) {
  return mayCloseProgressWindow(run_, *window_, [this] { stopOrClose(); });
}

CaptureLine BackupWindow::captureLine() const {
  const BackupControls& c = *c_;
  std::string name = c.imageNameEdit.text();
  if (name.empty()) name = " ";
  return {enginePathFor(ctx_), request_.target.targetDrive, request_.imagePath, name, c.descriptionEdit.text(),
          c.systemFlagCombo.text(), compressionSwitch_};
}

void BackupWindow::confirm() {
  if (!confirmNoOtherEngine(ctx_, window_, captureBusyQuestion(engineName(ctx_.state)))) return;
  if (refusedAtConfirm(ctx_, window_, request_)) return;
  if (refusedAsTooLong(ctx_, window_, captureCommandLine(captureLine()), "无法备份。", "请缩短映像名称或备注后再试。"))
    return;
  startWimCapture();
}

void BackupWindow::startWimCapture() {
  BackupControls& c = *c_;
  const core::Target& target = request_.target;
  const std::string scratch = scratchFolderFor(request_.imagePath);
  if (!ctx_.os.files.isDirectory(scratch)) {
    ctx_.os.files.createDirectory(scratch);
    ctx_.os.files.writeFile(scratch + "\\" + kScratchMarkerName, kScratchMarkerName);
  }
  // Only a file this capture creates may be deleted when it fails.
  destinationExisted_ = ctx_.os.files.exists(request_.imagePath);
  const CaptureLine line = captureLine();
  captureLog_ = core::OperationRecord{};
  captureLog_.operation = "WIM 捕获";
  captureLog_.image = request_.imagePath;
  captureLog_.target = core::targetText(target);
  captureLog_.options = captureCommandLine(line);
  captureLog_.start = ctx_.os.system.localTime();
  // The engine's own letter case: "Successfully imaged" exactly.
  run_.start(captureLog_.options, *window_, c.engineLogBox, {"Successfully imaged", false},
             runner::OutputWatch::Word{kEngineImageDamagedWord, false});
  c.statusLabel.setText("正在备份磁盘" + target.targetDisplay + "...");
  startRunTimers(*window_);
  c.elapsedLabel.setText("已用时间:00:00:00");
  captureSeconds_ = 0;
  c.imageNameEdit.setEnabled(false);
  c.compressionCombo.setEnabled(false);
  c.elapsedLabel.setVisible(true);
  c.remainingLabel.setVisible(true);
  c.systemFlagCombo.setEnabled(false);
  c.descriptionEdit.setEnabled(false);
  captureCancelled_ = false;
  c.okButton.setVisible(false);
  c.cancelButton.setText(kRunningStopCaption);
}

void BackupWindow::logCapture(bool succeeded, const std::string& outcome, const std::string& engineText) {
  captureLog_.succeeded = succeeded;
  captureLog_.outcome = outcome;
  captureLog_.engineMessages = engineText;
  core::logFinishedOperation(ctx_.os, captureLog_);
}

void BackupWindow::enableInputs() {
  BackupControls& c = *c_;
  c.imageNameEdit.setEnabled(true);
  c.compressionCombo.setEnabled(true);
  c.systemFlagCombo.setEnabled(true);
  c.descriptionEdit.setEnabled(true);
}

void BackupWindow::removeEngineScratch() {
  const std::string scratch = request_.imagePath + kEngineScratchSuffix;
  if (ctx_.os.files.exists(scratch)) ctx_.os.files.deleteFile(scratch);
}

void BackupWindow::pollCaptureFinished() {
  BackupControls& c = *c_;
  const core::Target& target = request_.target;
  if (!run_.finished()) return;
  // What the box still holds, for the log (the box keeps its last 30000 bytes).
  const std::string log = c.engineLogBox.text();
  stopRunTimers(*window_);
  run_.close();
  c.cancelButton.setText(kIdleStopCaption);
  c.okButton.setVisible(true);
  ctx_.os.files.removeTree(scratchFolderFor(request_.imagePath));
  if (captureCancelled_) {
    logCapture(false, kCaptureCancelled, log);
    c.statusLabel.setText(kCaptureCancelled);
    c.progressBar.setPosition(0);
    enableInputs();
    // A killed engine leaves its half-written image behind.
    removeEngineScratch();
    core::showBox(ctx_.ui, window_, kCaptureCancelled, core::kErrorBox);
    window_->close();
    return;
  }
  // Judged by what passed the reader, which the box's cap cannot cut.
  if (!run_.succeeded()) {
    const bool isFile = ctx_.os.files.exists(request_.imagePath) && !ctx_.os.files.isDirectory(request_.imagePath);
    // Written whole and then found damaged by the engine's read-back: kept for the user
    // to look at, like a GHO image that fails its check. Anything else is unfinished.
    const bool keptDamaged = run_.sawFailureWord() && isFile;
    std::string message = kCaptureFailed;
    if (keptDamaged)
      message += "\r\n备份映像 " + request_.imagePath + " 已损坏,不能通过完整性检查,不能用来还原！映像文件已保留,请重新备份。";
    if (run_.engineNeverStarted()) message += "\r\n命令解释器没有启动 " + engineName(ctx_.state) + ",没有生成映像文件。";
    logCapture(false, message, log);
    c.statusLabel.setText(kCaptureFailed);
    c.progressBar.setPosition(0);
    enableInputs();
    // A file that was there before this capture (an older backup) is never deleted.
    if (!keptDamaged && !destinationExisted_ && isFile) ctx_.os.files.deleteFile(request_.imagePath);
    removeEngineScratch();
    core::showBox(ctx_.ui, window_, message, core::kErrorBox);
    return;
  }
  enableInputs();
  showComplete(c.percentLabel, c.progressBar);
  c.remainingLabel.setText("剩余时间:00:00:00");
  c.statusLabel.setText("Imagex备份 " + target.targetDisplay + " 完成！");
  logCapture(true, c.statusLabel.text());
  if (c.restartCheck.checked()) {
    if (hooks_.restart) hooks_.restart();
    return;
  }
  if (c.shutdownCheck.checked()) {
    if (hooks_.shutDown) hooks_.shutDown();
    return;
  }
  const std::uint64_t size = core::fileSizeOf(ctx_.os.files, request_.imagePath);
  const std::string sizeLine = "大       小: " + core::wholeMegabytesText(size) + " MB";
  const std::string summary = "Imagex备份磁盘完成！\r\n\r\n备份分区: " + target.targetDisplay + "\r\n\r\n映像大小: " +
                              core::sizeInMegabytesText(size) + " MB\r\n\r\n保存位置: " + request_.imagePath + "\r\n\r\n" + sizeLine +
                              "\r\n\r\n备份日期: " + formatDateTime(ctx_.os.system, std::nullopt, 1, 0);
  core::showBox(ctx_.ui, window_, summary, core::kInformationBox);
  programExit(ctx_);
}

void BackupWindow::stopOrClose() {
  if (!run_.active()) {
    stopRunTimers(*window_);
    run_.close();
    window_->close();
    return;
  }
  if (run_.askToStop(*window_, kCaptureStopQuestion)) captureCancelled_ = true;
}

void backupProgressWindow(core::Context& ctx, ui::Window* owner, core::Request request,
                          const std::string& mainCaption, PowerHooks hooks) {
  BackupWindow window(ctx, std::move(request), mainCaption, std::move(hooks));
  ctx.ui.runModal(window, owner);
}

}  // namespace wim

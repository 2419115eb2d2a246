#include "prep/format.h"

#include "core/message_box.h"
#include "core/operation_log.h"
#include "core/path_and_size.h"
#include "platform/gbk.h"
#include "runner/command_runner.h"

namespace prep {

namespace {

constexpr char kFormatting[] = "正在格式化....";
constexpr char kMarkFileName[] = "MARK.exe";
constexpr char kNoBootTargetChosen[] =
    "没有选择引导分区！\r\n请在“添加引导”右侧的列表中选择要写入引导文件的分区,或取消“添加引导”。";

int say(core::Context& ctx, const RestoreControls& controls, const std::string& text, unsigned style) {
  return core::showBox(ctx.ui, controls.window, text, style);
}

void reportFormatFailure(core::Context& ctx, const core::Target& target, const RestoreControls& controls) {
  unlockRestoreControls(controls);
  controls.statusLabel.setText("格式化 " + target.targetDisplay + " 失败！");
  say(ctx, controls, "格式化 " + target.targetDisplay + " 失败,请重试！", ui::kOk | ui::kIconStop);
}

}  // namespace

std::string formatRefusal(core::Context& ctx, const core::Target& target) {
  const char letter = core::driveLetterOf(target.targetDrive);
  if (letter == 0 || letter != core::driveLetterOf(ctx.os.system.windowsDirectory())) return {};
  return "分区 " + target.targetDisplay + " 是正在运行的系统所在的分区,不能格式化！";
}

void formatStep(core::Context& ctx, const core::Request& request, const RestoreControls& controls,
                const std::function<void()>& startWimApply) {
  // Boot repair runs after a long apply; a missing boot target is asked for now.
  if (controls.addBootCheck.checked() && controls.bootTargetCombo.selection() < 0) {
    say(ctx, controls, kNoBootTargetChosen, ui::kOk | ui::kIconExclamation);
    return;
  }
  const core::Target& target = request.target;
  const core::FormatChoice choice = request.options.format;
  if (choice == core::FormatChoice::None) {
    autoFormatNtfs(ctx, request, controls, startWimApply);
    return;
  }
  const std::string refusal = formatRefusal(ctx, target);
  if (!refusal.empty()) {
    say(ctx, controls, refusal, ui::kOk | ui::kIconExclamation);
    return;
  }
  if (choice == core::FormatChoice::Manual) {
    lockRestoreControls(controls);
    controls.statusLabel.setText(kFormatting);
    core::OperationLog log(ctx.os, "格式化", "", core::targetText(target), "手动(格式化对话框)");
    const std::uint32_t answer = showFormatDialog(ctx.os, controls.window ? controls.window->nativeHandle() : 0,
                                                  target.targetDrive, kFormatOptionFull);
    // Only a finished format leads on to the apply: a cancelled or failed one
    // leaves the old files, which the apply would mix with the image's.
    if (answer == kFormatDialogCancelled) {
      log.finish(false, "已取消格式化 " + target.targetDisplay + "。");
      unlockRestoreControls(controls);
      controls.statusLabel.setText("已取消格式化 " + target.targetDisplay + "。");
      return;
    }
    if (answer == kFormatDialogError || answer == kFormatDialogNoFormat) {
      log.finish(false, "格式化对话框报告格式化没有完成。");
      reportFormatFailure(ctx, target, controls);
      return;
    }
    log.finish(true, "格式化完成。");
    startWimApply();
    return;
  }
  const int answer = say(ctx, controls, "分区 " + target.targetDisplay + " 的数据将被删除,是否继续？",
                         ui::kYesNo | ui::kIconExclamation);
  if (answer == ui::kAnswerYes) autoFormatNtfs(ctx, request, controls, startWimApply);
}

void autoFormatNtfs(core::Context& ctx, const core::Request& request, const RestoreControls& controls,
                    const std::function<void()>& startWimApply) {
  const core::Target& target = request.target;
  if (request.options.format != core::FormatChoice::AutoNtfs) {
    lockRestoreControls(controls);
    startWimApply();
    return;
  }
  lockRestoreControls(controls);
  controls.statusLabel.setText(kFormatting);
  core::OperationLog log(ctx.os, "格式化", "", core::targetText(target),
                         std::string("NTFS 快速格式化") + (isWow64Host(ctx.os) ? ",MARK.exe" : ",FormatEx"));
  bool ok = false;
  if (isWow64Host(ctx.os)) {
    ok = formatWithMarkTool(ctx, target.targetDrive);
  } else {
    ctx.ui.processPendingMessages();
    ok = formatVolumeEx(ctx.os, ctx.state, target.targetDrive + "\\", std::string("NTFS"), std::nullopt,
                        std::nullopt, true, [](int) {});
  }
  log.finish(ok, ok ? "格式化 " + target.targetDisplay + " 完成。" : "格式化 " + target.targetDisplay + " 失败！");
  if (ok) {
    startWimApply();
    return;
  }
  reportFormatFailure(ctx, target, controls);
}

bool isWow64Host(platform::Platform& os) { return os.system.isWow64(); }

bool formatWithMarkTool(core::Context& ctx, const std::string& drive) {
  std::string folder = ctx.os.system.tempDirectory();
  if (!gbk::endsWithBackslash(folder)) folder += '\\';
  const std::string path = folder + "\\" + kMarkFileName;
  const std::string_view carried = ctx.payloads ? ctx.payloads(kMarkFileName) : std::string_view();
  // Written once per run; a file cut short by an earlier failed write is replaced.
  const std::optional<std::uint64_t> size = ctx.os.files.fileSize(path);
  if (!ctx.os.files.exists(path) || (!carried.empty() && size && *size != carried.size())) {
    if (!ctx.os.files.writeFile(path, carried)) ctx.os.files.deleteFile(path);
  }
  // Quoted: a temporary folder with a blank must not split the command.
  const std::string output = runner::runCaptured(ctx.os, "\"" + path + "\" " + drive.substr(0, 2));
  return gbk::contains(output, "success.", true);
}

namespace {

// The library's reports that mean the format cannot succeed: incompatible file
// system, access denied, write protected, volume in use, no quick format, bad label,
// cluster size, volume size, no medium, device not ready, read-only.
bool isErrorReport(int command) {
  switch (command) {
    case 3: case 6: case 7: case 8: case 9: case 12: case 16: case 17: case 18: case 19: case 20: case 24: case 32:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool formatCallback(FormatRun& run, int command, int /*subAction*/, const void* data) {
  const unsigned char first = data ? *static_cast<const unsigned char*>(data) : 0;
  if (isErrorReport(command)) {
    run.failed = true;
    return false;
  }
  if (command == 0) {
    if (run.progress) run.progress(first);
  } else if (command == 11) {
    run.done = true;
    if (first == 0) {
      run.failed = true;
    } else if (run.progress && !run.failed) {
      run.progress(100);
    }
  }
  return !run.failed;
}

int formatMediaFor(int mediaType) { return mediaType == kRemovableMedia ? kRemovableMedia : kFixedMedia; }

bool formatVolumeEx(platform::Platform& os, core::AppState& state, const std::string& drive,
                    std::optional<std::string> fileSystem, std::optional<std::string> label,
                    std::optional<unsigned long> clusterSize, std::optional<bool> quick,
                    std::function<void(int percent)> progress) {
  if (state.formatBusy) return false;
  state.formatBusy = true;
  FormatRun run;
  run.progress = std::move(progress);
  std::string fs = fileSystem.value_or("NTFS");
  if (fs != "FAT32" && fs != "NTFS") fs = "NTFS";
  unsigned long cluster = clusterSize.value_or(0);
  if (cluster != 0 && cluster != 512 && cluster != 1024 && cluster != 2048 && cluster != 4096) cluster = 0;
  const std::string root = drive.substr(0, gbk::charLength(drive, 0)) + ":\\";
  const bool ran = os.volumes.formatEx(root, formatMediaFor(os.volumes.mediaType(root)), fs, label.value_or("本地磁盘"), quick.value_or(true), cluster,
                                       [&run](int command, int subAction, const void* data) {
                                         return formatCallback(run, command, subAction, data);
                                       });
  state.formatBusy = false;
  // A library that could not be loaded, or that never reported its end, formatted nothing we know of.
  return ran && run.done && !run.failed;
}

std::uint32_t showFormatDialog(platform::Platform& os, std::uintptr_t owner, const std::string& drive,
                               unsigned options) {
  if (drive.empty()) return kFormatDialogError;
  // The shell numbers drives from A = 0; a lower-case letter names the same drive.
  const unsigned driveNumber = static_cast<unsigned char>(gbk::asciiUpper(drive[0])) - 65u;
  return os.volumes.formatDialog(owner, driveNumber, kFormatIdDefault, options);
}

void lockRestoreControls(const RestoreControls& controls) {
  for (ui::Control* c : {&controls.volumeCombo, &controls.formatCombo, &controls.bootTargetCombo,
                         &controls.addBootCheck, &controls.okButton, &controls.cancelButton})
    c->setEnabled(false);
}

void unlockRestoreControls(const RestoreControls& controls) {
  for (ui::Control* c : {&controls.volumeCombo, &controls.formatCombo, &controls.bootTargetCombo,
                         &controls.addBootCheck, &controls.okButton, &controls.cancelButton})
    c->setEnabled(true);
  controls.bootTargetCombo.setEnabled(controls.addBootCheck.checked());
}

}  // namespace prep

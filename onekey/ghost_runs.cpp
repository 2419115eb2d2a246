#include "onekey/ghost_runs.h"

#include <cstdio>
#include <string>

#include "core/carried_tools.h"
#include "core/message_box.h"
#include "core/operation_log.h"
#include "core/path_and_size.h"
#include "core/refusals.h"
#include "platform/gbk.h"
#include "runner/command_runner.h"

namespace onekey {

std::string restoreCommandLine(const std::string& enginePath, const std::string& imagePath,
                               const std::string& targetIndex) {
  return enginePath + " -clone,mode=pload,src=\"" + imagePath + "\":1,dst=" + targetIndex +
         "  -crcignore  -noide -sure -fx -BATCH";
}

std::string backupCommandLine(const std::string& enginePath, const std::string& targetIndex,
                              const std::string& savePath) {
  return enginePath + " -clone,mode=pdump,src=" + targetIndex + ",dst=\"" + savePath +
         "\" -z9  -crcignore  -noide  -sure  -fx -BATCH ";
}

std::string checkCommandLine(const std::string& enginePath, const std::string& imagePath) {
  // Quoted like the other two: unquoted, blanks split the path and "&" or "|" in a
  // file name would be run by the command interpreter.
  return enginePath + "   -CHKIMG,\"" + imagePath + "\" -sure  -fx -BATCH ";
}

namespace {

// Whole CR LF lines, every one a notice.
bool onlyNotices(const std::string& output) {
  if (!gbk::endsWith(output, "\r\n")) return false;
  std::vector<std::string> lines = gbk::split(output, "\r\n");
  lines.pop_back();  // after the last line end
  for (const std::string& line : lines)
    if (!gbk::startsWith(line, kEngineNoticePrefix)) return false;
  return true;
}

// Silent but not ended with 0: the engine was ended from outside (killed, its window
// closed, the task ended), so whatever it was doing did not finish. Empty otherwise.
std::string endedFromOutside(const platform::CapturedRun& run) {
  if (!run.output.empty() || run.exitCode == 0) return {};
  return "Ghost没有正常结束(退出代码 " + std::to_string(run.exitCode) + "),也没有报告原因,可能被强行终止。";
}

}  // namespace

GhostOutcome judgeGhostRun(const platform::CapturedRun& run) {
  if (!run.started) return {false, kInterpreterNotStarted, {}};
  if (std::string cut = endedFromOutside(run); !cut.empty()) return {false, cut, {}};
  if (run.output.empty()) return {true, {}, {}};
  if (onlyNotices(run.output)) return {true, {}, run.output.substr(0, run.output.size() - 2)};
  // Untrimmed: even blanks or line ends are the engine complaining.
  return {false, run.output, {}};
}

namespace {

// The image's scratch file and those of its spans (name.002, name.003, ...).
void removeEngineScratch(Services& s, const std::string& saveFile) {
  s.os.files.deleteFile(saveFile + core::kEngineScratchSuffix);
  for (int span = 2; span < 1000; ++span) {
    char number[16];
    std::snprintf(number, sizeof number, ".%03d", span);
    const std::string scratch = saveFile + number + core::kEngineScratchSuffix;
    if (!s.os.files.exists(scratch)) break;
    s.os.files.deleteFile(scratch);
  }
}

}  // namespace

bool checksAfterBackup(platform::Platform& os) {
  std::string folder = os.system.windowsDirectory();
  if (!gbk::endsWithBackslash(folder)) folder += '\\';
  return gbk::trimBlanks(os.files.iniString(folder + "\\VrelPELite.ini", "Config", "CheckImage")) != "0";
}

bool ghostRestore(Services& s, ui::Window& mainWindow, const core::Request& request, ui::Window* installWindow) {
  ui::Window& owner = installWindow ? *installWindow : mainWindow;
  const std::string& imagePath = request.imagePath;
  const core::Target& target = request.target;
  const std::string question = "是否将 " + imagePath + " 还原到 " + target.targetDisplay + " ？";
  if (core::showBox(s.ui, &owner, question, core::kQuestionBox) != ui::kAnswerYes) return false;
  if (installWindow) installWindow->setVisible(false);
  mainWindow.setVisible(false);
  const std::string commandLine = restoreCommandLine(s.state.tools.ghostEnginePath, imagePath, target.targetIndex);
  core::OperationLog log(s.os, "GHO 还原", imagePath, core::targetText(target), commandLine);
  const platform::CapturedRun run = runner::tryRunCaptured(s.os, commandLine);
  GhostOutcome outcome = judgeGhostRun(run);
  mainWindow.setVisible(true);
  if (!outcome.succeeded && run.started && run.output.empty())
    outcome.errorText += "\r\n" + target.targetDisplay + " 只还原了一部分,不能使用,请重新还原。";
  if (!outcome.succeeded) {
    log.finish(false, "Ghost应用映像错误！", outcome.errorText);
    core::showBox(s.ui, &mainWindow, "Ghost应用映像错误！\r\n错误信息:\r\n" + outcome.errorText, core::kErrorBox);
    return true;
  }
  const std::string summary = "Ghost应用映像到磁盘完成！\r\n映像名称: " + core::fileNameOf(imagePath) + "\r\n安装分区: " +
                              target.targetDisplay + "\r\n映像大小: " +
                              core::sizeInMegabytesText(core::fileSizeOf(s.os.files, imagePath)) + " MB" +
                              (outcome.notice.empty() ? std::string() : "\r\n" + outcome.notice);
  log.finish(true, summary);
  core::showBox(s.ui, &mainWindow, summary, core::kInformationBox);
  return true;
}

void ghostBackup(Services& s, ui::Window& mainWindow, const core::Request& request) {
  const std::string& saveFile = request.imagePath;
  const core::Target& target = request.target;
  const std::string question = "是否将 " + target.targetDisplay + " 备份到 " + saveFile + " ？";
  if (core::showBox(s.ui, &mainWindow, question, core::kQuestionBox) != ui::kAnswerYes) return;
  const bool existedBefore = s.os.files.exists(saveFile);
  // An older image of that name must be rewritten for a silent run to count.
  const std::optional<std::uint64_t> sizeBefore = s.os.files.fileSize(saveFile);
  const std::optional<std::uint64_t> timeBefore = s.os.files.lastWriteTime(saveFile);
  mainWindow.setVisible(false);
  const std::string commandLine = backupCommandLine(s.state.tools.ghostEnginePath, target.targetIndex, saveFile);
  const bool check = checksAfterBackup(s.os);
  core::OperationLog log(s.os, "GHO 备份", saveFile, core::targetText(target),
                         commandLine + (check ? "" : " (不检查映像)"));
  const platform::CapturedRun run = runner::tryRunCaptured(s.os, commandLine);
  GhostOutcome outcome = judgeGhostRun(run);
  if (run.started && run.output.empty() && s.os.files.exists(saveFile + core::kEngineScratchSuffix)) {
    // Silence and a scratch file left: the engine was cut short (killed, power lost).
    removeEngineScratch(s, saveFile);
    outcome = {false, "Ghost没有完成备份(引擎中途被终止),未完成的文件 " + saveFile + core::kEngineScratchSuffix +
                          " 已删除。" + (existedBefore ? "原有的 " + saveFile + " 没有改动。" : "")};
  }
  const std::uint64_t size = core::fileSizeOf(s.os.files, saveFile);
  if (outcome.succeeded && size == 0) {
    // Silence without an image is no backup: the user must not walk away believing
    // the partition is saved.
    outcome = {false, "备份文件 " + saveFile + " 没有生成或为空。"};
    if (!existedBefore && s.os.files.exists(saveFile)) s.os.files.deleteFile(saveFile);
  } else if (outcome.succeeded && sizeBefore && timeBefore && s.os.files.fileSize(saveFile) == sizeBefore &&
             s.os.files.lastWriteTime(saveFile) == timeBefore) {
    outcome = {false, "备份文件 " + saveFile + " 没有被改写(大小和修改时间与备份前相同),Ghost没有保存新的映像。原有文件保留未动。"};
  }
  if (outcome.succeeded && check) {
    // The image is often the only copy of the customer's system: read it back now,
    // while the partition is still there to back up again. A damaged image is kept
    // for the user to look at.
    const platform::CapturedRun checked =
        runner::tryRunCaptured(s.os, checkCommandLine(s.state.tools.ghostEnginePath, saveFile));
    if (!checked.started) {
      outcome = {false, "备份映像 " + saveFile + " 未能检查：" + kInterpreterNotStarted};
    } else if (std::string cut = endedFromOutside(checked); !cut.empty()) {
      // A check cut short read only part of the image: that proves nothing.
      outcome = {false, "备份映像 " + saveFile + " 未能检查完：" + cut + "映像文件已保留,请另行检查。"};
    } else if (!checked.output.empty()) {
      outcome = {false, "备份映像 " + saveFile + " 已损坏,不能通过完整性检查,不能用来还原！映像文件已保留,请重新备份。\r\n" +
                            checked.output};
    }
  }
  mainWindow.setVisible(true);
  if (!outcome.succeeded) {
    log.finish(false, "Ghost备份磁盘错误！", outcome.errorText);
    core::showBox(s.ui, &mainWindow, "Ghost备份磁盘错误！\r\n错误信息:\r\n" + outcome.errorText, core::kErrorBox);
    return;
  }
  const std::string summary = "Ghost备份磁盘完成！\r\n保存位置: " + core::fileNameOf(saveFile) + "\r\n备份分区: " +
                              target.targetDisplay + "\r\n备份大小: " + core::sizeInMegabytesText(size) + " MB" +
                              (outcome.notice.empty() ? std::string() : "\r\n" + outcome.notice);
  log.finish(true, summary + (check ? "\r\n映像已通过完整性检查。" : ""));
  core::showBox(s.ui, &mainWindow, summary, core::kInformationBox);
}

void checkGhostImage(Services& s, ui::Window& mainWindow, const std::string& imagePath) {
  if (const auto refusal = core::rewrittenPathRefusal(imagePath, true, s.os.system.environmentNames())) {
    core::showBox(s.ui, &mainWindow, refusal->text, refusal->style);
    return;
  }
  mainWindow.setVisible(false);
  const std::string commandLine = checkCommandLine(s.state.tools.ghostEnginePath, imagePath);
  core::OperationLog log(s.os, "GHO 检查", imagePath, "", commandLine);
  const platform::CapturedRun run = runner::tryRunCaptured(s.os, commandLine);
  mainWindow.setVisible(true);
  const std::string name = core::fileNameOf(imagePath);
  if (!run.started) {
    const std::string text = name + " 镜像文件未能检查：" + kInterpreterNotStarted;
    log.finish(false, text);
    core::showBox(s.ui, &mainWindow, text, core::kErrorBox);
    return;
  }
  if (std::string cut = endedFromOutside(run); !cut.empty()) {
    const std::string text = name + " 镜像文件未能检查完：" + cut;
    log.finish(false, text);
    core::showBox(s.ui, &mainWindow, text, core::kErrorBox);
    return;
  }
  if (run.output.empty()) {
    const std::string text = "经检查 " + name + " 镜像文件非常完整！";
    log.finish(true, text);
    core::showBox(s.ui, &mainWindow, text, core::kInformationBox);
  } else {
    const std::string text = name + " 镜像文件不能通过完整性检查！";
    log.finish(false, text, run.output);
    core::showBox(s.ui, &mainWindow, text, core::kErrorBox);
  }
}

}  // namespace onekey

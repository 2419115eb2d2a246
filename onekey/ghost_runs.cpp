#include "onekey/ghost_runs.h"

#include "core/message_box.h"
#include "core/path_and_size.h"
#include "core/refusals.h"
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

GhostOutcome judgeGhostRun(const platform::CapturedRun& run) {
  if (!run.started) return {false, kInterpreterNotStarted};
  // Untrimmed: even blanks or line ends are the engine complaining.
  if (!run.output.empty()) return {false, run.output};
  return {true, {}};
}

bool ghostRestore(Services& s, ui::Window& mainWindow, const core::Request& request, ui::Window* installWindow) {
  ui::Window& owner = installWindow ? *installWindow : mainWindow;
  const std::string& imagePath = request.imagePath;
  const core::Target& target = request.target;
  const std::string question = "是否将 " + imagePath + " 还原到 " + target.targetDisplay + " ？";
  if (core::showBox(s.ui, &owner, question, core::kQuestionBox) != ui::kAnswerYes) return false;
  if (installWindow) installWindow->setVisible(false);
  mainWindow.setVisible(false);
  const GhostOutcome outcome = judgeGhostRun(
      runner::tryRunCaptured(s.os, restoreCommandLine(s.state.tools.ghostEnginePath, imagePath, target.targetIndex)));
  mainWindow.setVisible(true);
  if (!outcome.succeeded) {
    core::showBox(s.ui, &mainWindow, "Ghost应用映像错误！\r\n错误信息:\r\n" + outcome.errorText, core::kErrorBox);
    return true;
  }
  core::showBox(s.ui, &mainWindow,
                "Ghost应用映像到磁盘完成！\r\n映像名称: " + core::fileNameOf(imagePath) + "\r\n安装分区: " +
                    target.targetDisplay + "\r\n映像大小: " +
                    core::sizeInMegabytesText(core::fileSizeOf(s.os.files, imagePath)) + " MB",
                core::kInformationBox);
  return true;
}

void ghostBackup(Services& s, ui::Window& mainWindow, const core::Request& request) {
  const std::string& saveFile = request.imagePath;
  const core::Target& target = request.target;
  const std::string question = "是否将 " + target.targetDisplay + " 备份到 " + saveFile + " ？";
  if (core::showBox(s.ui, &mainWindow, question, core::kQuestionBox) != ui::kAnswerYes) return;
  const bool existedBefore = s.os.files.exists(saveFile);
  mainWindow.setVisible(false);
  GhostOutcome outcome = judgeGhostRun(
      runner::tryRunCaptured(s.os, backupCommandLine(s.state.tools.ghostEnginePath, target.targetIndex, saveFile)));
  mainWindow.setVisible(true);
  const std::uint64_t size = core::fileSizeOf(s.os.files, saveFile);
  if (outcome.succeeded && size == 0) {
    // Silence without an image is no backup: the user must not walk away believing
    // the partition is saved.
    outcome = {false, "备份文件 " + saveFile + " 没有生成或为空。"};
    if (!existedBefore && s.os.files.exists(saveFile)) s.os.files.deleteFile(saveFile);
  }
  if (!outcome.succeeded) {
    core::showBox(s.ui, &mainWindow, "Ghost备份磁盘错误！\r\n错误信息:\r\n" + outcome.errorText, core::kErrorBox);
    return;
  }
  core::showBox(s.ui, &mainWindow,
                "Ghost备份磁盘完成！\r\n保存位置: " + core::fileNameOf(saveFile) + "\r\n备份分区: " +
                    target.targetDisplay + "\r\n备份大小: " + core::sizeInMegabytesText(size) + " MB",
                core::kInformationBox);
}

void checkGhostImage(Services& s, ui::Window& mainWindow, const std::string& imagePath) {
  if (const auto refusal = core::rewrittenPathRefusal(imagePath, true, s.os.system.environmentNames())) {
    core::showBox(s.ui, &mainWindow, refusal->text, refusal->style);
    return;
  }
  mainWindow.setVisible(false);
  const platform::CapturedRun run =
      runner::tryRunCaptured(s.os, checkCommandLine(s.state.tools.ghostEnginePath, imagePath));
  mainWindow.setVisible(true);
  const std::string name = core::fileNameOf(imagePath);
  if (!run.started) {
    core::showBox(s.ui, &mainWindow, name + " 镜像文件未能检查：" + kInterpreterNotStarted, core::kErrorBox);
    return;
  }
  if (run.output.empty()) core::showBox(s.ui, &mainWindow, "经检查 " + name + " 镜像文件非常完整！", core::kInformationBox);
  else core::showBox(s.ui, &mainWindow, name + " 镜像文件不能通过完整性检查！", core::kErrorBox);
}

}  // namespace onekey

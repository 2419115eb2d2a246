#include "onekey/ghost_runs.h"

#include "platform/gbk.h"
#include "runner/command_runner.h"
#include "search/paths.h"

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

static char driveLetterOf(const std::string& path) {
  if (path.size() < 2 || path[1] != ':') return 0;
  const char letter = gbk::asciiUpper(path[0]);
  return letter >= 'A' && letter <= 'Z' ? letter : 0;
}

bool onTargetDrive(platform::FileSystem& files, const std::string& path, const std::string& targetDrive) {
  const char target = driveLetterOf(targetDrive);
  if (target == 0) return false;
  // A relative path lies where the engine, started from here, would look for it.
  return driveLetterOf(files.fullPath(path)) == target;
}

// The checks every engine operation on the selected partition makes first.
static bool targetUsable(Services& s, ui::Window& owner, const std::string& imageFile, bool restoring) {
  const core::AppState& st = s.state;
  if (!st.targetIndexUsable) {
    showBox(s, &owner,
            "所选分区 " + st.targetDisplay + " 没有磁盘:分区形式的序号,Ghost无法" + (restoring ? "还原" : "备份") +
                "该分区！",
            kWarningBox);
    return false;
  }
  if (onTargetDrive(s.os.files, imageFile, st.targetDrive)) {
    showBox(s, &owner,
            restoring ? "映像文件位于要还原的分区 " + st.targetDisplay + " 上,不能还原到该分区！"
                      : "备份文件不能保存在要备份的分区 " + st.targetDisplay + " 上！",
            kWarningBox);
    return false;
  }
  return true;
}

bool ghostRestore(Services& s, ui::Window& mainWindow, const std::string& imagePath, ui::Window* installWindow) {
  ui::Window& owner = installWindow ? *installWindow : mainWindow;
  if (!targetUsable(s, owner, imagePath, true)) return false;
  const std::string question = "是否将 " + imagePath + " 还原到 " + s.state.targetDisplay + " ？";
  if (showBox(s, &owner, question, kQuestionBox) != ui::kAnswerYes) return false;
  if (installWindow) installWindow->setVisible(false);
  mainWindow.setVisible(false);
  const GhostOutcome outcome = judgeGhostRun(
      runner::runCapturedRun(s.os, restoreCommandLine(s.state.tools.ghostEnginePath, imagePath, s.state.targetIndex)));
  mainWindow.setVisible(true);
  if (!outcome.succeeded) {
    showBox(s, &mainWindow, "Ghost应用映像错误！\r\n错误信息:\r\n" + outcome.errorText, kErrorBox);
    return true;
  }
  showBox(s, &mainWindow,
          "Ghost应用映像到磁盘完成！\r\n映像名称: " + search::fileNameOf(imagePath) + "\r\n安装分区: " +
              s.state.targetDisplay + "\r\n映像大小: " +
              search::sizeInMegabytesText(search::fileSizeOf(s.os.files, imagePath)) + " MB",
          kInformationBox);
  return true;
}

void ghostBackup(Services& s, ui::Window& mainWindow, const std::string& saveFile) {
  if (!targetUsable(s, mainWindow, saveFile, false)) return;
  const std::string question = "是否将 " + s.state.targetDisplay + " 备份到 " + saveFile + " ？";
  if (showBox(s, &mainWindow, question, kQuestionBox) != ui::kAnswerYes) return;
  const bool existedBefore = s.os.files.exists(saveFile);
  mainWindow.setVisible(false);
  GhostOutcome outcome = judgeGhostRun(
      runner::runCapturedRun(s.os, backupCommandLine(s.state.tools.ghostEnginePath, s.state.targetIndex, saveFile)));
  mainWindow.setVisible(true);
  const std::uint64_t size = search::fileSizeOf(s.os.files, saveFile);
  if (outcome.succeeded && size == 0) {
    // Silence without an image is no backup: the user must not walk away believing
    // the partition is saved.
    outcome = {false, "备份文件 " + saveFile + " 没有生成或为空。"};
    if (!existedBefore && s.os.files.exists(saveFile)) s.os.files.deleteFile(saveFile);
  }
  if (!outcome.succeeded) {
    showBox(s, &mainWindow, "Ghost备份磁盘错误！\r\n错误信息:\r\n" + outcome.errorText, kErrorBox);
    return;
  }
  showBox(s, &mainWindow,
          "Ghost备份磁盘完成！\r\n保存位置: " + search::fileNameOf(saveFile) + "\r\n备份分区: " + s.state.targetDisplay +
              "\r\n备份大小: " + search::sizeInMegabytesText(size) + " MB",
          kInformationBox);
}

void checkGhostImage(Services& s, ui::Window& mainWindow, const std::string& imagePath) {
  mainWindow.setVisible(false);
  const platform::CapturedRun run =
      runner::runCapturedRun(s.os, checkCommandLine(s.state.tools.ghostEnginePath, imagePath));
  mainWindow.setVisible(true);
  const std::string name = search::fileNameOf(imagePath);
  if (!run.started) {
    showBox(s, &mainWindow, name + " 镜像文件未能检查：" + kInterpreterNotStarted, kErrorBox);
    return;
  }
  if (run.output.empty()) showBox(s, &mainWindow, "经检查 " + name + " 镜像文件非常完整！", kInformationBox);
  else showBox(s, &mainWindow, name + " 镜像文件不能通过完整性检查！", kErrorBox);
}

}  // namespace onekey

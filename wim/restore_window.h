// The restore-progress window: a WIM image onto the selected partition, with live
// progress, then boot repair and the chosen power action.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/context.h"
#include "platform/ui.h"
#include "wim/engine_run.h"

namespace wim {

inline constexpr char kApplyCancelled[] = "取消Imagex应用映像到磁盘！";
inline constexpr char kApplyFailed[] = "Imagex应用映像到磁盘失败！";
inline constexpr char kApplyDone[] = "Imagex应用映像到磁盘完成！";
inline constexpr char kApplyLogName[] = ":\\PzVrelErrorlog.log";
inline constexpr char kImageOnTargetMessage[] =
    "映像文件位于要还原的分区上,还原(或格式化)该分区会毁掉映像文件本身。\r\n"
    "请选择其他分区,或先把映像文件复制到其他分区。";

// The controls the restore run works with, resolved once when the window opens.
struct RestoreControls {
  ui::Control& targetLabel;
  ui::Control& imageLabel;
  ui::Control& volumeCombo;
  ui::Control& formatCombo;
  ui::Control& addBootCheck;
  ui::Control& bootTargetCombo;
  ui::Control& percentLabel;
  ui::Control& elapsedLabel;
  ui::Control& remainingLabel;
  ui::Control& progressBar;
  ui::Control& statusLabel;
  ui::Control& okButton;
  ui::Control& cancelButton;
  ui::Control& restartCheck;
  ui::Control& shutdownCheck;
  ui::Control& engineLogBox;
};

// What other parts of the program do around an apply.
struct RestoreHooks {
  std::function<void()> restart;
  std::function<void()> shutDown;
  // Carries out formatCombo's choice on the target, then calls startApply when the
  // target is ready; on a failed format it leaves the window idle itself.
  std::function<void(ui::Window*, RestoreControls&, const std::function<void()>& startApply)> formatStep;
  // Makes the restored system bootable; runs to its end before the power action.
  std::function<void(ui::Window*, RestoreControls&)> repairBoot;
  // Fills bootTargetCombo as the window opens; without it, the fixed drives with the
  // default target marked.
  std::function<void(RestoreControls&)> fillBootTargets;
};

// " /apply ", the image in quotes, its number and the target: nothing after it.
std::string applyCommandLine(const std::string& enginePath, const std::string& imagePath, int imageIndex,
                             const std::string& targetDrive);

// True when the image file lies on the target partition (same drive letter).
bool imageOnTarget(const std::string& imagePath, const std::string& targetDrive);

// The fixed drives other than X, for the boot-target list.
std::vector<std::string> bootTargetRoots(platform::Platform& os);

class RestoreWindow : public ui::WindowLogic {
 public:
  RestoreWindow(core::Context& ctx, const ui::Control& partitionList, RestoreHooks hooks);
  ~RestoreWindow() override;

  const ui::WindowSpec& spec() const override;
  void onCreated(ui::Window& window) override;
  std::vector<ui::Handler> handlers() override;
  bool onCloseRequested(ui::Window& window) override;

  // Starts the engine and the monitoring; refuses an image on the target partition.
  void startWimApply();
  void pollApplyFinished();
  bool applyCancelled() const { return applyCancelled_; }
  int applySeconds() const { return applySeconds_; }

 private:
  void confirm();
  void stopOrClose();
  void lockChoices();
  void unlockChoices();
  void resetProgress();
  void finishSucceeded();

  core::Context& ctx_;
  const ui::Control& partitionList_;
  RestoreHooks hooks_;
  ui::Window* window_ = nullptr;
  std::unique_ptr<RestoreControls> c_;
  EngineRun run_;
  bool applyCancelled_ = false;
  int applySeconds_ = 0;
};

// Opens the window modally over the owner (the one-key action's WIM paths).
void restoreProgressWindow(core::Context& ctx, ui::Window* owner, const ui::Control& partitionList,
                           RestoreHooks hooks);

}  // namespace wim

// The restore-progress window: a WIM image onto the selected partition, with live
// progress, then boot repair and the chosen power action.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/context.h"
#include "core/operation_log.h"
#include "core/request.h"
#include "platform/ui.h"
#include "wim/engine_run.h"

namespace wim {

inline constexpr char kApplyCancelled[] = "取消Imagex应用映像到磁盘！";
inline constexpr char kApplyFailed[] = "Imagex应用映像到磁盘失败！";
inline constexpr char kApplyDone[] = "Imagex应用映像到磁盘完成！";
inline constexpr char kApplyLogName[] = ":\\PzVrelErrorlog.log";

// The controls the restore run works with, resolved once when the window opens.
struct RestoreControls : RunControls {
  ui::Control& targetLabel;
  ui::Control& imageLabel;
  ui::Control& volumeCombo;
  ui::Control& formatCombo;
  ui::Control& addBootCheck;
  ui::Control& bootTargetCombo;
};

// " /apply ", the image in quotes, its number and the target; for a split set
// " /ref " and the other parts' pattern in quotes follow, otherwise nothing.
std::string applyCommandLine(const std::string& enginePath, const std::string& imagePath, int imageIndex,
                             const std::string& targetDrive, const std::string& otherPartsPattern = {});

class RestoreWindow : public ui::WindowLogic {
 public:
  // partitionList: the main window's, where the default boot target and the EFI
  // system partition are looked up.
  RestoreWindow(core::Context& ctx, const ui::Control& partitionList, core::Request request, PowerHooks hooks);
  ~RestoreWindow() override;

  const ui::WindowSpec& spec() const override;
  void onCreated(ui::Window& window) override;
  std::vector<ui::Handler> handlers() override;
  bool onCloseRequested(ui::Window& window) override;

  // The request as the window has completed it (image number, format choice, the
  // target's drive in its C: form).
  const core::Request& request() const { return request_; }
  bool applyCancelled() const { return applyCancelled_; }
  int applySeconds() const { return applySeconds_; }

 private:
  void confirm();
  // The engine's command line for the request as it stands.
  std::string applyLine() const;
  // Starts the engine and the monitoring, once the format step has readied the target.
  void startWimApply();
  void pollApplyFinished();
  void stopOrClose();
  void unlockChoices();
  void resetProgress();
  void finishSucceeded();

  core::Context& ctx_;
  const ui::Control& partitionList_;
  core::Request request_;
  PowerHooks hooks_;
  ui::Window* window_ = nullptr;
  std::unique_ptr<RestoreControls> c_;
  EngineRun run_;
  bool applyCancelled_ = false;
  core::OperationRecord applyLog_;  // the running apply's block, finished when it ends
  void logApply(bool succeeded, const std::string& outcome, const std::string& engineText = {});
  int applySeconds_ = 0;
};

// Opens the window modally over the owner (the one-key action's WIM paths); a letter
// lent to the EFI system partition goes back afterwards unless boot repair used it.
void restoreProgressWindow(core::Context& ctx, ui::Window* owner, const ui::Control& partitionList,
                           core::Request request, PowerHooks hooks);

}  // namespace wim

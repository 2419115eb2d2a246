// The backup-progress window: the selected partition into a new WIM file, with live
// progress, then the chosen power action or a summary.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>
#include <string_view>

#include "core/carried_tools.h"
#include "core/context.h"
#include "core/path_and_size.h"
#include "core/operation_log.h"
#include "core/request.h"
#include "platform/ui.h"
#include "wim/engine_run.h"

namespace wim {

inline constexpr char kCaptureCancelled[] = "用户取消Imagex备份。";
inline constexpr char kCaptureFailed[] = "Imagex备份失败。";
// What the carried engine prints when the image it wrote does not read back; it keeps
// the image.
inline constexpr char kEngineImageDamagedWord[] = "映像文件已写完,但读回检查没有通过";
inline constexpr char kScratchMarkerName[] = "Imagex备份缓存目录,请勿删除。";
using core::kEngineScratchSuffix;

struct BackupControls : RunControls {
  ui::Control& sourceLabel;
  ui::Control& destinationLabel;
  ui::Control& imageNameEdit;
  ui::Control& compressionCombo;
  ui::Control& systemFlagCombo;
  ui::Control& descriptionEdit;
};

// " /compress none|fast|Maximum" for the combo position.
std::string compressionSwitchFor(int position);

// The scratch folder, which the one-key checks know too.
using core::scratchFolderFor;

struct CaptureLine {
  std::string enginePath, source, savePath, imageName, description, flag, compressionSwitch;
};
// The capture command line, piece by piece. The name and the description reach the
// engine as typed, but for quotes and line breaks (which become ' and a blank): no
// quote, line break, "%" or trailing backslash of theirs can change the line's meaning.
std::string captureCommandLine(const CaptureLine& line);

class BackupWindow : public ui::WindowLogic {
 public:
  // request: the target captured into its imagePath; mainCaption names the program
  // in the default description. The power actions after a capture make their request twice.
  BackupWindow(core::Context& ctx, core::Request request, std::string mainCaption, PowerHooks hooks);
  ~BackupWindow() override;

  const ui::WindowSpec& spec() const override;
  void onCreated(ui::Window& window) override;
  std::vector<ui::Handler> handlers() override;
  bool onCloseRequested(ui::Window& window) override;

  void startWimCapture();
  void pollCaptureFinished();
  const std::string& compressionSwitch() const { return compressionSwitch_; }
  bool captureCancelled() const { return captureCancelled_; }

 private:
  void confirm();
  // The pieces of the capture command line as the controls stand.
  CaptureLine captureLine() const;
  void stopOrClose();
  void enableInputs();
  void removeEngineScratch();

  core::Context& ctx_;
  core::Request request_;
  std::string mainCaption_;
  PowerHooks hooks_;
  ui::Window* window_ = nullptr;
  std::unique_ptr<BackupControls> c_;
  EngineRun run_;
  std::string compressionSwitch_ = " /compress Maximum";
  bool captureCancelled_ = false;
  core::OperationRecord captureLog_;  // the running capture's block, finished when it ends
  void logCapture(bool succeeded, const std::string& outcome, const std::string& engineText = {});
  bool destinationExisted_ = false;
  int captureSeconds_ = 0;
};

void backupProgressWindow(core::Context& ctx, ui::Window* owner, core::Request request,
                          const std::string& mainCaption, PowerHooks hooks);

}  // namespace wim

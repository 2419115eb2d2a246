// What the GHO operations, the one-key action and the install-file list work with.
#pragma once

#include <string>
#include <string_view>

#include "core/app_state.h"
#include "platform/os.h"
#include "platform/ui.h"

namespace onekey {

// The WIM progress windows, opened modally over the given owner. The WIM windows
// fill this in; until they exist, WimWindowsPending stands in.
class WimWindows {
 public:
  virtual ~WimWindows() = default;
  // The restore-progress window; it applies state.imagePath to the selected partition
  // (a row of the main window's partition list, which also yields the boot target).
  virtual void openRestoreProgress(ui::Window& owner, const ui::Control& partitionList) = 0;
  // The backup-progress window; it captures the selected partition into savePath.
  virtual void openBackupProgress(ui::Window& owner, const std::string& savePath) = 0;
};

// The one place that waits for the WIM windows: it says that the operation is not
// available instead of pretending to have done it.
class WimWindowsPending : public WimWindows {
 public:
  explicit WimWindowsPending(ui::WindowSystem& ui) : ui_(ui) {}
  void openRestoreProgress(ui::Window& owner, const ui::Control& partitionList) override;
  void openBackupProgress(ui::Window& owner, const std::string& savePath) override;

 private:
  ui::WindowSystem& ui_;
};

struct Services {
  platform::Platform& os;
  ui::WindowSystem& ui;
  core::AppState& state;
  WimWindows& wim;
};

inline constexpr char kMessageTitle[] = "提示";
inline constexpr unsigned kWarningBox = ui::kOk | ui::kIconExclamation | ui::kTaskModal;
inline constexpr unsigned kErrorBox = ui::kOk | ui::kIconStop | ui::kTaskModal;
inline constexpr unsigned kInformationBox = ui::kOk | ui::kIconInformation | ui::kTaskModal;
inline constexpr unsigned kQuestionBox = ui::kYesNo | ui::kIconInformation | ui::kTaskModal;

// A task-modal box titled "提示"; returns the answer.
int showBox(Services& s, ui::Window* owner, std::string_view text, unsigned style);

}  // namespace onekey

// The Win32 binding of the window tables: real windows and common controls.
#pragma once

#include "platform/ui.h"

namespace win32 {

// Resource ids the executable provides (see app/resources.rc).
inline constexpr int kAppIconId = 1;
inline constexpr int kRowIconFirstId = 201;  // four icons: Windows, fixed, removable, other

class WindowSystem : public ui::WindowSystem {
 public:
  WindowSystem();
  int runMain(ui::WindowLogic& logic) override;
  void runModal(ui::WindowLogic& logic, ui::Window* owner) override;
  int messageBox(ui::Window* owner, std::string_view text, std::string_view title, unsigned style) override;
  std::optional<std::string> fileDialog(ui::Window* owner, const ui::FileDialogSpec& spec) override;
  void processPendingMessages() override;
};

// For tests and tools: finds a control window of a live window by its role name.
std::uintptr_t controlHandle(ui::Window& window, std::string_view name);
// For tests: the live window behind a native window handle, nullptr when there is none.
ui::Window* windowFromHandle(std::uintptr_t hwnd);

}  // namespace win32

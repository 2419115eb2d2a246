// The program's message boxes: always titled "提示" and task-modal.
#pragma once

#include <string_view>

#include "platform/ui.h"

namespace core {

inline constexpr char kMessageTitle[] = "提示";
inline constexpr unsigned kWarningBox = ui::kOk | ui::kIconExclamation | ui::kTaskModal;
inline constexpr unsigned kErrorBox = ui::kOk | ui::kIconStop | ui::kTaskModal;
inline constexpr unsigned kInformationBox = ui::kOk | ui::kIconInformation | ui::kTaskModal;
inline constexpr unsigned kQuestionBox = ui::kYesNo | ui::kIconInformation | ui::kTaskModal;

// Shows the box over owner (none: over no window) and returns the answer.
inline int showBox(ui::WindowSystem& ui, ui::Window* owner, std::string_view text, unsigned style) {
  return ui.messageBox(owner, text, kMessageTitle, style | ui::kTaskModal);
}

}  // namespace core

// What every window and handler of the program works with.
#pragma once

#include <functional>
#include <string_view>

#include "core/app_state.h"
#include "platform/os.h"
#include "platform/ui.h"

namespace core {

// Bytes of a carried tool by file name; empty when none is carried.
using PayloadSource = std::function<std::string_view(std::string_view fileName)>;

struct Context {
  platform::Platform& os;
  ui::WindowSystem& ui;
  AppState& state;
  PayloadSource payloads;
};

}  // namespace core

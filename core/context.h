// What every window and handler of the program works with.
#pragma once

#include <functional>
#include <string_view>

#include "core/app_state.h"
#include "core/refusals.h"
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
  // The partitions as the lister lists them now, and a refill of the main window's
  // partition list; both empty where there is none (the checks then use what was seen).
  std::function<std::vector<ListedPartition>()> partitionsNow;
  std::function<void()> refreshPartitions;
};

}  // namespace core

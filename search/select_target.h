// The partition the user picked in the partition list.
#pragma once

#include <string_view>

#include "core/app_state.h"
#include "platform/ui.h"

namespace search {

// True for an engine designator: decimal digits, ":", decimal digits (such as 1:2).
bool isDiskPartitionDesignator(std::string_view index);

// Copies the selected row of the partition list into the target texts; nothing
// happens when no row is selected.
void selectTargetPartition(const ui::Control& partitionList, core::AppState& state);

// The row that shows the target as it was chosen (letter, disk:partition, kind, file
// system and size texts all the same), or -1.
int rowOfTarget(const ui::Control& partitionList, const core::Target& target);

}  // namespace search

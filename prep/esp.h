// The EFI system partition (ESP) of a GPT target disk as the boot target. WinPE
// gives it no drive letter, so the program lends it one for the run.
#pragma once

#include <string>
#include <vector>

#include "core/context.h"
#include "platform/os.h"
#include "platform/ui.h"

namespace prep {

// Drive letters tried for the ESP, in order: W, Y, Z are the ISO mounter's, X is
// the running system's.
inline constexpr char kEspLetters[] = "VUTSRQPONMLKJIHGFED";

// Looks for the ESP of the target's disk: a partition the lister calls EFI in
// partitionList (may be null), or a volume whose GPT type is the ESP's. With
// lendLetter, mounts it on a free letter when it has none. Replaces state.esp.
void findEspOf(core::Context& ctx, const core::Target& target, const ui::Control* partitionList, bool lendLetter);

// The fixed drives but X:, where boot files may go.
std::vector<std::string> bootTargetDrives(platform::Platform& os);

// Fills the boot-target combo box as the restore window opens: bootTargetDrives, the
// default boot target marked, and on a GPT target its ESP, which then becomes the
// recommended entry. Rewrites the target's drive to its C: form.
void fillBootTargetCombo(core::Context& ctx, core::Target& target, const ui::Control& partitionList,
                         ui::Control& bootTargetCombo);

// On a GPT target: finds and mounts the ESP and makes it the recommended entry of
// the combo box. MBR targets are left alone.
void offerEspBootTarget(core::Context& ctx, const core::Target& target, const ui::Control& partitionList,
                        ui::Control& bootTargetCombo);

// True when root (E:\) is the lent ESP letter or any volume of ESP type.
bool isEspRoot(core::Context& ctx, const std::string& root);

// Removes the lent letter: at program exit, and when the restore window closes
// without boot repair having written to it.
void releaseEspLetter(platform::Platform& os, core::AppState& state);
void releaseUnusedEspLetter(platform::Platform& os, core::AppState& state);

}  // namespace prep

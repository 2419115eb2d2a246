// Making a restored Windows bootable: boot records through bootice, the boot
// configuration through bcdboot, chosen by the restored Windows generation and the
// target disk's partition style.
#pragma once

#include <string>
#include <string_view>

#include "core/context.h"
#include "platform/os.h"
#include "platform/ui.h"

namespace prep {

// ProductVersion of the file's version resource, in the language of its first
// translation entry ("040904E4" without one); empty when there is none.
std::string productVersionOf(platform::Platform& os, const std::string& path);

enum class WindowsGeneration { Ten, Six, Five, Unknown };
// From the first two characters of a product version: "10", "6.", "5.".
WindowsGeneration windowsGenerationOf(std::string_view productVersion);

// A partition-type text on a GPT disk holds "GPT" in any letter case.
bool isGptText(std::string_view partitionType);
// bcdboot's output tells success with "successfully" (any case) or "成功".
bool bcdbootSucceeded(std::string_view output);

// The first three characters of the selected boot target; empty with none selected.
std::string bootTargetRoot(const ui::Control& bootTargetCombo);

// The boot-record writes (bootice) and the boot-configuration runs (bcdboot).
enum class BootCommand {
  MbrForBootmgr,      // master boot record that starts bootmgr (Windows 6 and 10)
  PbrForBootmgr,      // partition boot record that loads bootmgr
  ActivatePartition,  // mark the boot target active
  MbrForNtldr,        // master boot record for NTLDR (Windows 5)
  PbrForNtldr,        // partition boot record that loads NTLDR
  BcdbootBios,        // boot configuration for the running firmware (MBR disks)
  BcdbootAllFirmware, // boot configuration for BIOS and UEFI (GPT disks)
};
// The tool command line, before the interpreter prefix. letter is the restored
// system's drive letter, root the boot target root.
std::string bootCommandLine(const core::ToolPaths& tools, BootCommand which, std::string_view letter, std::string_view root);

// The retry batch: its path in the running system's Windows folder and its two lines.
std::string retryBatchPath(platform::Platform& os);
std::string retryBatchText(const core::ToolPaths& tools, std::string_view letter, std::string_view root,
                           WindowsGeneration generation, bool gpt);

// Writes boot records and the boot configuration for the system restored to the
// target, onto the selected entry of bootTargetCombo; progress and outcome in
// statusLabel, failures and questions in message boxes over owner.
void repairBoot(core::Context& ctx, const core::Target& target, ui::Control& statusLabel,
                const ui::Control& bootTargetCombo, ui::Window* owner = nullptr);

}  // namespace prep

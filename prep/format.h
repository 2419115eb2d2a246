// Formatting the restore target before a WIM apply: the platform's format dialog,
// or an automatic quick NTFS format through the format library or, on 64-bit hosts,
// the carried 64-bit formatter MARK.exe.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/context.h"
#include "core/request.h"
#include "platform/os.h"
#include "platform/ui.h"

namespace prep {

// The controls of the restore window that the format step touches, and the window
// that owns its message boxes and the format dialog.
struct RestoreControls {
  ui::Window* window;
  ui::Control& volumeCombo;
  ui::Control& formatCombo;
  ui::Control& bootTargetCombo;
  ui::Control& addBootCheck;
  ui::Control& okButton;
  ui::Control& cancelButton;
  ui::Control& statusLabel;
};

// Carries out the request's format choice on its target when the user confirms,
// then calls startWimApply; after a refusal or a failed format the window is left usable.
void formatStep(core::Context& ctx, const core::Request& request, const RestoreControls& controls,
                const std::function<void()>& startWimApply);
void autoFormatNtfs(core::Context& ctx, const core::Request& request, const RestoreControls& controls,
                    const std::function<void()>& startWimApply);

bool isWow64Host(platform::Platform& os);
// Writes MARK.exe into the temporary folder when needed and runs it on the drive;
// true when it printed "success." in any letter case.
bool formatWithMarkTool(core::Context& ctx, const std::string& drive);

// One FormatEx run as the callback sees it.
struct FormatRun {
  bool failed = false;  // the library reported an unsuccessful end
  bool done = false;    // the library reported its end at all
  std::function<void(int percent)> progress;
};
// Progress (command 0) and done (command 11) reports go on; an error report ends the
// format as failed and asks the library to stop.
bool formatCallback(FormatRun& run, int command, int subAction, const void* data);

inline constexpr int kRemovableMedia = 11;
inline constexpr int kFixedMedia = 12;
// FormatEx's media for a drive of that MEDIA_TYPE: a removable stick is one, anything
// else a fixed disk.
int formatMediaFor(int mediaType);
// FormatEx on the drive's root with the file system ("FAT32" or "NTFS", anything
// else NTFS), label (本地磁盘 when not given), cluster size (0 unless 512 to 4096)
// and quick flag. True only when the library ran and reported a successful end.
bool formatVolumeEx(platform::Platform& os, core::AppState& state, const std::string& drive,
                    std::optional<std::string> fileSystem = std::nullopt,
                    std::optional<std::string> label = std::nullopt,
                    std::optional<unsigned long> clusterSize = std::nullopt, std::optional<bool> quick = std::nullopt,
                    std::function<void(int percent)> progress = {});

inline constexpr unsigned kFormatIdDefault = 0xFFFF;
// Despite its name (SHFMT_OPT_FULL), the option that preselects the quick format.
inline constexpr unsigned kFormatOptionFull = 1;
// The dialog's answers that mean nothing was formatted.
inline constexpr std::uint32_t kFormatDialogError = 0xFFFFFFFF;
inline constexpr std::uint32_t kFormatDialogCancelled = 0xFFFFFFFE;
inline constexpr std::uint32_t kFormatDialogNoFormat = 0xFFFFFFFD;
// The dialog's answer; kFormatDialogError when there is no drive.
std::uint32_t showFormatDialog(platform::Platform& os, std::uintptr_t owner, const std::string& drive,
                               unsigned options = 0);

void lockRestoreControls(const RestoreControls& controls);
void unlockRestoreControls(const RestoreControls& controls);

// Why the target must not be formatted (it holds the running system); empty when it
// may be. A target that holds the image is refused before the format step.
std::string formatRefusal(core::Context& ctx, const core::Target& target);

}  // namespace prep

// Which images a WIM file holds, from the engine's information output.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/context.h"
#include "platform/ui.h"

namespace wim {

inline constexpr char kNoVolumesQuestion[] =
    "未检测到卷信息,无法正常还原。\r\n选择\"是(Y)\"将还原WIM映像文件中的卷 1 ,选择\"否(N)\"将停止还原。";

// The engine prints UTF-8; the program shows code page 936.
std::string decodeUtf8ToAnsi(platform::SystemInfo& system, std::string_view bytes);

// " /info " and the image in quotes.
std::string infoCommandLine(const std::string& enginePath, const std::string& imagePath);

// Shown for an image that has no name.
inline constexpr char kUnnamedImage[] = "[未命名]";

// The combo entries for an information text: "1: name" or "1: name(display name)";
// failing names, the flags, failing those the installation types. Each entry starts
// with the number of its image: its INDEX when the output gives it, else the
// position in the output.
std::vector<std::string> volumeEntries(std::string_view infoText);
// The number after "Image Count:" on the first line that has it; 0 when none.
int imageCountOf(std::string_view infoText);

enum class VolumeListing {
  Listed,         // the combo box holds the entries
  AcceptedFirst,  // nothing recognised; the user accepted image 1 (combo empty)
  Refused,        // nothing recognised; the user declined: no apply
};

// Runs the engine's information query on the image and fills the combo box.
VolumeListing listWimVolumes(core::Context& ctx, const std::string& imagePath, ui::Control& volumeCombo,
                             ui::Window* owner);

// The default: the last image; image 1 when the combo box is empty. Returns imageIndex.
int selectDefaultImage(ui::Control& volumeCombo);
// imageIndex for a combo entry: the number it starts with.
int imageIndexOfEntry(std::string_view entry);

}  // namespace wim

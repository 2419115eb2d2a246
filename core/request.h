// One request of the one-key action: what to do, with which image, on which
// partition. The dispatcher fills it in and hands it to the engine run or the
// progress window that carries it out.
#pragma once

#include <string>
#include <string_view>

#include "core/app_state.h"

namespace core {

// The main window's operating modes, as its three radio buttons choose them.
enum class Mode { Restore, GhostBackup, WimBackup };

// A restore image by its extension, in any letter case; .ESD and .SWM are WIM images.
enum class ImageKind { Gho, Wim, Iso, Unsupported };
ImageKind imageKindOf(std::string_view path);

// The restore window's formatCombo entries, in list order.
enum class FormatChoice : int { Manual = 0, AutoNtfs = 1, None = 2 };

struct Request {
  Mode mode = Mode::Restore;
  std::string imagePath;  // the image restored, or the file a backup writes
  int imageIndex = 1;     // the image inside a WIM file, 1-based
  Target target;          // the partition restored onto or backed up
  // What the user chooses in the progress window before its run starts.
  struct Options {
    FormatChoice format = FormatChoice::AutoNtfs;
  } options;
};

}  // namespace core

// The checks that refuse a request before anything runs, as one ordered table:
// those the one-key action's own steps make first, then the program's own. The
// main window's OK button asks them, and so do the progress windows' OK buttons.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/request.h"
#include "platform/os.h"

namespace core {

enum class Checkpoint {
  OneKeyAction,   // the main window's OK button: before any engine run, mount or window
  WindowConfirm,  // a progress window's OK button: before its format and engine run
};

// One row of the partition list: its drive, disk:partition, kind, file system and size texts.
struct ListedPartition {
  std::string drive, index, kind, fileSystem, total;
};

// What the checks read of the world, gathered before they run.
struct Facts {
  bool partitionChosen = false;  // a row of the partition list is selected
  bool imageExists = false;      // restore: a file-system search finds the image
  std::string imageFullPath;     // the image or save path as the engine, started from here, finds it
  // The same on the drive that holds it: a letter defined onto a folder (as the ISO
  // tool maps one) replaced by that folder; empty: imageFullPath.
  std::string imageDrivePath;
  std::uint64_t imageBytes = 0;  // restore: the image's size; 0 when it cannot be opened
  std::string isoMountLetter;    // ISO: the first free of Z, Y, W, A, B; empty when all are in use
  std::string scratchFullPath;   // WIM backup: the capture's scratch folder, qualified as the image path is
  // Restore: the partitions the lister lists just before the run; none when not asked.
  std::optional<std::vector<ListedPartition>> partitionsNow;
  std::vector<std::string> interpreterVariables;  // the environment's names, as the interpreter inherits them
  std::vector<std::string> winpeBootRoots;        // drives holding a WinPE's boot files (U:\)
};

// The facts about the request's file; the caller adds the partition choice and the
// mount letter, which only it can see.
Facts fileFactsOf(platform::FileSystem& files, const Request& request);
// Those and the environment's variables.
Facts requestFactsOf(platform::Platform& os, const Request& request);

enum class Refused {
  NoImage,
  NoPartition,
  ImageMissing,
  UnsupportedKind,
  NoMountLetter,
  IsoTooSmall,
  QuoteInPath,
  PercentInPath,
  NotDiskPartition,
  ImageOnTarget,
  NoDriveLetter,
  SaveInScratchFolder,
  TargetChanged,
  WinpeBootPartition,
};

struct Refusal {
  Refused reason;
  std::string text;  // what the box says
  unsigned style;    // the box's icon and buttons
};

// The first check at the checkpoint that the request fails; none when it may go on.
std::optional<Refusal> firstRefusal(const Request& request, const Facts& facts, Checkpoint at);

// The refusal of an image (or a save path) whose text the interpreter would rewrite;
// none when it reaches the engine as it is.
std::optional<Refusal> rewrittenPathRefusal(const std::string& path, bool image,
                                            const std::vector<std::string>& variables);

// The first "%NAME%" of the text that the command interpreter would replace, even
// inside quotes: NAME (or NAME before a ":" that starts a substring or a substitution)
// is one of the variables, letter case ignored, or one the interpreter makes itself
// (CD, DATE, ...). Empty when the text reaches the engine as it is.
std::string interpreterVariableIn(std::string_view text, const std::vector<std::string>& variables);

// The fully qualified path with each letter defined onto a folder replaced by that
// folder (Z:\a.wim behind \??\D:\iso is D:\iso\a.wim): the drive it really lies on.
std::string throughMappedLetters(platform::Volumes& volumes, std::string fullPath);

// True when the path (fully qualified) lies on the partition of targetDrive (C:\ or C:).
bool onTargetPartition(const std::string& fullPath, const std::string& targetDrive);

}  // namespace core

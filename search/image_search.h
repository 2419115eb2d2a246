// Directory walks and the image searches built on them: the start-up scan into the
// image combo box, the search box of the advanced mode, and the unlimited walk that
// lists the images of a mounted ISO.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/app_state.h"
#include "platform/os.h"
#include "platform/ui.h"

namespace search {

// Receives each file found: its full path and a suffix that is always empty.
using PerFile = std::function<void(const std::string& path, const std::string& suffix)>;

// Calls perFile for every file matching the pattern in folder and, depth first, in
// its sub-folders: depth 3 searches the root and two levels below it, -1 has no
// limit, 0, 1 and other negatives search the root only. Files of a folder come
// before its sub-folders. Window messages are processed once per folder.
void walkDirectory(platform::FileSystem& files, ui::WindowSystem& ui, std::string folder, const PerFile& perFile,
                   const std::string& pattern = "*.*", int depth = -1);

// The depth the search box asks for: the edit's text as a number, truncated toward
// zero; text that is not a number reads as 0.
int depthFromText(std::string_view text);

// The controls of the search box ("映像文件搜索").
struct SearchControls {
  ui::Control& resultList;
  ui::Control& depthEdit;
  ui::Control& patternCombo;
  ui::Control& searchButton;
};

inline constexpr char kSearchWaitingLine[] = "正在搜索文件，请稍候.....";

// Searches every drive for the chosen pattern to the chosen depth and lists the hits
// and a summary (or five hint entries). Returns the number of hits: the entries from
// 0 up to it are image paths, the rest are status texts.
int searchImages(platform::Platform& os, ui::WindowSystem& ui, const SearchControls& controls);

// Adds the path when its extension, upper-cased, equals the pattern's last four
// characters upper-cased: a match through an 8.3 short name (x.gho.bak) is dropped,
// and so is a later part of a split set (install2.swm beside install.swm).
void acceptSearchHit(platform::FileSystem& files, ui::Control& resultList, const std::string& pattern,
                     const std::string& path, const std::string& suffix);

// The start-up scan: GHO, WIM, ISO and ESD files and the first parts of split sets
// larger than 50 MB (a set with all its parts) two levels deep on every drive fill
// the combo box; the default image is chosen and selected.
void scanImagesAtStartup(platform::Platform& os, ui::WindowSystem& ui, ui::Control& imagePathCombo,
                         core::AppState& state);
void acceptStartupImage(platform::FileSystem& files, ui::Control& imagePathCombo, const std::string& path,
                        const std::string& suffix);
// The first entry containing ".GHO", else the first containing "install.wim", then
// "install.esd", then "install.swm".
void chooseDefaultImage(const ui::Control& imagePathCombo, core::AppState& state);
bool comboEntryContains(const ui::Control& combo, int index, std::string_view text);

// A click on the result list: with restoreRadio ticked, the clicked hit becomes the
// chosen image. Status and hint entries (index hitCount and beyond) are no paths.
void pickSearchResult(const ui::Control& restoreRadio, const ui::Control& resultList, ui::Control& imagePathCombo,
                      int hitCount);

// Selects the item naming the same path (letter case ignored), or adds and selects it.
void selectOrAddImagePath(ui::Control& combo, const std::string& path);

// Adds every file matching the pattern in folder and all its sub-folders (no depth
// limit; folders whose name begins with a dot are skipped) to the list box: the full
// path, or the name alone. With a filter only names containing it (letter case
// ignored); with a label, the label shows the file being looked at.
void findFilesInto(platform::FileSystem& files, ui::WindowSystem& ui, std::string folder, ui::Control& list,
                   const std::string& pattern = "*.*", const std::optional<std::string>& filter = std::nullopt,
                   ui::Control* label = nullptr, bool fullPath = true);

}  // namespace search

#include "search/image_search.h"

#include <climits>
#include <cmath>
#include <vector>

#include "disks/volumes.h"
#include "platform/gbk.h"
#include "core/image_sets.h"
#include "core/path_and_size.h"

namespace search {

namespace {

// Pieces of a path split at "\", a final empty piece not counted.
std::size_t pathPieces(const std::string& path) {
  std::vector<std::string> pieces = gbk::split(path, "\\");
  if (!pieces.empty() && pieces.back().empty()) pieces.pop_back();
  return pieces.size();
}

std::string withBackslash(std::string folder) {
  if (!gbk::endsWithBackslash(folder)) folder += '\\';
  return folder;
}

}  // namespace

void walkDirectory(platform::FileSystem& files, ui::WindowSystem& ui, std::string folder, const PerFile& perFile,
                   const std::string& pattern, int depth) {
  ui.processPendingMessages();
  folder = withBackslash(std::move(folder));
  files.enumerate(folder + pattern, [&](const platform::DirEntry& e) {
    if (!e.isDirectory) perFile(folder + e.name, "");
  });
  files.enumerate(folder + "*.*", [&](const platform::DirEntry& e) {
    if (!e.isDirectory || e.name == "." || e.name == "..") return;
    const std::string sub = folder + e.name;
    // A folder is entered only while it lies fewer than depth levels below the drive.
    if (depth == -1 || static_cast<long long>(pathPieces(sub)) < static_cast<long long>(depth) + 1)
      walkDirectory(files, ui, sub, perFile, pattern, depth);
  });
}

int depthFromText(std::string_view text) {
  const double value = std::trunc(gbk::leadingNumber(text));
  // "nan" parses as a number that is none; converting it to int is undefined.
  if (std::isnan(value)) return 0;
  // Beyond any real folder depth; also keeps the conversion defined.
  if (value >= INT_MAX) return INT_MAX - 1;
  if (value <= INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

void acceptSearchHit(platform::FileSystem& files, ui::Control& resultList, const std::string& pattern,
                     const std::string& path, const std::string& suffix) {
  const std::string tail = pattern.size() >= 4 ? pattern.substr(pattern.size() - 4) : pattern;
  if (gbk::toUpperAscii(core::extensionOf(path)) != gbk::toUpperAscii(tail)) return;
  // A split set is chosen by its first part; the others are not offered on their own.
  if (core::isLaterSplitPart(files, path + suffix)) return;
  resultList.addItem(path + suffix);
}

int searchImages(platform::Platform& os, ui::WindowSystem& ui, const SearchControls& c) {
  ui::Control* const guarded[] = {&c.resultList, &c.depthEdit, &c.patternCombo, &c.searchButton};
  c.resultList.clearItems();
  for (ui::Control* control : guarded) control->setEnabled(false);
  c.resultList.addItem(kSearchWaitingLine);

  std::vector<std::string> roots;
  disks::driveRoots(os, roots, disks::kAllRoots);
  for (const std::string& root : roots) {
    const std::string pattern = c.patternCombo.text();
    const int depth = depthFromText(c.depthEdit.text());
    walkDirectory(os.files, ui, root,
                  [&](const std::string& path, const std::string& suffix) {
                    acceptSearchHit(os.files, c.resultList, pattern, path, suffix);
                  },
                  pattern, depth);
  }
  c.resultList.deleteItem(0);

  const std::string pattern = c.patternCombo.text();
  const int hits = c.resultList.count();
  if (hits == 0) {
    c.resultList.addItem("经过搜索，未发现 " + pattern + " 映像文件。");
    c.resultList.addItem("");
    c.resultList.addItem("可能原因如下：");
    c.resultList.addItem("1、设定的目录层数过小。");
    c.resultList.addItem("2、硬盘中不存在 " + pattern + " 映像文件。");
  } else {
    c.resultList.addItem("搜索" + c.depthEdit.text() + "层目录完成,共搜索到" + std::to_string(hits) + "个" + pattern +
                         "文件。");
  }
  for (ui::Control* control : guarded) control->setEnabled(true);
  return hits;
}

void acceptStartupImage(platform::FileSystem& files, ui::Control& imagePathCombo, const std::string& path,
                        const std::string& suffix) {
  const std::string full = path + suffix;
  const std::string ext = gbk::toUpperAscii(core::extensionOf(full));
  if (ext != ".GHO" && ext != ".WIM" && ext != ".ISO" && ext != ".ESD" && ext != ".SWM") return;
  if (core::isLaterSplitPart(files, full)) return;
  // A split set counts with all its parts: each may be small, the image is not.
  const double megabytes = static_cast<double>(core::imageSetSize(files, full)) / 1048576.0;
  if (megabytes - 50.0 > 0.0000001) imagePathCombo.addItem(full);
}

bool comboEntryContains(const ui::Control& combo, int index, std::string_view text) {
  return gbk::contains(combo.itemText(index), text, true);
}

void chooseDefaultImage(const ui::Control& imagePathCombo, core::AppState& state) {
  for (const char* wanted : {".GHO", "install.wim", "install.esd", "install.swm"}) {
    if (!state.defaultImage.empty()) return;
    for (int i = 0; i < imagePathCombo.count(); ++i)
      if (comboEntryContains(imagePathCombo, i, wanted)) {
        state.defaultImage = imagePathCombo.itemText(i);
        break;
      }
  }
}

void scanImagesAtStartup(platform::Platform& os, ui::WindowSystem& ui, ui::Control& imagePathCombo,
                         core::AppState& state) {
  imagePathCombo.clearItems();
  std::vector<std::string> roots;
  disks::driveRoots(os, roots, disks::kAllRoots);
  const PerFile accept = [&](const std::string& path, const std::string& suffix) {
    acceptStartupImage(os.files, imagePathCombo, path, suffix);
  };
  for (const std::string& root : roots)
    for (const char* pattern : {"*.Gho", "*.WIM", "*.ISO", "*.ESD", "*.SWM"}) walkDirectory(os.files, ui, root, accept, pattern, 2);
  chooseDefaultImage(imagePathCombo, state);
  if (state.defaultImage.empty()) imagePathCombo.setSelection(0);
  else imagePathCombo.selectByPrefix(state.defaultImage);
}

void selectOrAddImagePath(ui::Control& combo, const std::string& path) {
  // An item that merely begins with the path (D:\a.GHO.old for D:\a.GHO) is another file.
  for (int i = 0; i < combo.count(); ++i)
    if (gbk::equalsIgnoreCase(combo.itemText(i), path)) {
      combo.setSelection(i);
      return;
    }
  combo.setSelection(combo.addItem(path));
}

void pickSearchResult(const ui::Control& restoreRadio, const ui::Control& resultList, ui::Control& imagePathCombo,
                      int hitCount) {
  if (!restoreRadio.checked()) return;
  const int index = resultList.caretIndex();
  if (index < 0 || index >= hitCount) return;
  selectOrAddImagePath(imagePathCombo, resultList.itemText(index));
}

void findFilesInto(platform::FileSystem& files, ui::WindowSystem& ui, std::string folder, ui::Control& list,
                   const std::string& pattern, const std::optional<std::string>& filter, ui::Control* label,
                   bool fullPath) {
  folder = withBackslash(std::move(folder));
  const std::string loweredFilter = filter ? gbk::toLowerAscii(*filter) : std::string();
  files.enumerate(folder + pattern, [&](const platform::DirEntry& e) {
    if (e.isDirectory) return;
    if (label) {
      label->setText(folder + e.name);
      label->repaint();
    }
    if (!filter || gbk::contains(gbk::toLowerAscii(e.name), loweredFilter))
      list.addItem(fullPath ? folder + e.name : e.name);
    ui.processPendingMessages();
  });
  files.enumerate(folder + "*.*", [&](const platform::DirEntry& e) {
    if (e.isDirectory && !e.name.empty() && e.name[0] != '.') {
      findFilesInto(files, ui, folder + e.name + "\\", list, pattern, filter ? filter : std::string(), label,
                    fullPath);
      ui.processPendingMessages();
    }
    ui.processPendingMessages();
  });
}

}  // namespace search

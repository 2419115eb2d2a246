#include "disks/cell_colours.h"

#include <algorithm>

namespace disks {

void CellColourRegistry::setCellColours(ui::Control& list, int row, int column, std::uint32_t text,
                                        std::uint32_t background, bool useGivenBackground) {
  if (!useGivenBackground) background = list.backgroundColour();
  auto registered = lists_.find(&list);
  if (registered == lists_.end()) {
    registered = lists_.emplace(&list, std::vector<CellEntry>()).first;
    // The list asks this source for every cell while it draws, from now on.
    list.setCellColours([this, &list](int r, int c) { return colourOf(list, r, c); });
  }
  std::vector<CellEntry>& cells = registered->second;
  const bool listsOwn = text == list.textColour() && background == list.backgroundColour();
  auto found = std::find_if(cells.begin(), cells.end(),
                            [&](const CellEntry& e) { return e.row == row && e.column == column; });
  if (found != cells.end()) {
    if (listsOwn) {
      cells.erase(found);
    } else {
      found->text = text;
      found->background = background;
    }
  } else if (!listsOwn) {
    cells.push_back({row, column, text, background});
  }
  list.repaint();
}

std::optional<ui::Colour> CellColourRegistry::colourOf(const ui::Control& list, int row, int column) const {
  auto registered = lists_.find(&list);
  if (registered == lists_.end()) return std::nullopt;
  for (const CellEntry& e : registered->second)
    if (e.row == row && e.column == column) return ui::Colour{e.text, e.background};
  return ui::Colour{kBlack, list.backgroundColour()};
}

const std::vector<CellEntry>& CellColourRegistry::cellsOf(const ui::Control& list) const {
  static const std::vector<CellEntry> kNone;
  auto registered = lists_.find(&list);
  return registered == lists_.end() ? kNone : registered->second;
}

void CellColourRegistry::clearCells(const ui::Control& list) {
  auto registered = lists_.find(&list);
  if (registered != lists_.end()) registered->second.clear();
}

}  // namespace disks

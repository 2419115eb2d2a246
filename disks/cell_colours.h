// Per-cell colours of report-style list views (the red rows of the partition list).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "platform/ui.h"

namespace disks {

inline constexpr std::uint32_t kRed = 255;          // COLORREF of pure red
inline constexpr std::uint32_t kWhite = 16777215;   // COLORREF of white
inline constexpr std::uint32_t kBlack = 0;

struct CellEntry {
  int row = 0;
  int column = 0;
  std::uint32_t text = 0;
  std::uint32_t background = 0;
};

// One entry per coloured list, each holding at most one cell entry per (row, column).
// A list is registered on its first colouring; from then on it draws every cell
// through colourOf. The registry must outlive the lists it colours.
class CellColourRegistry {
 public:
  // Records the colours of one cell, or removes its entry when they equal the list's
  // own colours, then repaints the list. useGivenBackground false stores the list's
  // current background instead of the given one.
  void setCellColours(ui::Control& list, int row, int column, std::uint32_t text,
                      std::uint32_t background, bool useGivenBackground = true);

  // What the list draws a cell with: the cell's entry, else black on the list's own
  // background. Nothing for a list that was never coloured (default drawing).
  std::optional<ui::Colour> colourOf(const ui::Control& list, int row, int column) const;

  // The cell entries of a list, in the order they were first set.
  const std::vector<CellEntry>& cellsOf(const ui::Control& list) const;

  // Forgets every cell of a list whose rows were all deleted, so that a new row in
  // an old place is not drawn with a stale colour.
  void clearCells(const ui::Control& list);

 private:
  std::map<const ui::Control*, std::vector<CellEntry>> lists_;
};

}  // namespace disks

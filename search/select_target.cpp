#include "search/select_target.h"

#include <string>

#include "platform/gbk.h"

namespace search {

bool isDiskPartitionDesignator(std::string_view index) {
  const std::size_t colon = gbk::find(index, ":");
  if (colon == std::string_view::npos) return false;
  auto allDigits = [](std::string_view part) {
    if (part.empty()) return false;
    for (char c : part)
      if (c < '0' || c > '9') return false;
    return true;
  };
  return allDigits(index.substr(0, colon)) && allDigits(index.substr(colon + 1));
}

void selectTargetPartition(const ui::Control& partitionList, core::AppState& state) {
  const int row = partitionList.selectedRow();
  if (row < 0) return;
  core::Target& t = state.target;
  t.targetDrive = partitionList.cell(row, 0);
  t.targetIndex = partitionList.cell(row, 1);
  t.targetPartitionType = partitionList.cell(row, 2);
  t.targetDisplay = t.targetDrive + "(" + t.targetIndex + ")";
  t.targetFileSystem = partitionList.cell(row, 3);
  t.targetTotal = partitionList.cell(row, 4);
  // A dynamic volume's row reads "|D:": the bar would become a pipe on a command line.
  t.targetIndexUsable = isDiskPartitionDesignator(t.targetIndex);
  const auto risks = state.listedRisks.find(t.targetIndex);
  t.risks = risks == state.listedRisks.end() ? core::VolumeRisks{} : risks->second;
}

int rowOfTarget(const ui::Control& partitionList, const core::Target& target) {
  for (int row = 0; row < partitionList.rowCount(); ++row)
    if (partitionList.cell(row, 1) == target.targetIndex && partitionList.cell(row, 0) == target.targetDrive &&
        partitionList.cell(row, 2) == target.targetPartitionType && partitionList.cell(row, 3) == target.targetFileSystem &&
        partitionList.cell(row, 4) == target.targetTotal)
      return row;
  return -1;
}

}  // namespace search

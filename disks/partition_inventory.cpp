#include "disks/partition_inventory.h"

#include <cmath>
#include <vector>

#include "disks/volumes.h"
#include "platform/gbk.h"
#include "runner/command_runner.h"

namespace disks {

namespace {

constexpr std::string_view kBar = "|";

// The text after the first occurrence of marker up to the next stop; empty when
// either is missing. Exact case, character boundaries only.
std::string textAfter(std::string_view record, std::string_view marker, std::string_view stop = kBar) {
  const std::size_t at = gbk::find(record, marker);
  if (at == std::string_view::npos) return {};
  const std::size_t from = at + marker.size();
  const std::size_t end = gbk::find(record, stop, from);
  if (end == std::string_view::npos) return {};
  return std::string(record.substr(from, end - from));
}

// The lister's output split into its partition records and its other lines.
struct Listing {
  std::vector<ListerRecord> records;
  std::vector<std::string> said;
};

Listing runLister(platform::Platform& os, const std::string& listerPath) {
  const std::string output = runner::runCaptured(os, listerCommandLine(listerPath));
  std::vector<std::string> lines = gbk::split(output, "\r\n");
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  Listing listing;
  for (const std::string& line : lines) {
    const std::string cleaned = gbk::replaceAll(gbk::replaceAll(line, "\t", kBar), " ", "");
    if (std::optional<ListerRecord> record = parseListerRecord(cleaned)) {
      listing.records.push_back(std::move(*record));
    } else if (!gbk::trimAsciiSpaces(line).empty()) {
      listing.said.push_back(gbk::trimAsciiSpaces(line));
    }
  }
  return listing;
}

// The field after a partition line's last bar when it is made of the risk words
// alone; a line without one ends with the MBR type, a number.
PartitionRisks risksOfRecord(std::string_view record) {
  PartitionRisks risks;
  const std::size_t bar = gbk::findLastByte(record, '|');
  if (bar == std::string_view::npos) return risks;
  PartitionRisks found;
  for (const std::string& word : gbk::split(record.substr(bar + 1), ",")) {
    if (word == "BitLocker") found.bitLocker = true;
    else if (word == "Hibernated") found.hibernated = true;
    else if (word == "Dirty") found.dirty = true;
    else return risks;
  }
  return found;
}

void markRow(ui::Control& list, int row, CellColourRegistry& colours) {
  for (int column = kColumnDrive; column <= kColumnFree; ++column)
    colours.setCellColours(list, row, column, kRed, kWhite, true);
}

}  // namespace

std::string listerCommandLine(const std::string& listerPath) { return "\"" + listerPath + "\" -tavrin"; }

std::string partitionKindText(std::string_view kind, std::string_view style) {
  if (gbk::equalsIgnoreCase(kind, "Primary")) return "主分区," + std::string(style);
  if (gbk::equalsIgnoreCase(kind, "Logical")) {
    if (style.empty() || gbk::equalsIgnoreCase(style, "MBR")) return "逻辑分区";
    return "逻辑分区," + std::string(style);
  }
  return std::string(kind) + "分区," + std::string(style);
}

std::optional<ListerRecord> parseListerRecord(std::string_view line) {
  const std::string record = gbk::replaceAll(line, "\t", kBar);
  ListerRecord out;
  out.letter = textAfter(record, kBar);

  // The first character joined to what follows it up to the next bar: a dynamic
  // volume's line starts with a bar and so yields "|D:".
  const std::size_t firstLength = gbk::charLength(record, 0);
  std::string firstField = record.substr(0, firstLength);
  const std::size_t bar = gbk::find(record, kBar, firstLength);
  if (bar != std::string::npos) firstField += record.substr(firstLength, bar - firstLength);
  if (!gbk::contains(firstField, ":")) return std::nullopt;

  const std::string total = out.letter.empty() ? textAfter(record, "||") : textAfter(record, out.letter + "|");
  const std::string free = textAfter(record, "GB|");
  const std::string kind = textAfter(record, total + "|" + free + "|");
  const std::string fileSystem = textAfter(record, kind + "|");
  const std::string spare = textAfter(record, fileSystem + "|");
  const std::string style = spare.empty() ? textAfter(record, fileSystem + "||")
                                          : textAfter(record, fileSystem + "|" + spare + "|");

  out.cells[kColumnDrive] = out.letter.empty() ? std::string() : out.letter + "\\";
  out.cells[kColumnIndex] = firstField;
  out.cells[kColumnKind] = partitionKindText(kind, style);
  // A dynamic volume's line (it starts with a bar) ends with its label instead.
  if (firstField[0] != '|') out.risks = risksOfRecord(record);
  // A locked BitLocker volume reads as RAW: say what it is.
  out.cells[kColumnFileSystem] =
      out.risks.bitLocker && (fileSystem.empty() || fileSystem == "RAW") ? std::string("BitLocker") : fileSystem;
  out.cells[kColumnTotal] = total;
  out.cells[kColumnFree] = free;
  return out;
}

bool isTooSmall(std::string_view totalText) {
  // Drop the two characters of the "GB" suffix; what is left and not a number reads as 0.
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < totalText.size(); i += gbk::charLength(totalText, i)) starts.push_back(i);
  const double gigabytes =
      starts.size() > 2 ? gbk::leadingNumber(totalText.substr(0, starts[starts.size() - 2])) : 0.0;
  return gigabytes < 0.2 && std::fabs(gigabytes - 0.2) >= 1e-7;
}

std::vector<std::string> fillPartitionList(platform::Platform& os, const std::string& listerPath, ui::Control& list,
                                           CellColourRegistry& colours, std::map<std::string, PartitionRisks>* risks) {
  Listing listing = runLister(os, listerPath);
  list.deleteAllRows();
  colours.clearCells(list);
  if (risks) risks->clear();

  for (const ListerRecord& record : listing.records) {
    if (risks && record.risks.any()) (*risks)[record.cells[kColumnIndex]] = record.risks;
    int icon = kIconOther;
    bool mark = false;
    if (record.letter.empty()) {
      mark = true;
    } else if (os.files.exists(record.letter + "\\windows\\system32\\CMD.EXE")) {
      icon = kIconWindows;
    } else {
      const std::string typeName = driveTypeName(os, record.letter);
      if (typeName == "硬盘驱动器") icon = kIconFixed;
      else if (typeName == "可移动驱动器") icon = kIconRemovable;
      else mark = true;
    }

    const int row = list.addRow(record.cells[kColumnDrive], icon);
    for (int column = kColumnIndex; column <= kColumnFree; ++column) list.setCell(row, column, record.cells[column]);
    // Marking is only a warning: the row stays selectable.
    if (mark || isTooSmall(list.cell(row, kColumnTotal))) markRow(list, row, colours);
  }
  return listing.said;
}

std::vector<core::ListedPartition> listPartitions(platform::Platform& os, const std::string& listerPath) {
  std::vector<core::ListedPartition> rows;
  for (const ListerRecord& r : runLister(os, listerPath).records)
    rows.push_back({r.cells[kColumnDrive], r.cells[kColumnIndex], r.cells[kColumnKind], r.cells[kColumnFileSystem],
                    r.cells[kColumnTotal]});
  return rows;
}

}  // namespace disks

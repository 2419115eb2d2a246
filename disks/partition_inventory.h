// The partition list: one row per partition the disk lister prints.
#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/refusals.h"
#include "core/app_state.h"
#include "disks/cell_colours.h"
#include "platform/os.h"
#include "platform/ui.h"

namespace disks {

// Row icons of the partition list.
enum PartitionIcon : int {
  kIconWindows = 0,    // holds \windows\system32\CMD.EXE
  kIconFixed = 1,
  kIconRemovable = 2,
  kIconOther = 3,      // no letter, or another drive type
};

// Columns of the partition list.
enum PartitionColumn : int {
  kColumnDrive = 0,       // C:\ or empty
  kColumnIndex = 1,       // disk:partition, as the lister prints it
  kColumnKind = 2,        // 主分区,MBR ...
  kColumnFileSystem = 3,
  kColumnTotal = 4,
  kColumnFree = 5,
};

// What the lister found risky on a partition (its last field, after the MBR type).
using PartitionRisks = core::VolumeRisks;

// What one lister line yields before the drives are asked about it.
struct ListerRecord {
  std::string letter;               // C: or empty
  std::array<std::string, 6> cells;
  PartitionRisks risks;
};

// The lister's command line: the quoted lister path and its switch.
std::string listerCommandLine(const std::string& listerPath);

// Parses one line of the lister's output after its TABs became "|" and its spaces
// were deleted; nothing when the first field holds no ":".
std::optional<ListerRecord> parseListerRecord(std::string_view record);

// The kind column from the lister's kind and table-style fields.
std::string partitionKindText(std::string_view kind, std::string_view style);

// True when a total-size text such as 0.10GB is below 0.2 (within 1e-7 counts as equal).
bool isTooSmall(std::string_view totalText);

// Runs the lister, empties the list and adds one row per partition line, with its
// icon, marking unusable partitions in red through the registry. Returns the
// lister's other lines, as it wrote them: what it could not read (a disk without a
// medium, a damaged partition table), for the user to see. `risks`, when given, is
// replaced by the risks of the partitions listed, by disk:partition.
std::vector<std::string> fillPartitionList(platform::Platform& os, const std::string& listerPath, ui::Control& list,
                                           CellColourRegistry& colours,
                                           std::map<std::string, PartitionRisks>* risks = nullptr);

// Runs the lister again and returns its partition rows as the list would show them.
std::vector<core::ListedPartition> listPartitions(platform::Platform& os, const std::string& listerPath);

}  // namespace disks

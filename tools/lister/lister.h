// The disk lister (pzdir -tavrin): one TAB-separated line per partition, in the
// templates the program's partition list reads.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/common/console_out.h"
#include "tools/common/disk.h"
#include "tools/common/fs.h"

namespace lister {

struct PartitionLine {
  int disk = 0;       // physical drive number + 1
  int partition = 0;  // as the system numbers it
  std::string letter;  // "C:" or empty
  std::uint64_t totalBytes = 0;
  std::optional<std::uint64_t> freeBytes;  // nothing: "unknown"
  std::string kind;        // Primary, Logical, EFI, MSR, Recovery
  std::string fileSystem;  // NTFS, FAT32, exFAT, RAW ...
  std::string label;       // in the output's code page
  std::string style;       // MBR or GPT
  unsigned typeNumber = 0;  // the MBR partition type; 0 on GPT
  // Appended as one more field only when there is one: BitLocker, Hibernated, Dirty
  // joined by commas. Readers of the nine fields before it never see it.
  fs::Risks risks;
};

// "BitLocker,Hibernated,Dirty", the words of the risks found; empty for none.
std::string riskWords(const fs::Risks& risks);

struct DynamicVolumeLine {
  std::string letter;
  std::uint64_t totalBytes = 0;
  std::optional<std::uint64_t> freeBytes;
  std::string fileSystem;
  std::string label;
};

std::string formatLine(const PartitionLine& line);
std::string formatLine(const DynamicVolumeLine& line);

// Kind word of a partition: Primary or Logical on MBR, and for system partitions a
// word of their own (EFI, MSR, Recovery); nothing for dynamic-disk partitions, which
// are listed as volumes instead.
std::optional<std::string> kindWord(disk::TableStyle style, const disk::Partition& partition);
const char* styleWord(disk::TableStyle style);

// True for the switches the program passes ("-tavrin", any letter case) or none.
bool acceptsArguments(const std::vector<std::string>& arguments);

// Diagnostics go to stderr, which the program captures together with stdout: a ':'
// would make a line look like a partition, so it is written as a full-width colon.
std::string diagnosticText(std::string_view text);

// The lister's own words, before diagnosticText: the usage, and what could not be
// read on a disk or a partition.
std::string usageLine();
// Writes diagnosticText(text) and CR LF to stderr.
void printDiagnostic(const std::string& text);
std::string diskProblem(int disk, const disk::Error& error);
std::string partitionProblem(int disk, int partition, const disk::Error& error);

// Lists the disks of `disks` through our own table and file-system readers (the
// Linux and simulated builds: no letters). `toOutput` turns a UTF-8 label into the
// output's code page. Returns false when some disk could not be read.
bool listDisks(disk::DiskSet& disks, toolio::LineSink& out, const std::function<void(const std::string&)>& diagnostic,
               const std::function<std::string(const std::string&)>& toOutput);

// What the system says about the volume on one partition (the shipped build).
struct VolumeFacts {
  std::string letter;      // "C:" or empty
  std::string fileSystem;  // empty: the system did not recognise it
  std::string label;
  std::optional<std::uint64_t> freeBytes;
};

// What our own readers find on a partition the system did not mount.
struct OwnReading {
  std::string fileSystem;
  std::string label;
  std::optional<std::uint64_t> freeBytes;
};

struct SystemDisk {
  int number = 0;  // physical drive number + 1
  disk::Layout layout;
};

// The shipped lister's lines: each partition with the facts of its volume, keyed by
// (physical drive number, partition number), or with our own reading where the
// system has none, and the risks our readers find on every partition; then the
// dynamic volumes.
using PartitionReader = std::function<OwnReading(const SystemDisk&, const disk::Partition&)>;
using RiskReader = std::function<fs::Risks(const SystemDisk&, const disk::Partition&)>;
std::vector<std::string> systemLines(const std::vector<SystemDisk>& disks,
                                     const std::map<std::pair<unsigned long, unsigned long>, VolumeFacts>& volumes,
                                     const std::vector<DynamicVolumeLine>& dynamicVolumes, const PartitionReader& readOwn,
                                     const RiskReader& readRisks);

// The whole program over a set of image disks; the exit code.
int runOnImages(const std::vector<std::string>& arguments, disk::DiskSet& disks,
                const std::function<std::string(const std::string&)>& toOutput);

}  // namespace lister

#include "tools/bootice/bootice.h"

#include "tools/bootice/args.h"
#include "tools/bootice/boot_records.h"

namespace bootice {

namespace {

bool readSector(disk::Device& disk, std::uint64_t offset, Sector& sector) {
  return disk.read(offset, sector.data(), sector.size());
}

// Writes sector 0 and reads it back. The volume is locked when the system lets us;
// sector 0 lies outside every volume, so a volume held open by another program
// does not stop the write.
Result writeFirstSector(Target& target, const Sector& sector) {
  disk::Device& disk = target.disk();
  target.lockVolume();
  if (!disk.write(0, sector.data(), sector.size()) || !disk.flush()) return Result::WriteFailed;
  Sector readBack{};
  if (!readSector(disk, 0, readBack)) return Result::ReadBackFailed;
  if (readBack != sector) return Result::ReadBackDiffers;
  return Result::None;
}

// A file system written over the whole disk (as on some USB sticks) starts at sector 0,
// where its boot sector holds the volume's own parameters instead of a table.
bool hasPartitionTable(const disk::Layout& layout) {
  if (layout.style == disk::TableStyle::None) return false;
  for (const disk::Partition& partition : layout.partitions)
    if (partition.startByte == 0) return false;
  return true;
}

Result installMbr(Target& target, const disk::Layout& layout) {
  if (layout.style == disk::TableStyle::Gpt) return Result::GptHasNoMbr;
  if (!hasPartitionTable(layout)) return Result::NoTable;
  Sector sector{};
  if (!readSector(target.disk(), 0, sector)) return Result::MbrUnreadable;
  const Sector updated = withOurBootCode(sector);
  if (updated != sector) {
    if (Result written = writeFirstSector(target, updated); written != Result::None) return written;
  }
  return Result::MbrWritten;
}

Result activate(Target& target, const disk::Layout& layout, const disk::Partition& partition) {
  if (layout.style == disk::TableStyle::Gpt) return Result::GptHasNoActive;
  if (!hasPartitionTable(layout)) return Result::NoTable;
  if (partition.logical || partition.tableEntryOffset < kTableOffset ||
      partition.tableEntryOffset >= kTableOffset + 4 * kEntrySize)
    return Result::LogicalCannotBeActive;
  Sector sector{};
  if (!readSector(target.disk(), 0, sector)) return Result::TableUnreadable;
  const int index = int((partition.tableEntryOffset - kTableOffset) / kEntrySize);
  const Sector updated = withActiveEntry(sector, index);
  if (updated != sector) {
    if (Result written = writeFirstSector(target, updated); written != Result::None) return written;
    target.tableChanged();
  }
  return Result::Activated;
}

// We carry no boot-sector code of others: the volume's own boot code must already
// load the requested loader, and we only say whether it does.
Result checkPbr(Target& target, const disk::Partition& partition, BootType type, Report& r) {
  disk::Device& disk = target.disk();
  Sector first{};
  if (!readSector(disk, partition.startByte, first)) return Result::PbrUnreadable;
  std::size_t sectors = bootAreaSectors(first);
  while (sectors > 1 && std::uint64_t(sectors) * kSectorSize > partition.lengthBytes) --sectors;
  std::vector<std::uint8_t> area(sectors * kSectorSize);
  if (!disk.read(partition.startByte, area.data(), area.size())) return Result::PbrUnreadable;
  const BootAreaFacts facts = inspectBootArea(area);
  r.loader = loaderName(type);
  r.fileSystem = facts.fileSystem.empty() ? std::string("未知") : facts.fileSystem;
  if (facts.blank) return Result::PbrBlank;
  if (!facts.hasBootMark) return Result::PbrNoMark;
  const bool loadsWanted = type == BootType::Ntldr ? facts.namesNtldr : facts.namesBootmgr;
  if (loadsWanted) return Result::PbrLoadsIt;
  const bool loadsOther = type == BootType::Ntldr ? facts.namesBootmgr : facts.namesNtldr;
  r.other = type == BootType::Ntldr ? "BOOTMGR" : "NTLDR";
  return loadsOther ? Result::PbrLoadsOther : Result::PbrForeign;
}

}  // namespace

int runBootice(const std::vector<std::string>& args, Backend& backend, toolio::LineSink& out) {
  const ParseResult parsed = parseCommandLine(args);
  if (!parsed.ok) {
    out.line(parsed.error);
    for (const std::string& line : usageLines()) out.line(line);
    return 2;
  }
  const Command& command = parsed.command;
  Report r = report(Result::None, command.device);
  std::unique_ptr<Target> target = backend.open(command.device, r);
  disk::Layout layout;
  disk::Error error;
  if (!target) {
    // the backend said why
  } else if (!disk::readLayout(target->disk(), layout, error)) {
    r.result = Result::LayoutUnreadable;
    r.detail = disk::describe(error);
  } else if (const disk::Partition* partition = layout.find(target->partitionNumber()); !partition) {
    r.result = Result::PartitionNotFound;
  } else {
    switch (command.action) {
      case Action::InstallMbr: r.result = installMbr(*target, layout); break;
      case Action::Activate: r.result = activate(*target, layout, *partition); break;
      case Action::InstallPbr: r.result = checkPbr(*target, *partition, command.type, r); break;
    }
  }
  out.line(lineOf(r));
  return r.ok() ? 0 : 1;
}

}  // namespace bootice

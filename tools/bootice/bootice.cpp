#include "tools/bootice/bootice.h"

#include "tools/bootice/args.h"
#include "tools/bootice/boot_records.h"

namespace bootice {

namespace {

// The outcome of one operation: its success line, or an error line.
struct Outcome {
  bool ok = false;
  std::string line;
};

Outcome failed(std::string text) { return {false, "错误: " + std::move(text)}; }
Outcome done(std::string text) { return {true, std::move(text)}; }

bool readSector(disk::Device& disk, std::uint64_t offset, Sector& sector) {
  return disk.read(offset, sector.data(), sector.size());
}

// Writes sector 0 and reads it back. The volume is locked when the system lets us;
// sector 0 lies outside every volume, so a volume held open by another program
// does not stop the write.
Outcome writeFirstSector(Target& target, const Sector& sector) {
  disk::Device& disk = target.disk();
  target.lockVolume();
  if (!disk.write(0, sector.data(), sector.size()) || !disk.flush())
    return failed("写入磁盘失败(磁盘可能被写保护或拒绝访问)。");
  Sector readBack{};
  if (!readSector(disk, 0, readBack)) return failed("写入后无法读回磁盘的第一个扇区,请检查磁盘。");
  if (readBack != sector) return failed("写入后读回的内容与写入的不一致,磁盘可能已损坏。");
  return done("");
}

// A file system written over the whole disk (as on some USB sticks) starts at sector 0,
// where its boot sector holds the volume's own parameters instead of a table.
bool hasPartitionTable(const disk::Layout& layout) {
  if (layout.style == disk::TableStyle::None) return false;
  for (const disk::Partition& partition : layout.partitions)
    if (partition.startByte == 0) return false;
  return true;
}

Outcome noTable(const std::string& device) {
  return failed(device + " 所在的磁盘没有分区表(整个磁盘就是一个卷),写入会破坏其上的文件系统,未做任何修改。");
}

Outcome installMbr(Target& target, const disk::Layout& layout, const std::string& device) {
  if (layout.style == disk::TableStyle::Gpt)
    return failed(device + " 位于 GPT 磁盘上,GPT 磁盘不使用主引导记录,未做任何修改。");
  if (!hasPartitionTable(layout)) return noTable(device);
  Sector sector{};
  if (!readSector(target.disk(), 0, sector)) return failed("读取磁盘的主引导记录失败。");
  const Sector updated = withOurBootCode(sector);
  if (updated != sector) {
    Outcome written = writeFirstSector(target, updated);
    if (!written.ok) return written;
  }
  return done("已写入 " + device + " 所在磁盘的主引导记录,分区表和磁盘签名保持不变。");
}

Outcome activate(Target& target, const disk::Layout& layout, const disk::Partition& partition,
                 const std::string& device) {
  if (layout.style == disk::TableStyle::Gpt)
    return failed(device + " 位于 GPT 磁盘上,GPT 磁盘没有活动分区,未做任何修改。");
  if (!hasPartitionTable(layout)) return noTable(device);
  if (partition.logical || partition.tableEntryOffset < kTableOffset ||
      partition.tableEntryOffset >= kTableOffset + 4 * kEntrySize)
    return failed(device + " 是扩展分区中的逻辑分区,只有主分区可以设为活动分区,未做任何修改。");
  Sector sector{};
  if (!readSector(target.disk(), 0, sector)) return failed("读取磁盘的分区表失败。");
  const int index = int((partition.tableEntryOffset - kTableOffset) / kEntrySize);
  const Sector updated = withActiveEntry(sector, index);
  if (updated != sector) {
    Outcome written = writeFirstSector(target, updated);
    if (!written.ok) return written;
    target.tableChanged();
  }
  return done("已将 " + device + " 设为活动分区。");
}

// We carry no boot-sector code of others: the volume's own boot code must already
// load the requested loader, and we only say whether it does.
Outcome checkPbr(Target& target, const disk::Partition& partition, BootType type, const std::string& device) {
  disk::Device& disk = target.disk();
  Sector first{};
  if (!readSector(disk, partition.startByte, first)) return failed("读取 " + device + " 的分区引导扇区失败。");
  std::size_t sectors = bootAreaSectors(first);
  while (sectors > 1 && std::uint64_t(sectors) * kSectorSize > partition.lengthBytes) --sectors;
  std::vector<std::uint8_t> area(sectors * kSectorSize);
  if (!disk.read(partition.startByte, area.data(), area.size()))
    return failed("读取 " + device + " 的分区引导扇区失败。");
  const BootAreaFacts facts = inspectBootArea(area);
  const std::string wanted = loaderName(type);
  const std::string fileSystem = facts.fileSystem.empty() ? std::string("未知") : facts.fileSystem;
  if (facts.blank) return failed(device + " 的分区引导扇区是空的(分区可能未格式化),无法加载 " + wanted + "。");
  if (!facts.hasBootMark)
    return failed(device + " 的分区引导扇区无效(缺少 55AA 标记),文件系统: " + fileSystem + ",无法加载 " + wanted +
                  "。");
  const bool loadsWanted = type == BootType::Ntldr ? facts.namesNtldr : facts.namesBootmgr;
  if (loadsWanted) return done(device + " 的分区引导记录(" + fileSystem + ")加载 " + wanted + ",无需改写。");
  const bool loadsOther = type == BootType::Ntldr ? facts.namesBootmgr : facts.namesNtldr;
  const std::string other = type == BootType::Ntldr ? "BOOTMGR" : "NTLDR";
  if (loadsOther)
    return failed(device + " 的分区引导记录(" + fileSystem + ")加载的是 " + other + ",不是 " + wanted +
                  ",未做任何修改。请用对应版本的 Windows 重新格式化该分区。");
  return failed(device + " 的分区引导记录(" + fileSystem + ")不是 Windows 引导代码,不会加载 " + wanted +
                ",未做任何修改。请用 Windows 重新格式化该分区。");
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
  std::string error;
  std::unique_ptr<Target> target = backend.open(command.device, error);
  if (!target) {
    out.line(error);
    return 1;
  }
  disk::Layout layout;
  if (!disk::readLayout(target->disk(), layout, error)) {
    out.line("错误: " + error + "未做任何修改。");
    return 1;
  }
  const disk::Partition* partition = layout.find(target->partitionNumber());
  Outcome outcome;
  if (!partition) {
    outcome = failed("在磁盘的分区表中找不到 " + command.device + " 所在的分区,未做任何修改。");
  } else {
    switch (command.action) {
      case Action::InstallMbr:
        outcome = installMbr(*target, layout, command.device);
        break;
      case Action::Activate:
        outcome = activate(*target, layout, *partition, command.device);
        break;
      case Action::InstallPbr:
        outcome = checkPbr(*target, *partition, command.type, command.device);
        break;
    }
  }
  out.line(outcome.line);
  return outcome.ok ? 0 : 1;
}

}  // namespace bootice

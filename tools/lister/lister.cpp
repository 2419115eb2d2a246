#include "tools/lister/lister.h"

#include <cstdio>
#include <iostream>

#include "tools/common/fs.h"

namespace lister {
namespace {

std::string gigabytes(std::uint64_t bytes) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2lfGB", static_cast<double>(bytes) / 1073741824.0);
  return text;
}

// A label must not break the line: TAB, CR and LF become blanks.
std::string fieldText(std::string text) {
  for (char& c : text)
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  return text;
}

}  // namespace

std::string formatLine(const PartitionLine& l) {
  std::string line = std::to_string(l.disk) + ":" + std::to_string(l.partition) + "\t" + l.letter + "\t" +
                     gigabytes(l.totalBytes) + "\t" + (l.freeBytes ? gigabytes(*l.freeBytes) : "unknown") + "\t" +
                     fieldText(l.kind) + "\t" + fieldText(l.fileSystem) + "\t" + fieldText(l.label) + "\t" + l.style +
                     "\t" + std::to_string(l.typeNumber);
  const std::string risks = riskWords(l.risks);
  if (!risks.empty()) line += "\t" + risks;
  return line;
}

std::string formatLine(const DynamicVolumeLine& l) {
  return "  \t" + l.letter + "\t" + gigabytes(l.totalBytes) + "\t" +
         (l.freeBytes ? gigabytes(*l.freeBytes) : "unknown") + "\tDynamic\t" + fieldText(l.fileSystem) + "\t" +
         fieldText(l.label);
}

std::string riskWords(const fs::Risks& risks) {
  std::string words;
  auto add = [&](bool on, const char* word) {
    if (!on) return;
    if (!words.empty()) words += ',';
    words += word;
  };
  add(risks.bitLocker, "BitLocker");
  add(risks.hibernated, "Hibernated");
  add(risks.dirty, "Dirty");
  return words;
}

std::optional<std::string> kindWord(disk::TableStyle style, const disk::Partition& p) {
  if (style == disk::TableStyle::Gpt) {
    switch (disk::gptKindOf(p.gptType)) {
      case disk::GptKind::Esp: return "EFI";
      case disk::GptKind::Msr: return "MSR";
      case disk::GptKind::Recovery: return "Recovery";
      case disk::GptKind::LdmMetadata:
      case disk::GptKind::LdmData: return std::nullopt;
      default: return "Primary";
    }
  }
  if (p.mbrType == 0x42) return std::nullopt;
  if (p.mbrType == 0xEF) return "EFI";
  if (p.mbrType == 0x27) return "Recovery";
  return p.logical ? "Logical" : "Primary";
}

const char* styleWord(disk::TableStyle style) {
  return style == disk::TableStyle::Gpt ? "GPT" : style == disk::TableStyle::Mbr ? "MBR" : "RAW";
}

bool acceptsArguments(const std::vector<std::string>& arguments) {
  for (const std::string& a : arguments) {
    std::string lower;
    for (char c : a) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (lower != "-tavrin") return false;
  }
  return true;
}

std::string diagnosticText(std::string_view text) {
  std::string out;
  for (char c : text) {
    // GBK trail bytes start at 0x40, so a ':' byte is always a colon.
    if (c == ':') {
      out += "：";
    } else if (c == '\t' || c == '\r' || c == '\n') {
      out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

void printDiagnostic(const std::string& text) {
  std::string line = diagnosticText(text) + "\r\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

std::string usageLine() { return "用法: pzdir -tavrin"; }

std::string diskProblem(int disk, const disk::Error& error) {
  return "磁盘 " + std::to_string(disk) + ": " + disk::describe(error);
}

std::string partitionProblem(int disk, int partition, const disk::Error& error) {
  return "分区 " + std::to_string(disk) + ":" + std::to_string(partition) + ": " + disk::describe(error);
}

bool listDisks(disk::DiskSet& disks, toolio::LineSink& out, const std::function<void(const std::string&)>& diagnostic,
               const std::function<std::string(const std::string&)>& toOutput) {
  bool allRead = true;
  for (int number : disks.diskNumbers()) {
    disk::Error error;
    auto device = disks.open(number, false, error);
    disk::Layout layout;
    if (!device || !disk::readLayout(*device, layout, error)) {
      diagnostic(diskProblem(number, error));
      allRead = false;
      continue;
    }
    for (const disk::Partition& p : layout.partitions) {
      auto kind = kindWord(layout.style, p);
      if (!kind) continue;  // a dynamic disk's partition: its volumes are not readable here
      PartitionLine line;
      line.disk = number;
      line.partition = p.number;
      line.totalBytes = p.lengthBytes;
      line.kind = *kind;
      line.style = styleWord(layout.style);
      line.typeNumber = layout.style == disk::TableStyle::Mbr ? p.mbrType : 0;
      disk::PartitionDevice window(*device, p.startByte, p.lengthBytes);
      fs::Volume volume;
      if (fs::Volume::open(window, volume, error)) {
        line.freeBytes = volume.freeBytes();
        line.label = toOutput(volume.label());
      } else {
        diagnostic(partitionProblem(number, p.number, error));
      }
      line.fileSystem = fs::kindName(volume.kind());
      line.risks = fs::readRisks(window);
      out.line(formatLine(line));
    }
  }
  return allRead;
}

std::vector<std::string> systemLines(const std::vector<SystemDisk>& disks,
                                     const std::map<std::pair<unsigned long, unsigned long>, VolumeFacts>& volumes,
                                     const std::vector<DynamicVolumeLine>& dynamicVolumes, const PartitionReader& readOwn,
                                     const RiskReader& readRisks) {
  std::vector<std::string> lines;
  for (const SystemDisk& d : disks) {
    for (const disk::Partition& p : d.layout.partitions) {
      auto kind = kindWord(d.layout.style, p);
      if (!kind) continue;  // a dynamic disk's partition: listed through its volumes
      PartitionLine line;
      line.disk = d.number;
      line.partition = p.number;
      line.totalBytes = p.lengthBytes;
      line.kind = *kind;
      line.style = styleWord(d.layout.style);
      line.typeNumber = d.layout.style == disk::TableStyle::Mbr ? p.mbrType : 0;
      auto found = volumes.find({static_cast<unsigned long>(d.number - 1), static_cast<unsigned long>(p.number)});
      if (found != volumes.end()) {
        line.letter = found->second.letter;
        line.fileSystem = found->second.fileSystem;
        line.label = found->second.label;
        line.freeBytes = found->second.freeBytes;
      }
      if (line.fileSystem.empty()) {
        // Not mounted (an ESP, a hidden partition) or not recognised: read it ourselves.
        OwnReading own = readOwn(d, p);
        line.fileSystem = own.fileSystem;
        line.label = own.label;
        line.freeBytes = own.freeBytes;
      }
      line.risks = readRisks(d, p);
      lines.push_back(formatLine(line));
    }
  }
  for (const DynamicVolumeLine& line : dynamicVolumes) lines.push_back(formatLine(line));
  return lines;
}

int runOnImages(const std::vector<std::string>& arguments, disk::DiskSet& disks,
                const std::function<std::string(const std::string&)>& toOutput) {
  if (!acceptsArguments(arguments)) {
    printDiagnostic(usageLine());
    return 2;
  }
  toolio::ConsoleOut out;
  return listDisks(disks, out, printDiagnostic, toOutput) ? 0 : 1;
}

}  // namespace lister
